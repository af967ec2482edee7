// The host side's connection to the JACK server, shared by its input and output services and its
// device observer. A server that has gone is looked for again when the lists are refilled, so a
// restarted server is found.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/midi/MidiServices.h"
#include "platform/midi/common/CardMidiState.h"
#include "platform/midi/common/DeviceLock.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/JackConfig.h"

namespace kv5 {

class JackLink {
 public:
  JackLink(std::unique_ptr<JackClient> client, const JackConfig& config);
  JackLink(const JackLink&) = delete;
  JackLink& operator=(const JackLink&) = delete;

  // The client devices open on now; it may have lost its server.
  std::shared_ptr<JackClient> Current();
  // The current client, or a new one when the server went away and a server runs again. The
  // old client's connection is closed; devices still open on it stay vanished.
  std::shared_ptr<JackClient> Reconnect();

  // Runs a check of the open devices while no old connection closes, so that no check uses a
  // closing client.
  void RunCheck(const std::function<void()>& check);

  // Takes the lock of one direction of a far port: MMSYSERR_ALLOCATED when another process has it
  // open. Where no lock can be made the device opens unlocked.
  MidiResult LockDevice(const std::string& theirs, bool output, std::unique_ptr<DeviceLock>* held);
  // The sound card port behind a far port that a bridge made of it; nullopt for a program's port.
  std::optional<CardPortAddress> CardPortOf(const std::string& theirs);

  const JackConfig& Config() const { return config_; }
  // The server the clients of this process talk to, as libjack picks it; part of device locks.
  const std::string& ServerName() const { return serverName_; }

 private:
  const JackConfig config_;
  const std::string serverName_;
  std::mutex lock_;  // guards client_
  // Held by a check and while an old connection closes, so no check uses a closing client.
  std::mutex checking_;
  std::shared_ptr<JackClient> client_;
};

}  // namespace kv5
