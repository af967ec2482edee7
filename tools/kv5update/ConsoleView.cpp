#include "tools/kv5update/ConsoleView.h"

#include "ui/InstanceNames.h"

namespace kv5 {

ConsoleView::ConsoleView(ViewObserver& observer)
    : observer_(observer), uiThread_(std::this_thread::get_id()) {}

ConsoleView::~ConsoleView() {
  Close();
}

void ConsoleView::SetWindowTitle(const std::string& title) {
  title_ = title;
}

void ConsoleView::AppendAboutMenuEntry(uint32_t, const std::string&) {
  // A console has no menu to put it in.
}

void ConsoleView::ShowAboutBox() {
  observer_.OnMessageBox(kProductTitle, "About TELVOR Q5 Updater", MessageIcon::Information);
}

void ConsoleView::EnableControl(int id, bool enable) {
  disabled_[id] = !enable;
}

bool ConsoleView::IsControlEnabled(int id) const {
  const auto found = disabled_.find(id);
  return found == disabled_.end() || !found->second;
}

void ConsoleView::SetControlText(int id, const std::string& text) {
  texts_[id] = text;
  observer_.OnControlText(id, text);
}

std::string ConsoleView::ControlText(int id) const {
  const auto found = texts_.find(id);
  return found == texts_.end() ? std::string() : found->second;
}

ConsoleView::List& ConsoleView::ListOf(int listId) {
  return lists_[listId];
}

const ConsoleView::List& ConsoleView::ListOf(int listId) const {
  static const List kEmpty;
  const auto found = lists_.find(listId);
  return found == lists_.end() ? kEmpty : found->second;
}

const std::vector<std::string>& ConsoleView::ListEntries(int listId) const {
  return ListOf(listId).entries;
}

void ConsoleView::ResetContent(int listId) {
  List& list = ListOf(listId);
  list.entries.clear();
  list.selection = -1;
}

void ConsoleView::AddString(int listId, const std::string& text) {
  ListOf(listId).entries.push_back(text);
}

int ConsoleView::GetCount(int listId) const {
  return static_cast<int>(ListOf(listId).entries.size());
}

std::string ConsoleView::GetLBText(int listId, int index) const {
  const List& list = ListOf(listId);
  if (index < 0 || index >= static_cast<int>(list.entries.size())) return {};
  return list.entries[static_cast<size_t>(index)];
}

void ConsoleView::SetCurSel(int listId, int index) {
  List& list = ListOf(listId);
  // As a drop-down list does: an index outside the list clears the selection.
  list.selection = index >= 0 && index < static_cast<int>(list.entries.size()) ? index : -1;
}

int ConsoleView::GetCurSel(int listId) const {
  return ListOf(listId).selection;
}

void ConsoleView::SetProgressRange32(int32_t lower, int32_t upper) {
  progressLower_ = lower;
  progressUpper_ = upper;
  observer_.OnProgressRange(lower, upper);
}

void ConsoleView::SetProgressPos(int32_t position) {
  progressPos_ = position;
  observer_.OnProgressPos(position);
}

void ConsoleView::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                             const std::string&) {
  observer_.OnMessageBox(text, caption, icon);
}

void ConsoleView::PostToUiThread(std::function<void()> call) {
  std::lock_guard<std::mutex> hold(postLock_);
  if (closed_) return;
  calls_.push_back(std::move(call));
  posted_.notify_one();
}

bool ConsoleView::OnUiThread() const {
  return std::this_thread::get_id() == uiThread_;
}

std::deque<std::function<void()>> ConsoleView::TakeCalls(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> hold(postLock_);
  if (calls_.empty() && wait.count() > 0) {
    posted_.wait_for(hold, wait, [this] { return !calls_.empty() || closed_; });
  }
  std::deque<std::function<void()>> taken;
  taken.swap(calls_);
  return taken;
}

void ConsoleView::RunUntil(const std::function<bool()>& stop) {
  while (!stop()) {
    for (auto& call : TakeCalls(kPollInterval)) call();
    observer_.OnIdle();
  }
}

void ConsoleView::RunPending() {
  for (auto& call : TakeCalls(std::chrono::milliseconds(0))) call();
}

void ConsoleView::Close() {
  std::lock_guard<std::mutex> hold(postLock_);
  closed_ = true;
  calls_.clear();
  posted_.notify_all();
}

}  // namespace kv5
