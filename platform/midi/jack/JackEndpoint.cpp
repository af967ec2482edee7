// The far side as a JACK client: one input and one output port, whole SysEx messages in and out.
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/JackInputStream.h"
#include "platform/midi/jack/JackMidi.h"
#include "platform/midi/jack/JackOutputStream.h"

namespace kv5 {
namespace {

class JackEndpoint : public MidiEndpoint {
 public:
  JackEndpoint(std::unique_ptr<JackClient> client, const JackConfig& config)
      : client_(std::move(client)), sendLimit_(config.endpointSendLimitMs) {}
  // Cycles stop first: the streams then come apart without the callback.
  ~JackEndpoint() override { client_->Deactivate(); }

  bool Start(const JackConfig& config, std::string* error) {
    jack_port_t* in = client_->RegisterMidiPort("midi_in", /*input=*/true);
    jack_port_t* out = client_->RegisterMidiPort("midi_out", /*input=*/false);
    if (in == nullptr || out == nullptr) {
      *error = "the JACK ports of \"" + client_->Name() + "\" could not be registered";
      return false;
    }
    inPort_ = std::make_unique<JackPort>(*client_, in);
    outPort_ = std::make_unique<JackPort>(*client_, out);
    output_ = std::make_unique<JackOutputStream>(*client_, out, config.cycleByteLimit,
                                                 config.outputQueueLength);
    input_ = std::make_unique<JackInputStream>(
        *client_, in, config.inputRingBytes,
        [this](const uint8_t* bytes, size_t count) { Assemble(bytes, count); });
    if (output_->Attached() && input_->Attached()) return true;
    *error = "the JACK client \"" + client_->Name() + "\" has no room for its streams";
    return false;
  }

  void SetReceiver(Receiver receiver) override {
    std::lock_guard<std::mutex> hold(receiverLock_);
    receiver_ = std::move(receiver);
  }

  bool Send(const uint8_t* bytes, size_t length) override {
    if (length == 0) return true;
    if (length > UINT32_MAX || client_->ServerGone()) return false;
    std::lock_guard<std::mutex> hold(sendLock_);
    std::atomic<uint32_t> flags{MHDR_INQUEUE};
    if (!output_->Queue(bytes, static_cast<uint32_t>(length), &flags)) return false;
    // Longer than any message takes to be written, even in pieces on a loaded machine.
    const auto deadline = std::chrono::steady_clock::now() + sendLimit_;
    while (!(flags.load() & MHDR_DONE)) {
      if (client_->ServerGone() || std::chrono::steady_clock::now() >= deadline) {
        output_->Cancel();  // the bytes are the caller's: nothing may read them after we return
        return false;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }

  std::string Name() const override { return client_->Name(); }

 private:
  // Rebuilds whole messages from bytes in any split. A status byte other than F7 inside a
  // message (the loss mark among them) discards it; real-time bytes are skipped.
  void Assemble(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const uint8_t byte = bytes[i];
      if (byte >= 0xF8) continue;
      if (byte == 0xF0) {
        message_.assign(1, byte);
        inMessage_ = true;
      } else if (!inMessage_) {
        continue;
      } else if (byte == 0xF7) {
        message_.push_back(byte);
        inMessage_ = false;
        Deliver();
      } else if (byte & 0x80) {
        inMessage_ = false;
        message_.clear();
      } else {
        message_.push_back(byte);
      }
    }
  }

  void Deliver() {
    std::lock_guard<std::mutex> hold(receiverLock_);
    if (receiver_) receiver_(message_.data(), message_.size());
  }

  std::unique_ptr<JackClient> client_;
  const std::chrono::milliseconds sendLimit_;
  std::unique_ptr<JackPort> inPort_;
  std::unique_ptr<JackPort> outPort_;
  std::unique_ptr<JackOutputStream> output_;
  std::mutex receiverLock_;
  Receiver receiver_;
  std::mutex sendLock_;
  // Owned by the input stream's reader thread.
  std::vector<uint8_t> message_;
  bool inMessage_ = false;
  std::unique_ptr<JackInputStream> input_;  // first to go: no message arrives after it
};

}  // namespace

std::unique_ptr<MidiEndpoint> OpenJackEndpoint(const std::string& name, std::string* error) {
  return OpenJackEndpoint(name, JackConfig{}, error);
}

std::unique_ptr<MidiEndpoint> OpenJackEndpoint(const std::string& name, const JackConfig& config,
                                               std::string* error) {
  std::string reason;
  auto client = JackClient::Open(name, /*exactName=*/true, &reason);
  if (client) {
    auto endpoint = std::make_unique<JackEndpoint>(std::move(client), config);
    if (endpoint->Start(config, &reason)) return endpoint;
  }
  if (error != nullptr) *error = reason;
  return nullptr;
}

}  // namespace kv5
