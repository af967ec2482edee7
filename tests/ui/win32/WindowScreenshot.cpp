// A picture of the updater window for the documentation: the real dialog in the middle of an
// update against the virtual unit, copied from the screen and written as a PNG. It needs a display
// (Wine's X11 driver on a virtual X server, see window-screenshot.sh) and fails when the picture
// comes out blank. Usage: <program> <file.png>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "PngFile.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "platform/timer/TimerServices.h"
#include "ui/DialogRig.h"
#include "ui/OwnerNotices.h"
#include "ui/win32/Win32UpdaterDialog.h"
#include "unit/VirtualUnit.h"

namespace {

using namespace std::chrono_literals;

// The window as the screen shows it, top row first, three bytes a pixel.
bool Capture(HWND window, int* width, int* height, std::vector<uint8_t>* rgb) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  RECT frame;
  GetWindowRect(window, &frame);
  *width = frame.right - frame.left;
  *height = frame.bottom - frame.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = *width;
  info.bmiHeader.biHeight = -*height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (bitmap != nullptr) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    copied = BitBlt(memory, 0, 0, *width, *height, screen, frame.left, frame.top, SRCCOPY) != 0;
    GdiFlush();
    rgb->clear();
    const auto* pixels = static_cast<const uint8_t*>(bits);
    for (int i = 0; i < *width * *height; ++i) {
      rgb->push_back(pixels[4 * i + 2]);
      rgb->push_back(pixels[4 * i + 1]);
      rgb->push_back(pixels[4 * i + 0]);
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return copied;
}

// A window drawn with its texts, lists and bar has many colours; a blank capture has one or two.
size_t DistinctColours(const std::vector<uint8_t>& rgb) {
  std::set<uint32_t> colours;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    colours.insert(uint32_t{rgb[i]} << 16 | uint32_t{rgb[i + 1]} << 8 | rgb[i + 2]);
  return colours.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);

  kv5::LoopbackMidi midi;
  kv5::UnitConfig config;
  config.pacing.perWrite = std::chrono::microseconds(3000);  // slow enough to be caught mid-way
  kv5::VirtualUnit unit(midi.AddDevice("TELVOR Q9"), config);
  unit.Start();
  auto timer = kv5::MakeSystemTimerServices();
  kv5::Win32UpdaterDialog dialog(midi, *timer, 1, kv5::FastTiming());
  std::string failure = "the window did not appear";
  {
    kv5::DriverThread driver(
        [&] { return dialog.Window(); },
        [&](kv5::DialogDriver& window) {
          window.Click(1);
          // A test-package build asks first; the picture is of the update.
          kv5::FoundBox question;
          if (window.WaitForBox(kv5::kTestPackageQuestionCaption, 10s, &question))
            kv5::DialogDriver::Answer(question, IDYES);
          // The SYSTEM image under way: step counter, status line and bar all
          // show something.
          if (!kv5::DialogDriver::WaitUntil(
                  [&] {
                    const int pos =
                        static_cast<int>(SendMessageA(window.Control(1002), PBM_GETPOS, 0, 0));
                    return window.Text(1006) == "7/10" && pos > 300000;
                  },
                  120s)) {
            failure = "the update did not reach the SYSTEM image";
          } else {
            int width = 0, height = 0;
            std::vector<uint8_t> rgb;
            if (!Capture(window.Dialog(), &width, &height, &rgb))
              failure = "the screen could not be copied";
            else if (DistinctColours(rgb) < 16)
              failure = "the picture is blank: no display?";
            else if (!kv5::WritePng(path, width, height, rgb))
              failure = "could not write " + path;
            else
              failure.clear();
          }
          window.Click(IDCANCEL);
        });
    dialog.DoModal();
  }
  if (!failure.empty()) {
    std::fprintf(stderr, "%s\n", failure.c_str());
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}
