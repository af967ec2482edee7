#include "platform/midi/jack/JackLink.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/midi/jack/JackCardPorts.h"

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

std::optional<CardPortAddress> JackLink::CardPortOf(const std::string& theirs) {
  std::shared_ptr<JackClient> client = Current();
  if (client->ServerGone()) return std::nullopt;
  jack_port_t* port = jack_port_by_name(client->Get(), theirs.c_str());
  if (port == nullptr) return std::nullopt;
  const size_t size = static_cast<size_t>(jack_port_name_size());
  std::vector<char> first(size);
  std::vector<char> second(size);
  char* aliases[2] = {first.data(), second.data()};
  const int count = jack_port_get_aliases(port, aliases);
  std::vector<std::string> names;
  for (int i = 0; i < count && i < 2; ++i) names.emplace_back(aliases[i]);
  return CardPortOfJackPort(theirs, names);
}

MidiResult JackLink::LockDevice(const std::string& theirs, bool output,
                                std::unique_ptr<DeviceLock>* held) {
  // A card behind a bridge is locked as the card port itself; a program's port as a port of this
  // user's server (another user's server of the same name is another server).
  std::string key;
  if (const auto card = CardPortOf(theirs)) {
    if (const auto longName = ReadCardLongName(card->card))
      key = CardPortLockKey(*longName, card->device, card->subdevice, output);
  }
  if (key.empty()) {
    key.append("jack\n").append(std::to_string(getuid())).append("\n").append(serverName_);
    key.append(output ? "\nout\n" : "\nin\n").append(theirs);
  }
  return ClaimDeviceLock(key, held, config_.lockSpace) == DeviceLockResult::TakenByPeer
             ? MMSYSERR_ALLOCATED
             : MMSYSERR_NOERROR;
}

void JackLink::RunCheck(const std::function<void()>& check) {
  std::lock_guard<std::mutex> hold(checking_);
  check();
}

}  // namespace kv5
