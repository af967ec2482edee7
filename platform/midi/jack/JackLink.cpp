#include "platform/midi/jack/JackLink.h"

#include <cstdlib>

namespace kv5 {
namespace {

// libjack itself picks the server from this variable; a device lock must tell servers apart.
std::string CurrentServerName() {
  const char* name = std::getenv("JACK_DEFAULT_SERVER");
  return name != nullptr && *name != '\0' ? name : "default";
}

}  // namespace

JackLink::JackLink(std::unique_ptr<JackClient> client, const JackConfig& config)
    : config_(config), serverName_(CurrentServerName()), client_(std::move(client)) {}

std::shared_ptr<JackClient> JackLink::Current() {
  std::lock_guard<std::mutex> hold(lock_);
  return client_;
}

std::shared_ptr<JackClient> JackLink::Reconnect() {
  std::shared_ptr<JackClient> old = Current();
  if (!old->ServerGone()) return old;
  {
    // libjack serves one server per process: the old connection goes before a new one opens.
    std::lock_guard<std::mutex> checks(checking_);
    old->CloseConnection();
  }
  old->WakeChangeWaiter();
  std::string reason;
  std::unique_ptr<JackClient> fresh =
      JackClient::Open(config_.clientName, /*exactName=*/false, &reason);
  if (!fresh) return old;
  std::lock_guard<std::mutex> hold(lock_);
  client_ = std::move(fresh);
  return client_;
}

MidiResult JackLink::LockDevice(const std::string& theirs, bool output,
                                std::unique_ptr<DeviceLock>* held) {
  const std::string folder =
      config_.lockFolder.empty() ? DefaultDeviceLockFolder() : config_.lockFolder;
  const std::string key = "jack\n" + serverName_ + "\n" + (output ? "out\n" : "in\n") + theirs;
  return ClaimDeviceLock(folder, key, held) == DeviceLockResult::TakenByPeer ? MMSYSERR_ALLOCATED
                                                                             : MMSYSERR_NOERROR;
}

void JackLink::RunCheck(const std::function<void()>& check) {
  std::lock_guard<std::mutex> hold(checking_);
  check();
}

}  // namespace kv5
