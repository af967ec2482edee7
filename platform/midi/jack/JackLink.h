// The host side's connection to the JACK server, and the observer of its devices: a thread that
// wakes on JACK's notices (a port unregistered, the server shut down), and now and then without
// one, and lets the open devices look whether their far port is still there. A server that has
// gone is looked for again when the lists are refilled, so a restarted server is found.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/midi/MidiServices.h"
#include "platform/midi/common/CardMidiState.h"
#include "platform/midi/common/DeviceLock.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/JackConfig.h"

namespace kv5 {

class JackLink {
 public:
  // Runs on the observer's thread after every notice and every observer interval.
  using Check = std::function<void()>;

  JackLink(std::unique_ptr<JackClient> client, const JackConfig& config);
  // Stops the observer first.
  ~JackLink();
  JackLink(const JackLink&) = delete;
  JackLink& operator=(const JackLink&) = delete;

  // The client devices open on now; it may have lost its server.
  std::shared_ptr<JackClient> Current();
  // The current client, or a new one when the server went away and a server runs again. The
  // old client's connection is closed; devices still open on it stay vanished.
  std::shared_ptr<JackClient> Reconnect();

  // Starts the observer; Unwatch stops it (returns once no check runs).
  void Watch(Check check);
  void Unwatch();

  // Takes the lock of one direction of a far port: MMSYSERR_ALLOCATED when another process has it
  // open. Where no lock can be made the device opens unlocked.
  MidiResult LockDevice(const std::string& theirs, bool output, std::unique_ptr<DeviceLock>* held);
  // The sound card port behind a far port that a bridge made of it; nullopt for a program's port.
  std::optional<CardPortAddress> CardPortOf(const std::string& theirs);

  const JackConfig& Config() const { return config_; }
  // The server the clients of this process talk to, as libjack picks it; part of device locks.
  const std::string& ServerName() const { return serverName_; }

 private:
  void ObserveLoop();

  const JackConfig config_;
  const std::string serverName_;
  std::mutex lock_;  // guards client_
  // Held by a check and while an old connection closes, so no check uses a closing client.
  std::mutex checking_;
  std::shared_ptr<JackClient> client_;
  Check check_;
  std::atomic<bool> quit_{false};
  std::thread observer_;
};

}  // namespace kv5
