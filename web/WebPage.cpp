// The page's program: the dialog over the Web MIDI backend and the page's view, started once the
// browser has granted MIDI access, and the entries through which the page's script reaches it.
// Every entry is a turn of the browser's; the dialog's handlers run on the page's
// user-interface thread, in the order the user gave them.
#include <emscripten.h>

#include <memory>
#include <string>

#include "firmware/FirmwarePackage.h"
#include "platform/event/web/BrowserTurn.h"
#include "platform/midi/webmidi/WebMidi.h"
#include "platform/timer/TimerServices.h"
#include "ui/CKv5UpdatorDlg.h"
#include "web/PageBrowser.h"
#include "web/PageThread.h"
#include "web/RefusedChunkWatch.h"
#include "web/SessionRecord.h"
#include "web/WebDialogView.h"

namespace kv5 {
namespace {

// The page is always the first instance: its title has no number and it preselects the plain
// names. (Two tabs on one unit are kept apart by the backend's device locks.)
constexpr int kInstanceIndex = 1;
constexpr const char* kLogPath = "/kv5update-session.log";

struct Page {
  Page()
      : watch([](uint32_t address, int attempts) { kv5_page_refused_chunk(address, attempts); }),
        record(kLogPath, "kv5update web page " KV5_VERSION, watch),
        view(thread, record),
        midi(OpenWebMidi()),
        timer(MakeSystemTimerServices()) {}

  // On the page's thread.
  void Start() {
    dialog = std::make_unique<CKv5UpdatorDlg>(view, *midi, *timer, kInstanceIndex);
    dialog->SetTrafficTap(&record);
    dialog->OnInitDialog();
  }

  std::string Selected(int list) const { return view.GetLBText(list, view.GetCurSel(list)); }

  void RunSession(SessionRecord::Command command) {
    // A busy dialog only says "In Progress."; nothing of a new session starts.
    if (!dialog->Busy()) {
      record.Begin(command, std::string("webmidi (") + BrowserName() + ")",
                   Selected(IDC_IN_DEVICE_LIST), Selected(IDC_OUT_DEVICE_LIST));
    }
    if (command == SessionRecord::Command::Update) {
      dialog->OnExecute();
    } else {
      dialog->OnVersionCheck();
    }
    if (!dialog->Busy()) record.NotStarted();
  }

  void Command(int id) {
    switch (id) {
      case IDC_EXECUTE:
        // The dialog asks before it writes the test package, as the desktop window does.
        RunSession(SessionRecord::Command::Update);
        break;
      case IDC_VERSION_CHECK:
        RunSession(SessionRecord::Command::Check);
        break;
      case IDC_RESCAN:
        dialog->OnRescanDevice();
        break;
      default:
        dialog->OnSysCommand(static_cast<uint32_t>(id));
        break;
    }
  }

  static const char* BrowserName();

  PageThread thread;
  RefusedChunkWatch watch;
  SessionRecord record;
  WebDialogView view;
  std::unique_ptr<MidiBackend> midi;
  std::unique_ptr<TimerServices> timer;
  std::unique_ptr<CKv5UpdatorDlg> dialog;
};

const char* Page::BrowserName() {
  static const char* const name = kv5_page_browser_name();
  return name;
}

// The page lives until the browser drops it; it is never torn down.
Page* page = nullptr;

}  // namespace
}  // namespace kv5

using kv5::page;

// MIDI access is granted and handed to the backend: the dialog starts.
extern "C" EMSCRIPTEN_KEEPALIVE void kv5_page_start() {
  kv5::RunBrowserTurn([] {
    if (page != nullptr) return;
    page = new kv5::Page;
    page->thread.Post([] { page->Start(); });
  });
}

// A button of the page: a control id, or the About command.
extern "C" EMSCRIPTEN_KEEPALIVE void kv5_page_command(int id) {
  kv5::RunBrowserTurn([id] {
    if (page != nullptr) page->thread.Post([id] { page->Command(id); });
  });
}

// The user picked a list entry (-1: none).
extern "C" EMSCRIPTEN_KEEPALIVE void kv5_page_select(int list, int index) {
  kv5::RunBrowserTurn([list, index] {
    if (page != nullptr) page->thread.Post([list, index] { page->view.UserSelected(list, index); });
  });
}

// Whether the module carries the synthetic test package: the page says so before it starts.
extern "C" EMSCRIPTEN_KEEPALIVE int kv5_page_test_package() {
  return kv5::IsTestPackage() ? 1 : 0;
}
