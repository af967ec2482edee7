#include "tools/kv5update/SessionLog.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "tools/kv5update/MessageText.h"
#include "tools/kv5update/PlanStepText.h"

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

// Between the runs of a file that is appended to.
const std::string kRunSeparator(72, '-');

}  // namespace

std::unique_ptr<SessionLog> SessionLog::Open(const std::string* path, std::ostream* echo,
                                             std::string* error) {
  std::FILE* file = nullptr;
  if (path != nullptr) {
    // An earlier run's log is kept: the new run follows it.
    file = std::fopen(path->c_str(), "a");
    if (file == nullptr) {
      *error = "The log file " + *path + " cannot be opened: " + std::strerror(errno) + ".";
      return nullptr;
    }
    if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) > 0) {
      std::fprintf(file, "\n%s\n", kRunSeparator.c_str());
    }
  }
  return std::unique_ptr<SessionLog>(new SessionLog(file, echo));
}

SessionLog::SessionLog(std::FILE* file, std::ostream* echo)
    : file_(file), echo_(echo), start_(std::chrono::steady_clock::now()) {}

SessionLog::~SessionLog() {
  std::lock_guard<std::mutex> hold(lock_);
  if (file_) std::fflush(file_.get());
}

void SessionLog::WriteLocked(const std::string& text) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start_)
                      .count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%8lld ms  ", static_cast<long long>(ms));
  // A text of several lines keeps the time column free below its first line.
  std::string line = stamp;
  const size_t end = text.find_last_not_of('\n');
  for (size_t i = 0; end != std::string::npos && i <= end; ++i) {
    line += text[i];
    if (text[i] == '\n') line.append(kTextColumn, ' ');
  }
  line += '\n';
  if (file_) {
    std::fputs(line.c_str(), file_.get());
    // Line by line into the file: a run cut short leaves every line written until then.
    std::fflush(file_.get());
  }
  if (echo_ != nullptr) {
    *echo_ << line;
    echo_->flush();
  }
}

void SessionLog::Note(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  WriteLocked(text);
}

void SessionLog::Step(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  // A plan step that sent nothing was skipped: the BOOT steps when the unit's BOOT is current.
  if (planStep_ > 0 && !stepSent_) {
    WriteLocked("step " + std::to_string(planStep_) + "/" + text.substr(text.find('/') + 1) + ": " +
                PlanStepComponent(planStep_) + " unchanged, skipped");
  }
  planStep_ = PlanStepNumber(text);
  stepSent_ = false;
  const std::string action = PlanStepAction(planStep_);
  WriteLocked("step " + text + (action.empty() ? "" : ": " + action));
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
    stepSent_ = true;
    lastSentAt_ = now;
    answered_ = false;
  }
  WriteLocked("-> " + DescribeMessage(bytes, length, Direction::Sent, virtualUnitCodes_) +
              (result == 0 ? "" : " (SEND FAILED)") + "  [" + HexBytes(bytes, length) + "]");
}

void SessionLog::OnReceived(const uint8_t* bytes, uint32_t length) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::string text = DescribeMessage(bytes, length, Direction::Received, virtualUnitCodes_);
  if (IsAnswer(bytes, length)) {
    answered_ = true;
    lastAnswer_ = text;
  }
  WriteLocked("<- " + text + "  [" + HexBytes(bytes, length) + "]");
}

}  // namespace kv5
