// Two units of one model on USB, in the test machine of run-in-vm.sh --usb-midi: a second gadget
// "TELVOR Q9" on the second emulated controller. Both are unplugged, and the second comes back
// first, into the card number and the sequencer client number the first one had: a list entry
// of the first one must not open the second.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "GuestRig.h"
#include "platform/midi/alsa/AlsaMidi.h"

namespace kv5::guest {
namespace {

using namespace std::chrono_literals;

bool Write(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text << "\n";
  file.close();
  return !file.fail();
}

std::string Read(const std::string& path) {
  std::ifstream file(path);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return text;
}

// How many sequencer clients carry this name now ("Client  20 : "TELVOR Q9" [Kernel]").
int ClientsNamed(const std::string& name) {
  std::ifstream clients("/proc/asound/seq/clients");
  int count = 0;
  for (std::string line; std::getline(clients, line);) {
    if (line.rfind("Client ", 0) == 0 && line.find(" : \"" + name + "\" ") != std::string::npos)
      ++count;
  }
  return count;
}

bool WaitForClients(const std::string& name, int count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ClientsNamed(name) != count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

// The rig's gadget and a twin of it on the second controller (serial number 0002).
class UsbTwins : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* gadget = std::getenv("KV5_USB_GADGET");
    ASSERT_NE(gadget, nullptr) << "run in run-in-vm.sh --usb-midi";
    first_ = gadget;
    twin_ = first_.substr(0, first_.rfind('/')) + "/q9twin";
    ASSERT_EQ(mkdir(twin_.c_str(), 0755), 0);
    for (const char* folder :
         {"/strings/0x409", "/configs/c.1", "/configs/c.1/strings/0x409", "/functions/midi.usb0"})
      ASSERT_EQ(mkdir((twin_ + folder).c_str(), 0755), 0) << folder;
    ASSERT_TRUE(Write(twin_ + "/idVendor", "0x1209") && Write(twin_ + "/idProduct", "0x0001") &&
                Write(twin_ + "/strings/0x409/manufacturer", "TELVOR") &&
                Write(twin_ + "/strings/0x409/product", "TELVOR Q9") &&
                Write(twin_ + "/strings/0x409/serialnumber", "0002"));
    ASSERT_EQ(symlink((twin_ + "/functions/midi.usb0").c_str(),
                      (twin_ + "/configs/c.1/midi.usb0").c_str()),
              0);
    firstUdc_ = Read(first_ + "/UDC");
    firstUdc_.erase(firstUdc_.find_last_not_of("\n") + 1);
    twinUdc_ = firstUdc_.substr(0, firstUdc_.rfind('.')) + ".1";
    ASSERT_TRUE(Write(twin_ + "/UDC", twinUdc_));
    ASSERT_TRUE(WaitForClients("TELVOR Q9", 2));
  }

  void TearDown() override {
    // The twin goes; the first unit is plugged in again alone, on the card number it had.
    Write(twin_ + "/UDC", "");
    Write(first_ + "/UDC", "");
    unlink((twin_ + "/configs/c.1/midi.usb0").c_str());
    for (const char* folder : {"/configs/c.1/strings/0x409", "/configs/c.1", "/functions/midi.usb0",
                               "/strings/0x409", ""})
      rmdir((twin_ + folder).c_str());
    WaitForClients("TELVOR Q9", 0);
    Write(first_ + "/UDC", firstUdc_);
    EXPECT_TRUE(WaitForClients("TELVOR Q9", 1));
    EXPECT_TRUE(WaitForClients("f_midi", 1));
  }

  std::string first_;
  std::string twin_;
  std::string firstUdc_;
  std::string twinUdc_;
};

TEST_F(UsbTwins, AnEntryOfOneUnitDoesNotOpenItsTwinThatTookItsNumber) {
  std::string error;
  auto backend = OpenAlsaMidi(&error);
  ASSERT_NE(backend, nullptr) << error;
  const auto listed = DeviceNames(backend->Out());
  const int first = IndexOf(listed, "TELVOR Q9");
  const int twin = IndexOf(listed, "TELVOR Q9 (2)");
  ASSERT_GE(first, 0) << ::testing::PrintToString(listed);
  ASSERT_GE(twin, 0) << ::testing::PrintToString(listed);

  // Both unplugged; the twin comes back first, with the lowest numbers free: the first's.
  ASSERT_TRUE(Write(first_ + "/UDC", ""));
  ASSERT_TRUE(Write(twin_ + "/UDC", ""));
  ASSERT_TRUE(WaitForClients("TELVOR Q9", 0));
  ASSERT_TRUE(Write(twin_ + "/UDC", twinUdc_));
  ASSERT_TRUE(WaitForClients("TELVOR Q9", 1));

  MidiOutHandle handle = 0;
  EXPECT_EQ(backend->Out().Open(&handle, static_cast<uint32_t>(first)), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(backend->Out().Open(&handle, static_cast<uint32_t>(twin)), MMSYSERR_BADDEVICEID);
  // Listed anew, the twin is the one "TELVOR Q9" and opens.
  const auto relisted = DeviceNames(backend->Out());
  ASSERT_EQ(backend->Out().Open(&handle, static_cast<uint32_t>(IndexOf(relisted, "TELVOR Q9"))),
            MMSYSERR_NOERROR)
      << ::testing::PrintToString(relisted);
  EXPECT_EQ(backend->Out().Close(handle), MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace kv5::guest
