#include "RecordingView.h"

namespace kv5 {

RecordingView::RecordingView() : uiThread_(std::this_thread::get_id()) {
  lists_[IDC_IN_DEVICE_LIST];
  lists_[IDC_OUT_DEVICE_LIST];
}

void RecordingView::Touch() const {
  if (std::this_thread::get_id() != uiThread_) offThread_ = true;
}

RecordingView::List* RecordingView::ListOf(int listId) {
  auto found = lists_.find(listId);
  return found == lists_.end() ? nullptr : &found->second;
}

const RecordingView::List* RecordingView::ListOf(int listId) const {
  auto found = lists_.find(listId);
  return found == lists_.end() ? nullptr : &found->second;
}

void RecordingView::AppendAboutMenuEntry(uint32_t command, const std::string& text) {
  Touch();
  menu_.emplace_back(command, text);
}

void RecordingView::ShowAboutBox() {
  Touch();
  ++aboutBoxes_;
  events_.push_back("about");
}

void RecordingView::EnableControl(int id, bool enable) {
  Touch();
  disabled_[id] = !enable;
  events_.push_back("enable:" + std::to_string(id) + ":" + (enable ? "1" : "0"));
}

bool RecordingView::IsControlEnabled(int id) const {
  auto found = disabled_.find(id);
  return found == disabled_.end() || !found->second;
}

void RecordingView::SetControlText(int id, const std::string& text) {
  Touch();
  texts_[id] = text;
  events_.push_back("text:" + std::to_string(id) + ":" + text);
}

std::string RecordingView::Text(int id) const {
  auto found = texts_.find(id);
  return found == texts_.end() ? std::string() : found->second;
}

void RecordingView::ResetContent(int listId) {
  Touch();
  if (List* list = ListOf(listId)) *list = List{};
}

void RecordingView::AddString(int listId, const std::string& text) {
  Touch();
  if (List* list = ListOf(listId)) list->entries.push_back(text);
}

int RecordingView::GetCount(int listId) const {
  const List* list = ListOf(listId);
  return list ? static_cast<int>(list->entries.size()) : 0;
}

std::string RecordingView::GetLBText(int listId, int index) const {
  const List* list = ListOf(listId);
  if (!list || index < 0 || index >= static_cast<int>(list->entries.size())) return {};
  return list->entries[index];
}

void RecordingView::SetCurSel(int listId, int index) {
  Touch();
  List* list = ListOf(listId);
  if (!list) return;
  list->selection = index >= 0 && index < static_cast<int>(list->entries.size()) ? index : -1;
}

int RecordingView::GetCurSel(int listId) const {
  const List* list = ListOf(listId);
  return list ? list->selection : -1;
}

std::vector<std::string> RecordingView::Entries(int listId) const {
  const List* list = ListOf(listId);
  return list ? list->entries : std::vector<std::string>{};
}

void RecordingView::SetProgressRange32(int32_t lower, int32_t upper) {
  Touch();
  progressLower_ = lower;
  progressUpper_ = upper;
  events_.push_back("range:" + std::to_string(lower) + ":" + std::to_string(upper));
}

void RecordingView::SetProgressPos(int32_t position) {
  Touch();
  progressPos_ = position;
}

void RecordingView::MessageBox(const std::string& text, const std::string& caption,
                               MessageIcon icon, const std::string& detail) {
  Touch();
  boxes_.push_back({text, caption, icon, detail});
  events_.push_back("box:" + text);
  if (boxHook_) boxHook_(boxes_.back());
}

bool RecordingView::AskYesNo(const std::string& text, const std::string& caption) {
  Touch();
  questions_.push_back({text, caption, MessageIcon::Exclamation, ""});
  events_.push_back("ask:" + caption);
  return answer_;
}

void RecordingView::PostToUiThread(std::function<void()> call) {
  std::lock_guard<std::mutex> hold(postLock_);
  posts_.push_back(std::move(call));
  posted_.notify_all();
}

bool RecordingView::OnUiThread() const {
  return std::this_thread::get_id() == uiThread_;
}

size_t RecordingView::Pump() {
  size_t ran = 0;
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> hold(postLock_);
      if (posts_.empty()) return ran;
      call = std::move(posts_.front());
      posts_.pop_front();
    }
    call();
    ++ran;
  }
}

bool RecordingView::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    Pump();
    if (done()) return true;
    std::unique_lock<std::mutex> hold(postLock_);
    if (std::chrono::steady_clock::now() >= deadline) return false;
    posted_.wait_for(hold, std::chrono::milliseconds(5), [this] { return !posts_.empty(); });
  }
}

size_t RecordingView::PendingPosts() const {
  std::lock_guard<std::mutex> hold(postLock_);
  return posts_.size();
}

bool RecordingView::WaitForPosts(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(postLock_);
  return posted_.wait_for(hold, limit, [&] { return posts_.size() >= count; });
}

}  // namespace kv5
