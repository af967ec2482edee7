// The program's resources as the resource compiler stored them: the two dialog templates field
// by field, the string table, the icon's nine images, the manifest and the firmware images.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/FirmwarePackage.h"
#include "session/StringTable.h"
#include "ui/win32/Resource.h"
#include "ui/win32/Win32.h"

namespace kv5 {
namespace {

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// A resource's bytes, or an empty view when the program has none of that type, id and language.
std::pair<const uint8_t*, DWORD> Resource(LPCSTR type, int id, WORD language = kEnglishUs) {
  HRSRC found = FindResourceExA(nullptr, type, MAKEINTRESOURCEA(id), language);
  if (found == nullptr) return {nullptr, 0};
  return {static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, found))),
          SizeofResource(nullptr, found)};
}

// Reads the fields of a DLGTEMPLATEEX and its items in order.
class TemplateReader {
 public:
  explicit TemplateReader(const uint8_t* bytes) : at_(bytes) {}
  WORD Word() { return Take<WORD>(); }
  DWORD Dword() { return Take<DWORD>(); }
  short Short() { return Take<short>(); }
  // A name or an ordinal: "#<n>" for an ordinal.
  std::string NameOrOrdinal() {
    if (Peek() == 0xFFFF) {
      Word();
      return "#" + std::to_string(Word());
    }
    return String();
  }
  std::string String() {
    std::string text;
    for (WORD c = Word(); c != 0; c = Word()) text += static_cast<char>(c < 0x80 ? c : '?');
    return text;
  }
  void AlignDword() {
    while (reinterpret_cast<uintptr_t>(at_) % 4 != 0) ++at_;
  }
  void Skip(size_t count) { at_ += count; }

 private:
  WORD Peek() const {
    WORD value;
    std::memcpy(&value, at_, sizeof value);
    return value;
  }
  template <typename T>
  T Take() {
    T value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  const uint8_t* at_;
};

struct Item {
  DWORD exStyle, style;
  short x, y, cx, cy;
  DWORD id;
  std::string className, title;
};

struct Template {
  DWORD exStyle, style;
  short x, y, cx, cy;
  std::string menu, className, title;
  WORD pointSize, weight;
  BYTE italic, charset;
  std::string typeface;
  std::vector<Item> items;
};

Template ReadTemplate(int id) {
  const auto [bytes, size] = Resource(RT_DIALOG, id);
  EXPECT_NE(bytes, nullptr) << "no dialog " << id;
  Template dialog{};
  if (bytes == nullptr) return dialog;
  TemplateReader in(bytes);
  EXPECT_EQ(in.Word(), 1);       // dlgVer
  EXPECT_EQ(in.Word(), 0xFFFF);  // an extended template
  in.Dword();                    // helpID
  dialog.exStyle = in.Dword();
  dialog.style = in.Dword();
  const WORD count = in.Word();
  dialog.x = in.Short();
  dialog.y = in.Short();
  dialog.cx = in.Short();
  dialog.cy = in.Short();
  dialog.menu = in.NameOrOrdinal();
  dialog.className = in.NameOrOrdinal();
  dialog.title = in.String();
  dialog.pointSize = in.Word();
  dialog.weight = in.Word();
  const WORD italicAndCharset = in.Word();
  dialog.italic = LOBYTE(italicAndCharset);
  dialog.charset = HIBYTE(italicAndCharset);
  dialog.typeface = in.String();
  for (WORD i = 0; i < count; ++i) {
    in.AlignDword();
    Item item{};
    in.Dword();  // helpID
    item.exStyle = in.Dword();
    item.style = in.Dword();
    item.x = in.Short();
    item.y = in.Short();
    item.cx = in.Short();
    item.cy = in.Short();
    item.id = in.Dword();
    item.className = in.NameOrOrdinal();
    item.title = in.NameOrOrdinal();
    const WORD extra = in.Word();
    in.Skip(extra);
    dialog.items.push_back(item);
  }
  return dialog;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Style words as the template must hold them: every control is a visible child.
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kDefButton = kChild | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kLabel = kChild | WS_GROUP | SS_LEFT;
constexpr DWORD kDeviceList = kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
constexpr DWORD kReadOnlyLine = kChild | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY;

void ExpectItem(const Item& item, DWORD id, const std::string& className, const std::string& title,
                short x, short y, short cx, short cy, DWORD style) {
  SCOPED_TRACE("control " + std::to_string(static_cast<int>(id)) + " " + title);
  EXPECT_EQ(item.id, id);
  // Class names match without regard to case; the resource compiler stores them upper-case.
  EXPECT_EQ(Upper(item.className), Upper(className));
  EXPECT_EQ(item.title, title);
  EXPECT_EQ(item.x, x);
  EXPECT_EQ(item.y, y);
  EXPECT_EQ(item.cx, cx);
  EXPECT_EQ(item.cy, cy);
  EXPECT_EQ(item.style, style) << std::hex << item.style << " expected " << style;
  EXPECT_EQ(item.exStyle, 0u);
}

const std::string kButtonClass = "#128", kEditClass = "#129", kStaticClass = "#130",
                  kComboClass = "#133";
constexpr DWORD kStaticId = 0xFFFFFFFF;

TEST(Win32Resources, UpdaterTemplateHoldsEveryFieldOfTheWindow) {
  const Template dialog = ReadTemplate(IDD_KV5UPDATOR_DIALOG);
  EXPECT_EQ(dialog.style, static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE |
                                             WS_CAPTION | WS_SYSMENU));
  EXPECT_EQ(dialog.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(dialog.cx, 239);
  EXPECT_EQ(dialog.cy, 161);
  EXPECT_EQ(dialog.title, "");
  EXPECT_EQ(dialog.menu, "");
  EXPECT_EQ(dialog.typeface, "MS UI Gothic");
  EXPECT_EQ(dialog.pointSize, 9);
  ASSERT_EQ(dialog.items.size(), 12u);
  const auto& c = dialog.items;
  ExpectItem(c[0], 1, kButtonClass, "Execute", 119, 138, 50, 16, kDefButton);
  ExpectItem(c[1], 2, kButtonClass, "Exit", 182, 138, 50, 16, kButton);
  ExpectItem(c[2], kStaticId, kStaticClass, "MIDI IN", 7, 7, 225, 8, kLabel);
  ExpectItem(c[3], kStaticId, kStaticClass, "MIDI OUT", 7, 37, 225, 8, kLabel);
  ExpectItem(c[4], 1000, kComboClass, "", 7, 15, 225, 115, kDeviceList);
  ExpectItem(c[5], 1001, kComboClass, "", 7, 45, 225, 115, kDeviceList);
  ExpectItem(c[6], 1002, "msctls_progress32", "", 7, 107, 225, 14, kChild | WS_BORDER);
  ExpectItem(c[7], 1003, kEditClass, "", 12, 91, 220, 12, kReadOnlyLine);
  ExpectItem(c[8], 1004, kButtonClass, "Rescan Device", 145, 65, 87, 16, kDefButton);
  ExpectItem(c[9], 1005, kStaticClass, "", 7, 134, 20, 20, kChild | SS_BITMAP);
  ExpectItem(c[10], 1006, kEditClass, "", 12, 78, 29, 12, kReadOnlyLine);
  ExpectItem(c[11], 1007, kButtonClass, "Version Check", 26, 140, 62, 14, kButton);
}

TEST(Win32Resources, AboutTemplateHoldsEveryFieldOfTheBox) {
  const Template about = ReadTemplate(IDD_ABOUTBOX);
  EXPECT_EQ(about.style,
            static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU));
  EXPECT_EQ(about.exStyle, 0u);
  EXPECT_EQ(about.cx, 235);
  EXPECT_EQ(about.cy, 60);
  EXPECT_EQ(about.title, "About TELVOR Q5 Updater");
  EXPECT_EQ(about.typeface, "MS UI Gothic");
  EXPECT_EQ(about.pointSize, 9);
  ASSERT_EQ(about.items.size(), 4u);
  const auto& c = about.items;
  ExpectItem(c[0], kStaticId, kStaticClass, "#128", 11, 17, 20, 20, kChild | SS_ICON);
  // The maker's notice; a build with the synthetic test package says so.
  EXPECT_EQ(c[1].title, IsTestPackage() ? "Synthetic test package: not firmware for a real unit."
                                        : "TELVOR Q9 firmware updater.");
  ExpectItem(c[1], kStaticId, kStaticClass, c[1].title, 40, 44, 188, 8, kLabel);
  ExpectItem(c[2], 1, kButtonClass, "OK", 178, 6, 50, 16, kDefButton | WS_GROUP);
  ExpectItem(c[3], 1003, kEditClass, "", 39, 19, 134, 14, kReadOnlyLine);
}

TEST(Win32Resources, StringTableHoldsTheTextsOfTheProgram) {
  HINSTANCE module = GetModuleHandleA(nullptr);
  for (int id = 101; id <= 115; ++id) {
    char text[256] = {};
    const int length = LoadStringA(module, id, text, sizeof text);
    SCOPED_TRACE(id);
    EXPECT_EQ(std::string(text, length), kv5::LoadString(id));
  }
  // 112 is not used: the table has no text for it.
  char text[16] = {};
  EXPECT_EQ(LoadStringA(module, 112, text, sizeof text), 0);
  // The table is English-US.
  EXPECT_NE(Resource(RT_STRING, 101 / 16 + 1).first, nullptr);
}

TEST(Win32Resources, IconHoldsNineImages) {
  const auto [bytes, size] = Resource(RT_GROUP_ICON, IDR_MAINFRAME);
  ASSERT_NE(bytes, nullptr);
  ASSERT_GE(size, 6u);
  WORD count;
  std::memcpy(&count, bytes + 4, sizeof count);
  ASSERT_EQ(count, 9);
  ASSERT_EQ(size, 6u + 14u * count);
  std::vector<std::string> images;
  for (WORD i = 0; i < count; ++i) {
    const uint8_t* entry = bytes + 6 + 14 * i;
    WORD bits;
    std::memcpy(&bits, entry + 6, sizeof bits);
    images.push_back(std::to_string(entry[0]) + "x" + std::to_string(entry[1]) + "x" +
                     std::to_string(bits));
  }
  EXPECT_EQ(images,
            (std::vector<std::string>{"48x48x4", "48x48x8", "48x48x24", "32x32x4", "32x32x8",
                                      "32x32x24", "16x16x4", "16x16x8", "16x16x24"}));
  for (int size : {48, 32, 16}) {
    HICON icon =
        static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME),
                                      IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    EXPECT_NE(icon, nullptr) << size;
    if (icon != nullptr) DestroyIcon(icon);
  }
}

TEST(Win32Resources, ManifestAsksForTheInvokersRightsAndCommonControlsSix) {
  const auto [bytes, size] = Resource(RT_MANIFEST, 1, kEnglishUs);
  ASSERT_NE(bytes, nullptr);
  const std::string manifest(reinterpret_cast<const char*>(bytes), size);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos)
      << manifest;
}

TEST(Win32Resources, FirmwareImagesAreBinResourcesOfTheirIds) {
  for (const FlashRegion& region : kFlashRegions) {
    SCOPED_TRACE(region.resourceId);
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(region.resourceId), "BIN");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, found), region.imageSize);
    const FirmwareImage image = OpenImage(region.resourceId);
    EXPECT_EQ(image.bytes, LockResource(LoadResource(nullptr, found)));  // used in place
    EXPECT_EQ(image.size, region.imageSize);
  }
  EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(136), "BIN"), nullptr);
  EXPECT_EQ(OpenImage(136).bytes, nullptr);
}

}  // namespace
}  // namespace kv5
