// The updater dialog as Windows builds it from template 103, read back control by control, and
// the dialog's own behaviour without MIDI devices (Wine has none).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Win32WindowRig.h"
#include "platform/midi/winmm/WinmmMidi.h"
#include "ui/InstanceNames.h"

#include <mmsystem.h>

namespace kv5 {
namespace {

using namespace std::chrono_literals;

std::string ClassName(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string Text(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

struct ControlLayout {
  int id;
  const char* className;
  const char* text;
  int x, y, width, height;
  DWORD styleOn;   // bits that must be set
  DWORD styleOff;  // bits that must be clear
};

// The window made from template 103, in tab order: id, class, caption, position and size in
// dialog units, and the style bits that stay as the template set them (the dialog manager moves
// the default-button style with the focus, a combo box hands its scroll bar to its list, and the
// progress bar trades its border for an edge; Win32ResourcesTest checks the template itself).
const std::vector<ControlLayout> kTemplate = {
    {1, "Button", "Execute", 119, 138, 50, 16, WS_TABSTOP, WS_DISABLED},
    {2, "Button", "Exit", 182, 138, 50, 16, WS_TABSTOP, BS_DEFPUSHBUTTON | WS_DISABLED},
    {0xFFFF, "Static", "MIDI IN", 7, 7, 225, 8, WS_GROUP, SS_CENTER | SS_RIGHT},
    {0xFFFF, "Static", "MIDI OUT", 7, 37, 225, 8, WS_GROUP, SS_CENTER | SS_RIGHT},
    {1000, "ComboBox", "", 7, 15, 225, 115, CBS_DROPDOWNLIST | WS_TABSTOP, CBS_SORT | WS_DISABLED},
    {1001, "ComboBox", "", 7, 45, 225, 115, CBS_DROPDOWNLIST | WS_TABSTOP, CBS_SORT | WS_DISABLED},
    {1002, "msctls_progress32", "", 7, 107, 225, 14, 0, PBS_SMOOTH | WS_DISABLED},
    {1003, "Edit", "", 12, 91, 220, 12, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP,
     WS_BORDER | WS_DISABLED},
    {1004, "Button", "Rescan Device", 145, 65, 87, 16, WS_TABSTOP, WS_DISABLED},
    {1005, "Static", "", 7, 134, 20, 20, SS_BITMAP, WS_DISABLED},
    {1006, "Edit", "", 12, 78, 29, 12, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP,
     WS_BORDER | WS_DISABLED},
    {1007, "Button", "Version Check", 26, 140, 62, 14, WS_TABSTOP, BS_DEFPUSHBUTTON | WS_DISABLED},
};

TEST(Win32Dialog, TemplateBuildsTheWindowControlByControl) {
  auto midi = MakeNoMidiBackend();
  Win32WindowRig rig(*midi);
  const INT_PTR result = rig.Run([](DialogDriver& driver) {
    HWND dialog = driver.Dialog();
    EXPECT_EQ(driver.Title(), "TELVOR Q9 System v1.20 Updater");
    EXPECT_EQ(ClassName(dialog), "#32770");

    const LONG_PTR style = GetWindowLongPtrA(dialog, GWL_STYLE);
    for (LONG_PTR bit : {LONG_PTR{WS_POPUP}, LONG_PTR{WS_CAPTION}, LONG_PTR{WS_SYSMENU},
                         LONG_PTR{WS_VISIBLE}, LONG_PTR{DS_MODALFRAME}})
      EXPECT_EQ(style & bit, bit) << std::hex << bit;
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    EXPECT_NE(GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_TRUE(SameRect(client, DialogUnits(dialog, 0, 0, 239, 161)));

    // The children in template order, which is the tab order.
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const ControlLayout& control : kTemplate) {
      ASSERT_NE(child, nullptr) << "missing control " << control.id;
      SCOPED_TRACE("control " + std::to_string(control.id) + " " + control.text);
      EXPECT_EQ(GetDlgCtrlID(child) & 0xFFFF, control.id);
      EXPECT_EQ(ClassName(child), control.className);
      EXPECT_EQ(Text(child), control.text);
      const DWORD childStyle = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
      EXPECT_EQ(childStyle & control.styleOn, control.styleOn) << std::hex << childStyle;
      EXPECT_EQ(childStyle & control.styleOff, 0u) << std::hex << childStyle;
      RECT expected = DialogUnits(dialog, control.x, control.y, control.width, control.height);
      RECT actual = ClientRectOf(child);
      if (control.id == 1000 || control.id == 1001) {
        // A drop-down list's template height is its height with the list dropped, which the
        // list trims to whole entries.
        SendMessageA(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&actual));
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        const RECT closed = ClientRectOf(child);
        EXPECT_LE(actual.bottom, expected.bottom);
        EXPECT_GT(actual.bottom, closed.bottom);
        expected.bottom = actual.bottom;
      }
      EXPECT_TRUE(SameRect(actual, expected))
          << actual.left << "," << actual.top << "," << actual.right << "," << actual.bottom
          << " expected " << expected.left << "," << expected.top << "," << expected.right << ","
          << expected.bottom;
      child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);

    // Everything enabled, nothing shown yet, the bar's range 0..100.
    EXPECT_EQ(driver.ControlState(), kReady);
    EXPECT_EQ(driver.Text(1003), "");
    EXPECT_EQ(driver.Text(1006), "");
    PBRANGE range{};
    SendMessageA(driver.Control(1002), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);

    // The About entry after a separator at the end of the system menu.
    HMENU menu = GetSystemMenu(dialog, FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), IDM_ABOUTBOX);
    char entry[64] = {};
    GetMenuStringA(menu, count - 1, entry, sizeof entry, MF_BYPOSITION);
    EXPECT_STREQ(entry, "About TELVOR Q5 Updater(&A)...");
    MENUITEMINFOA separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    GetMenuItemInfoA(menu, count - 2, TRUE, &separator);
    EXPECT_NE(separator.fType & MFT_SEPARATOR, 0u);

    // The program's icon, big and small.
    EXPECT_NE(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_NE(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0), 0);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(rig.dialog.Window(), nullptr);
}

TEST(Win32Dialog, WithoutMidiDevicesTheListsStayEmptyAndOpeningFails) {
  // Wine here has no MIDI devices at all: the winmm backend reports none.
  ASSERT_EQ(midiInGetNumDevs(), 0u);
  ASSERT_EQ(midiOutGetNumDevs(), 0u);
  auto midi = OpenWinmmMidi();
  Win32WindowRig rig(*midi);
  rig.Run([](DialogDriver& driver) {
    EXPECT_TRUE(driver.ListEntries(1000).empty());
    EXPECT_TRUE(driver.ListEntries(1001).empty());
    EXPECT_EQ(driver.Selection(1000), CB_ERR);
    EXPECT_EQ(driver.Selection(1001), CB_ERR);

    for (int button : {1, 1007}) {
      SCOPED_TRACE("button " + std::to_string(button));
      driver.Click(button);
      FoundBox box;
      ASSERT_TRUE(driver.WaitForBox("Error", 10s, &box));
      EXPECT_EQ(box.text, "Can't open MIDI Out device.");
      EXPECT_EQ(box.icon, LoadIconA(nullptr, MAKEINTRESOURCEA(32513)));  // IDI_ERROR
      EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
      // The box is modal over the dialog.
      EXPECT_EQ(GetWindow(box.window, GW_OWNER), driver.Dialog());
      EXPECT_FALSE(IsWindowEnabled(driver.Dialog()));
      DialogDriver::Dismiss(box);
      ASSERT_TRUE(DialogDriver::WaitUntil([&] { return !IsWindow(box.window); }, 10s));
      EXPECT_EQ(driver.ControlState(), kReady);
    }
    driver.Click(1004);
    EXPECT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kReady; }, 5s));
    EXPECT_TRUE(driver.ListEntries(1001).empty());
  });
}

TEST(Win32Dialog, SystemMenuCommandsOpenTheAboutBox) {
  auto midi = MakeNoMidiBackend();
  Win32WindowRig rig(*midi, 3);
  rig.Run([](DialogDriver& driver) {
    EXPECT_EQ(driver.Title(), "TELVOR Q9 System v1.20 Updater (3)");
    for (WPARAM command : {WPARAM{0x0010}, WPARAM{0x001F}}) {
      SCOPED_TRACE(command);
      driver.Post(WM_SYSCOMMAND, command, 0);
      FoundBox box;
      ASSERT_TRUE(driver.WaitForBox("About TELVOR Q5 Updater", 10s, &box));
      // The product's name whatever the instance, in the box of template 100.
      EXPECT_EQ(Text(GetDlgItem(box.window, 1003)), kProductTitle);
      RECT client;
      GetClientRect(box.window, &client);
      EXPECT_TRUE(SameRect(client, DialogUnits(box.window, 0, 0, 235, 60)));
      EXPECT_TRUE(SameRect(ClientRectOf(GetDlgItem(box.window, IDOK)),
                           DialogUnits(box.window, 178, 6, 50, 16)));
      EXPECT_EQ(Text(GetDlgItem(box.window, IDOK)), "OK");
      EXPECT_EQ(GetWindow(box.window, GW_OWNER), driver.Dialog());
      DialogDriver::Dismiss(box);
      ASSERT_TRUE(DialogDriver::WaitUntil([&] { return !IsWindow(box.window); }, 10s));
    }
  });
}

}  // namespace
}  // namespace kv5
