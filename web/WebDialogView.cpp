#include "web/WebDialogView.h"

#include <algorithm>

#include "firmware/FirmwarePackage.h"
#include "platform/event/web/BrowserPromise.h"
#include "web/PageBrowser.h"

namespace kv5 {
namespace {

// A box waits for its button as long as the user takes.
constexpr uint32_t kAnswerLimitMs = 0xFFFFFFFFu;

}  // namespace

void WebDialogView::SetWindowTitle(const std::string& title) {
  kv5_page_title(title.c_str());
}

void WebDialogView::AppendAboutMenuEntry(uint32_t command, const std::string& text) {
  kv5_page_about_entry(command, text.c_str());
}

void WebDialogView::ShowAboutBox() {
  kv5_page_about_box("TELVOR Q9 System v1.20 Updater",
                     IsTestPackage() ? "Synthetic test package: not firmware for a real unit."
                                     : "Firmware release for the unit.");
}

void WebDialogView::EnableControl(int id, bool enable) {
  const bool was = IsControlEnabled(id);
  if (enable) {
    disabled_.erase(std::remove(disabled_.begin(), disabled_.end(), id), disabled_.end());
  } else if (was) {
    disabled_.push_back(id);
  }
  kv5_page_enable(id, enable ? 1 : 0);
  if (id == IDC_RESCAN && was != enable) {
    kv5_page_session(enable ? 0 : 1);
    observer_.OnBusy(!enable);
  }
}

bool WebDialogView::IsControlEnabled(int id) const {
  return std::find(disabled_.begin(), disabled_.end(), id) == disabled_.end();
}

void WebDialogView::SetControlText(int id, const std::string& text) {
  kv5_page_text(id, text.c_str());
  observer_.OnControlText(id, text);
}

void WebDialogView::ResetContent(int listId) {
  ListOf(listId) = List{};
  kv5_page_list_reset(listId);
}

void WebDialogView::AddString(int listId, const std::string& text) {
  ListOf(listId).entries.push_back(text);
  kv5_page_list_add(listId, text.c_str());
}

int WebDialogView::GetCount(int listId) const {
  return static_cast<int>(ListOf(listId).entries.size());
}

std::string WebDialogView::GetLBText(int listId, int index) const {
  const List& list = ListOf(listId);
  return index >= 0 && index < GetCount(listId) ? list.entries[index] : std::string();
}

void WebDialogView::SetCurSel(int listId, int index) {
  List& list = ListOf(listId);
  list.selection = index >= 0 && index < GetCount(listId) ? index : -1;
  kv5_page_list_select(listId, list.selection);
}

int WebDialogView::GetCurSel(int listId) const {
  return ListOf(listId).selection;
}

void WebDialogView::UserSelected(int listId, int index) {
  List& list = ListOf(listId);
  list.selection = index >= 0 && index < GetCount(listId) ? index : -1;
}

void WebDialogView::SetProgressRange32(int32_t lower, int32_t upper) {
  lower_ = lower;
  upper_ = upper;
  kv5_page_progress(lower_, upper_, position_);
}

void WebDialogView::SetProgressPos(int32_t position) {
  position_ = position;
  kv5_page_progress(lower_, upper_, position_);
}

int WebDialogView::ShowBox(const std::string& text, const std::string& caption, int icon,
                           const std::string& detail) {
  BrowserPromise answered;
  kv5_page_box(text.c_str(), caption.c_str(), icon, detail.c_str(), answered.Ticket());
  int answer = 0;
  answered.Wait(kAnswerLimitMs, &answer);
  return answer;
}

void WebDialogView::MessageBox(const std::string& text, const std::string& caption,
                               MessageIcon icon, const std::string& detail) {
  observer_.OnMessageBox(text, caption, icon);
  ShowBox(text, caption, icon == MessageIcon::Error ? 0 : 1, detail);
}

bool WebDialogView::AskYesNo(const std::string& text, const std::string& caption) {
  return ShowBox(text, caption, 2, "") == 1;
}

}  // namespace kv5
