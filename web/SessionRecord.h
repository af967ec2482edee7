// The support log of the page's sessions, as `kv5update --log` writes it: each Execute or Version
// Check starts a fresh log with the program and package, the MIDI system and the ports; then
// every message (the dialog's traffic tap), each step and status, each box, and the outcome. The
// page offers the last one for download. It also watches for a chunk the unit keeps refusing.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/TrafficTap.h"
#include "tools/kv5update/SessionLog.h"
#include "web/RefusedChunkWatch.h"
#include "web/WebDialogView.h"

namespace kv5 {

class SessionRecord : public ViewObserver, public TrafficTap {
 public:
  enum class Command { Update, Check };

  // The log is written to path (in the page's memory file system).
  SessionRecord(std::string path, std::string program, RefusedChunkWatch& watch);

  // A session is asked for: a new log with its header and the chosen ports.
  void Begin(Command command, const std::string& system, const std::string& inName,
             const std::string& outName);
  // The ports did not open (the error box said which): nothing was sent.
  void NotStarted();

  void OnControlText(int id, const std::string& text) override;
  void OnMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void OnBusy(bool busy) override;

  void OnSent(const uint8_t* bytes, uint32_t length, int result) override;
  void OnReceived(const uint8_t* bytes, uint32_t length) override;

 private:
  // The session has ended (the busy state was left): its outcome line.
  void End();

  const std::string path_;
  const std::string program_;
  RefusedChunkWatch& watch_;
  // The poller taps from its own thread; the log is replaced between sessions.
  std::mutex lock_;
  std::unique_ptr<SessionLog> log_;
  Command command_ = Command::Update;
  bool active_ = false;
  bool completed_ = false;
  bool reportShown_ = false;
  std::vector<std::string> errors_;
};

}  // namespace kv5
