// The JACK backend's device lists, opening and closing, and its behaviour without a server.
#include <dirent.h>
#include <gmock/gmock.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "JackTestRig.h"

namespace kv5::test {
namespace {

using ::testing::ElementsAre;

class JackDevicesTest : public JackRig {};

TEST_F(JackDevicesTest, ListsNameOtherClientsPortsInAStableOrder) {
  StartEcho("TELVOR Q9");
  auto host = OpenHost();
  ASSERT_NE(host, nullptr);
  EXPECT_THAT(DeviceNames(host->In()), ElementsAre("TELVOR Q9"));
  EXPECT_THAT(DeviceNames(host->Out()), ElementsAre("TELVOR Q9"));

  // A client with two output ports: each is listed as "client:port". Its ports are another
  // backend's own, opened on the echo; that backend does not list them itself.
  auto rig = OpenHost(0, "Rig");
  ASSERT_NE(rig, nullptr);
  MidiOutHandle first = 0;
  MidiOutHandle second = 0;
  const int echo = IndexOf(DeviceNames(rig->Out()), "TELVOR Q9");
  ASSERT_EQ(rig->Out().Open(&first, static_cast<uint32_t>(echo)), MMSYSERR_NOERROR);
  ASSERT_EQ(rig->Out().Open(&second, static_cast<uint32_t>(echo)), MMSYSERR_NOERROR);
  EXPECT_THAT(DeviceNames(rig->In()), ElementsAre("TELVOR Q9"));
  EXPECT_THAT(DeviceNames(rig->Out()), ElementsAre("TELVOR Q9"));

  // A client name beyond the 31 characters of the capability record is cut.
  auto wordy = OpenJackEndpoint("A client whose name is far too long", &error_);
  ASSERT_NE(wordy, nullptr) << error_;

  const auto inputs = DeviceNames(host->In());
  EXPECT_THAT(inputs, ElementsAre("A client whose name is far too ", "Rig:midi_out",
                                  "Rig:midi_out_2", "TELVOR Q9"));
  EXPECT_EQ(DeviceNames(host->In()), inputs) << "listing again keeps the order";
  EXPECT_THAT(DeviceNames(host->Out()),
              ElementsAre("A client whose name is far too ", "TELVOR Q9"));

  MidiDeviceCaps caps;
  EXPECT_EQ(host->In().GetDevCaps(4, &caps), MMSYSERR_BADDEVICEID);
  MidiOutHandle none = 0;
  EXPECT_EQ(host->Out().Open(&none, MIDI_MAPPER), MMSYSERR_BADDEVICEID);

  // Our own open device is no device of ours to list.
  MidiOutHandle mine = 0;
  ASSERT_EQ(host->Out().Open(&mine, 1), MMSYSERR_NOERROR);
  EXPECT_EQ(host->Out().GetNumDevs(), 2u);
  EXPECT_EQ(host->In().GetNumDevs(), 4u);
  EXPECT_EQ(host->Out().Close(mine), MMSYSERR_NOERROR);

  EXPECT_EQ(rig->Out().Close(first), MMSYSERR_NOERROR);
  EXPECT_THAT(DeviceNames(host->In()),
              ElementsAre("A client whose name is far too ", "Rig", "TELVOR Q9"));
  EXPECT_EQ(rig->Out().Close(second), MMSYSERR_NOERROR);
  EXPECT_EQ(rig->Out().Close(second), MMSYSERR_INVALHANDLE);
}

TEST_F(JackDevicesTest, TheFirstMessageAfterEveryOpenArrives) {
  StartEcho("TELVOR Q9");
  auto backend = OpenHost();
  ASSERT_NE(backend, nullptr);
  HostPorts link(*backend);
  // Each open waits until its connection is in the running graph: a message written in a cycle
  // before that would be lost. The window is narrow, so many rounds.
  for (uint32_t round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(link.Open("TELVOR Q9"));
    auto message = MakeSysex(round % 2 ? 22 : 4700, round);
    const auto sent = message;
    ASSERT_TRUE(link.Send(message));
    EXPECT_TRUE(link.Receive(std::chrono::seconds(5)) == sent);
    link.Close();
    EXPECT_FALSE(link.Out().IsOpen());
    EXPECT_FALSE(link.In().IsOpen());
  }
}

TEST_F(JackDevicesTest, ClosingRemovesOurPortsAndAQueuedBufferBlocksClose) {
  StartEcho("TELVOR Q9");
  auto host = OpenHost();
  auto observer = OpenHost(0, "observer");
  ASSERT_NE(host, nullptr);
  ASSERT_NE(observer, nullptr);
  EXPECT_THAT(DeviceNames(observer->In()), ElementsAre("TELVOR Q9"));

  MidiInServices& in = host->In();
  MidiInHandle handle = 0;
  auto callback = [](MidiInHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t) {};
  ASSERT_EQ(in.Open(&handle, 0, callback, 0), MMSYSERR_NOERROR);
  MidiOutHandle out = 0;
  ASSERT_EQ(host->Out().Open(&out, 0), MMSYSERR_NOERROR);
  // The observer sees our output port, not our input port (its MIDI IN list shows outputs).
  EXPECT_THAT(DeviceNames(observer->In()), ElementsAre("TELVOR Q9", "kv5 host"));
  EXPECT_THAT(DeviceNames(observer->Out()), ElementsAre("TELVOR Q9", "kv5 host"));

  uint8_t buffer[64];
  MidiHeader header;
  header.lpData = buffer;
  header.dwBufferLength = sizeof buffer;
  ASSERT_EQ(in.PrepareHeader(handle, &header), MMSYSERR_NOERROR);
  ASSERT_EQ(in.AddBuffer(handle, &header), MMSYSERR_NOERROR);
  EXPECT_EQ(in.Close(handle), MIDIERR_STILLPLAYING);
  EXPECT_EQ(in.Reset(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(in.UnprepareHeader(handle, &header), MMSYSERR_NOERROR);
  EXPECT_EQ(in.Close(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(in.Close(handle), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(host->Out().Close(out), MMSYSERR_NOERROR);
  EXPECT_THAT(DeviceNames(observer->In()), ElementsAre("TELVOR Q9"));
  EXPECT_THAT(DeviceNames(observer->Out()), ElementsAre("TELVOR Q9"));
}

TEST_F(JackDevicesTest, AServerThatGoesAwayEndsSendsInsteadOfHangingThem) {
  StartEcho("TELVOR Q9");
  auto backend = OpenHost();
  ASSERT_NE(backend, nullptr);
  HostPorts link(*backend, /*completionLimitMs=*/2000);
  ASSERT_TRUE(link.Open("TELVOR Q9"));

  echo_.CloseInput();
  echo_.Stop(SIGTERM, std::chrono::seconds(5));
  server_.Stop();
  auto message = MakeSysex(4700, 1);
  EXPECT_FALSE(link.Send(message));
  EXPECT_EQ(backend->In().GetNumDevs(), 0u);
  EXPECT_EQ(backend->Out().GetNumDevs(), 0u);
  link.Close();
  backend.reset();  // and no hang on the way out
}

using Clock = std::chrono::steady_clock;

// Counts the vanished notices of both ports, and when the first came.
struct Vanishings {
  explicit Vanishings(HostPorts& link) {
    link.In().SetVanishedNotice([this] { In(); });
    link.Out().SetVanishedNotice([this] { ++out; });
  }
  void In() {
    if (in++ == 0) inAt = Clock::now();
  }
  bool WaitForIn(std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    while (in == 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return in > 0;
  }
  std::atomic<int> in{0};
  std::atomic<int> out{0};
  Clock::time_point inAt;
};

TEST_F(JackDevicesTest, AFarClientThatGoesEndsItsDevicesAtOnceAndItsReturnIsFound) {
  StartEcho("TELVOR Q9");
  auto backend = OpenHost();
  ASSERT_NE(backend, nullptr);
  HostPorts link(*backend);
  Vanishings vanished(link);
  ASSERT_TRUE(link.Open("TELVOR Q9"));

  const auto gone = Clock::now();
  echo_.CloseInput();
  echo_.Stop(SIGTERM, std::chrono::seconds(5));
  ASSERT_TRUE(vanished.WaitForIn(std::chrono::seconds(2)));
  EXPECT_EQ(vanished.in.load(), 1);
  std::printf(
      "far client gone -> MIM_CLOSE: %lld ms\n",
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(vanished.inAt - gone).count()));
  const auto sending = Clock::now();
  EXPECT_FALSE(link.Send(MakeSysex(4700, 1)));
  EXPECT_LT(Clock::now() - sending, std::chrono::milliseconds(500)) << "not the completion limit";
  EXPECT_EQ(vanished.out.load(), 1);

  // The listed device is gone: its index opens nothing.
  link.Close();
  EXPECT_EQ(link.Out().Open(0), 0);
  StartEcho("TELVOR Q9");
  EXPECT_THAT(DeviceNames(backend->Out()), ElementsAre("TELVOR Q9"));
  ASSERT_TRUE(link.Open("TELVOR Q9"));
  const auto message = MakeSysex(4700, 2);
  ASSERT_TRUE(link.Send(message));
  EXPECT_TRUE(link.Receive(std::chrono::seconds(5)) == message);
}

TEST_F(JackDevicesTest, AMessageQueuedWhenTheServerDiesFailsAtOnceAndARestartIsFound) {
  StartEcho("TELVOR Q9");
  // A few bytes a cycle: a long message is still being written when the server stops.
  auto backend = OpenHost(/*cycleByteLimit=*/16);
  ASSERT_NE(backend, nullptr);
  HostPorts link(*backend);
  Vanishings vanished(link);
  ASSERT_TRUE(link.Open("TELVOR Q9"));

  std::atomic<bool> sent{true};
  Clock::time_point ended;
  std::thread sender([&] {
    sent = link.Send(MakeSysex(60000, 3));
    ended = Clock::now();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  server_.Crash();
  const auto stopped = Clock::now();
  sender.join();
  EXPECT_FALSE(sent.load());
  EXPECT_LT(ended - stopped, std::chrono::seconds(2)) << "not the 10 s completion limit";
  EXPECT_TRUE(vanished.WaitForIn(std::chrono::seconds(2)));
  echo_.CloseInput();
  echo_.Stop(SIGTERM, std::chrono::seconds(5));

  // Another server comes up: refilling the lists finds it and its devices. It stops first, at
  // the end of the test.
  JackServer restarted;
  ASSERT_TRUE(restarted.Start(&error_)) << error_;
  StartEcho("TELVOR Q9");
  EXPECT_THAT(DeviceNames(backend->In()), ElementsAre("TELVOR Q9"));
  ASSERT_TRUE(link.Open("TELVOR Q9"));
  const auto message = MakeSysex(300, 4);
  ASSERT_TRUE(link.Send(message));
  EXPECT_TRUE(link.Receive(std::chrono::seconds(5)) == message);
}

TEST_F(JackDevicesTest, OtherCopiesOfTheUpdaterAreNotListed) {
  StartEcho("TELVOR Q9");
  auto first = OpenHost(0, "TELVOR Q9 Updater");
  auto second = OpenHost(0, "TELVOR Q9 Updater");  // the server names it "...-01"
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  MidiOutHandle out = 0;
  ASSERT_EQ(first->Out().Open(&out, 0), MMSYSERR_NOERROR);
  EXPECT_THAT(DeviceNames(second->In()), ElementsAre("TELVOR Q9"));
  EXPECT_THAT(DeviceNames(second->Out()), ElementsAre("TELVOR Q9"));
  EXPECT_EQ(first->Out().Close(out), MMSYSERR_NOERROR);
}

// Not a fixture test: there must be no server at all.
TEST(JackWithoutServerTest, NothingOpensAndNoServerIsStarted) {
  const std::string name = JackServer::UniqueName();
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  std::string error;
  EXPECT_EQ(OpenJackMidi(&error), nullptr);
  EXPECT_EQ(error, "no JACK server is running");
  error.clear();
  EXPECT_EQ(OpenJackEndpoint("TELVOR Q9", &error), nullptr);
  EXPECT_EQ(error, "no JACK server is running");

  // A started server would have left its socket under /dev/shm by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  bool serverSocket = false;
  if (DIR* dir = opendir("/dev/shm")) {
    while (dirent* entry = readdir(dir)) {
      serverSocket = serverSocket || std::string(entry->d_name).find(name) != std::string::npos;
    }
    closedir(dir);
  }
  EXPECT_FALSE(serverSocket);
  unsetenv("JACK_DEFAULT_SERVER");
}

}  // namespace
}  // namespace kv5::test
