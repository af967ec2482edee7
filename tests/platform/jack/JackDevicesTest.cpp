// The JACK backend's device lists, opening and closing, and its behaviour without a server.
#include <dirent.h>
#include <gmock/gmock.h>
#include <signal.h>

#include <chrono>
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
