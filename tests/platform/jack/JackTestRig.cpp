#include "JackTestRig.h"

#include <signal.h>

#include <cstdio>
#include <thread>

namespace kv5::test {

std::vector<uint8_t> MakeSysex(size_t length, uint32_t seed) {
  std::vector<uint8_t> message(length);
  message.front() = 0xF0;
  message[1] = 0x7D;
  for (size_t i = 2; i + 1 < length; ++i) {
    message[i] = static_cast<uint8_t>((seed * 131u + i * 7u + (i >> 7)) & 0x7F);
  }
  message.back() = 0xF7;
  return message;
}

std::vector<std::string> InDeviceNames(MidiInServices& services) {
  std::vector<std::string> names;
  const uint32_t count = services.GetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    MidiDeviceCaps caps;
    if (services.GetDevCaps(i, &caps) == MMSYSERR_NOERROR) names.emplace_back(caps.szPname);
  }
  return names;
}

std::vector<std::string> OutDeviceNames(MidiOutServices& services) {
  std::vector<std::string> names;
  const uint32_t count = services.GetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    MidiDeviceCaps caps;
    if (services.GetDevCaps(i, &caps) == MMSYSERR_NOERROR) names.emplace_back(caps.szPname);
  }
  return names;
}

namespace {
int IndexIn(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  return -1;
}
}  // namespace

int FindInDevice(MidiInServices& services, const std::string& name) {
  return IndexIn(InDeviceNames(services), name);
}

int FindOutDevice(MidiOutServices& services, const std::string& name) {
  return IndexIn(OutDeviceNames(services), name);
}

bool HostLink::Open(const std::string& device) {
  const int outIndex = FindOutDevice(backend_.Out(), device);
  const int inIndex = FindInDevice(backend_.In(), device);
  if (outIndex < 0 || inIndex < 0) return false;
  if (out_.Open(outIndex) != 1) return false;
  in_.CloseIfOpen();
  in_.DeviceIndex = inIndex;
  return in_.Open() == 1;
}

void HostLink::Close() {
  out_.Close();
  in_.CloseIfOpen();
}

bool HostLink::Send(std::vector<uint8_t>& message) {
  MidiHeader header;
  header.lpData = message.data();
  header.dwBufferLength = static_cast<uint32_t>(message.size());
  return out_.SendLong(&header) == 1;
}

std::vector<uint8_t> HostLink::Receive(std::chrono::milliseconds limit) {
  std::vector<uint8_t> joined;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const SysexEntry* entry = in_.PeekSysex();
    if (entry == nullptr) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    joined.insert(joined.end(), entry->bytes.get(), entry->bytes.get() + entry->length);
    in_.PopSysex();
    if (joined.back() == 0xF7) return joined;
  }
  return {};
}

void JackRig::SetUp() {
  ASSERT_TRUE(server_.Start(&error_)) << error_;
}

void JackRig::TearDown() {
  if (HasFailure()) std::fprintf(stderr, "%s\n", server_.LogTail().c_str());
  // The server goes first: a client leaving a synchronous server on a loaded machine can stall
  // it for many client timeouts, while a server that shuts down just tells its clients.
  server_.Stop();
  echo_.CloseInput();
  echo_.Stop(SIGTERM, std::chrono::seconds(5));
}

void JackRig::StartEcho(const std::string& name, size_t cycleByteLimit) {
  std::vector<std::string> args{name};
  if (cycleByteLimit > 0) args.push_back(std::to_string(cycleByteLimit));
  ASSERT_TRUE(echo_.Start(KV5_JACK_ECHO, args, {}, &error_)) << error_;
  std::string line;
  ASSERT_TRUE(echo_.ReadLine(&line, std::chrono::seconds(10))) << "the echo program did not start";
  ASSERT_EQ(line, "ready " + name);
}

std::unique_ptr<MidiBackend> JackRig::OpenHost(size_t cycleByteLimit,
                                               const std::string& clientName) {
  JackMidiConfig config;
  config.clientName = clientName;
  config.cycleByteLimit = cycleByteLimit;
  auto backend = OpenJackMidi(config, &error_);
  EXPECT_NE(backend, nullptr) << error_;
  return backend;
}

}  // namespace kv5::test
