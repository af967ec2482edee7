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
  JackConfig config;
  config.clientName = clientName;
  config.cycleByteLimit = cycleByteLimit;
  auto backend = OpenJackMidi(config, &error_);
  EXPECT_NE(backend, nullptr) << error_;
  return backend;
}

}  // namespace kv5::test
