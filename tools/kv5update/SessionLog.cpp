#include "tools/kv5update/SessionLog.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "tools/kv5update/MessageText.h"

namespace kv5 {
namespace {

// The words of a status line without its numbers: "Data transmit  / ".
std::string Words(const std::string& text) {
  std::string words;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) words += c;
  }
  return words;
}

bool IsAnswer(const uint8_t* m, uint32_t length) {
  if (length < 5 || m[0] != 0xF0) return false;
  if (m[1] == 0x7E) return m[3] == 0x06 && m[4] == 0x02;
  return m[1] == 0x7D && (m[4] == 0x00 || m[4] == 0x02 || m[4] == 0x60);
}

}  // namespace

std::unique_ptr<SessionLog> SessionLog::Open(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    *error = "The log file " + path + " cannot be created: " + std::strerror(errno) + ".";
    return nullptr;
  }
  return std::unique_ptr<SessionLog>(new SessionLog(file));
}

SessionLog::SessionLog(std::FILE* file) : file_(file), start_(std::chrono::steady_clock::now()) {}

SessionLog::~SessionLog() {
  std::lock_guard<std::mutex> hold(lock_);
  std::fflush(file_.get());
}

void SessionLog::WriteLocked(const std::string& text) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start_)
                      .count();
  std::fprintf(file_.get(), "%8lld ms  %s\n", static_cast<long long>(ms), text.c_str());
  // Line by line into the file: a run cut short leaves every line written until then.
  std::fflush(file_.get());
}

void SessionLog::Note(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  WriteLocked(text);
}

void SessionLog::Step(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  WriteLocked("step " + text);
}

void SessionLog::Status(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::string words = Words(text);
  if (words == statusWords_) return;
  statusWords_ = words;
  WriteLocked("status \"" + text + "\"");
}

void SessionLog::Outcome(const std::string& result, const std::string& message) {
  std::lock_guard<std::mutex> hold(lock_);
  WriteLocked("outcome: " + result + (message.empty() ? "" : ": " + message));
}

void SessionLog::OnSent(const uint8_t* bytes, uint32_t length, int result) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto now = std::chrono::steady_clock::now();
  const std::string kind = RequestKind(bytes, length);
  if (!kind.empty()) {
    const uint32_t address = RequestAddress(bytes, length);
    if (kind == lastKind_ && address == lastAddress_ && attempt_ > 0) {
      ++attempt_;
      const auto waited =
          std::chrono::duration_cast<std::chrono::milliseconds>(now - lastSentAt_).count();
      const std::string cause = answered_ ? "the answer was " + lastAnswer_
                                          : "no answer within " + std::to_string(waited) + " ms";
      WriteLocked("retry: " + kind + " sent again (attempt " + std::to_string(attempt_) +
                  "): " + cause);
    } else {
      attempt_ = 1;
    }
    lastKind_ = kind;
    lastAddress_ = address;
    lastSentAt_ = now;
    answered_ = false;
  }
  WriteLocked("-> " + DescribeMessage(bytes, length, Direction::Sent) +
              (result == 0 ? "" : " (SEND FAILED)") + "  [" + HexBytes(bytes, length) + "]");
}

void SessionLog::OnReceived(const uint8_t* bytes, uint32_t length) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::string text = DescribeMessage(bytes, length, Direction::Received);
  if (IsAnswer(bytes, length)) {
    answered_ = true;
    lastAnswer_ = text;
  }
  WriteLocked("<- " + text + "  [" + HexBytes(bytes, length) + "]");
}

}  // namespace kv5
