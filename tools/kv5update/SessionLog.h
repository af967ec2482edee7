// The support log of one run (--log FILE): a plain-text transcript with a millisecond time stamp
// on every line. It holds the program and package, the MIDI system and ports, every message sent
// and received (kind, fields, bytes), every step, every resend with its cause, and the outcome.
// Each line is in the file as soon as it is written, so a run that is cut short leaves
// everything up to that moment.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "protocol/TrafficTap.h"

namespace kv5 {

class SessionLog : public TrafficTap {
 public:
  // nullptr with the reason in *error when the file cannot be created.
  static std::unique_ptr<SessionLog> Open(const std::string& path, std::string* error);
  ~SessionLog() override;
  SessionLog(const SessionLog&) = delete;
  SessionLog& operator=(const SessionLog&) = delete;

  // Any line of text, time-stamped.
  void Note(const std::string& text);
  // The step counter and the status line as the session sets them; a status is written when its
  // words change (one line per transfer, not one per chunk).
  void Step(const std::string& text);
  void Status(const std::string& text);
  // The last line: "outcome: <result>: <message>".
  void Outcome(const std::string& result, const std::string& message);

  // TrafficTap.
  void OnSent(const uint8_t* bytes, uint32_t length, int result) override;
  void OnReceived(const uint8_t* bytes, uint32_t length) override;

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  SessionLog(std::FILE* file);
  void WriteLocked(const std::string& text);

  std::mutex lock_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  const std::chrono::steady_clock::time_point start_;
  std::string statusWords_;

  // The last request sent, to tell a resend from the next request.
  std::string lastKind_;
  uint32_t lastAddress_ = 0;
  std::chrono::steady_clock::time_point lastSentAt_{};
  int attempt_ = 0;
  bool answered_ = false;
  std::string lastAnswer_;
};

}  // namespace kv5
