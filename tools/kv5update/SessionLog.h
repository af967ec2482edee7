// The support log of one run (--log FILE): a plain-text transcript with a millisecond time stamp
// on every line. It holds a header (when and where the run began: the program and package, the
// system, the command line, the MIDI system, ports and virtual unit), every message sent and
// received (kind, fields, bytes), every step with its component, every resend with its cause, and
// the outcome. Each line is in the file as soon as it is written, so a run that is cut short
// leaves everything up to that moment. A file that holds an earlier run is appended to, after a
// separator line. With -v every line also goes to stderr.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "protocol/TrafficTap.h"

namespace kv5 {

class SessionLog : public TrafficTap {
 public:
  // Where the time column ends: the text of a line, and each further line of a note, begins here.
  static constexpr size_t kTextColumn = 13;

  // A log into the file at path (nullptr for none) and, when echo is given, onto that stream.
  // nullptr with the reason in *error when the file cannot be opened.
  static std::unique_ptr<SessionLog> Open(const std::string* path, std::ostream* echo,
                                          std::string* error);
  ~SessionLog() override;
  SessionLog(const SessionLog&) = delete;
  SessionLog& operator=(const SessionLog&) = delete;

  // Any text, time-stamped; each further line of it is indented to the text column.
  void Note(const std::string& text);
  // The step counter and the status line as the session sets them; a status is written when its
  // words change (one line per transfer, not one per chunk).
  void Step(const std::string& text);
  void Status(const std::string& text);
  // The last line: "outcome: <result>: <message>".
  void Outcome(const std::string& result, const std::string& message);
  // The unit's result codes are read as the virtual unit means them (it runs in this process).
  void ReadCodesOfVirtualUnit() { virtualUnitCodes_ = true; }

  // TrafficTap.
  void OnSent(const uint8_t* bytes, uint32_t length, int result) override;
  void OnReceived(const uint8_t* bytes, uint32_t length) override;

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  SessionLog(std::FILE* file, std::ostream* echo);
  void WriteLocked(const std::string& text);

  std::mutex lock_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::ostream* const echo_;
  const std::chrono::steady_clock::time_point start_;
  std::string statusWords_;
  bool virtualUnitCodes_ = false;

  // The plan step under way, and whether it sent anything (a step that sent nothing was skipped).
  int planStep_ = -1;
  bool stepSent_ = false;

  // The last request sent, to tell a resend from the next request.
  std::string lastKind_;
  uint32_t lastAddress_ = 0;
  std::chrono::steady_clock::time_point lastSentAt_{};
  int attempt_ = 0;
  bool answered_ = false;
  std::string lastAnswer_;
};

}  // namespace kv5
