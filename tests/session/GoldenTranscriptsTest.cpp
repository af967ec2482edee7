// What goes on the wire, kept as files: a full update from a factory-fresh unit, one from older
// firmware (BOOT skipped) and a version check, each message with the unit's account of it and its
// bytes (a long one as its head, its tail and a checksum of the whole). A change in what the
// updater sends or how it answers shows as a difference of these files in review.
//
// KV5_WRITE_GOLDEN=1 writes the transcripts this build makes over the files, to be reviewed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "PortsHost.h"
#include "firmware/FirmwarePackage.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "protocol/SysexEncoding.h"
#include "session/UpdateWorker.h"
#include "session/VersionCheckWorker.h"
#include "support/FastTiming.h"
#include "unit/VirtualUnit.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;

// A message's bytes in hex; one longer than a line holds as its head, its tail and a checksum.
std::string WireText(const uint8_t* bytes, size_t length) {
  auto hex = [&](size_t from, size_t to) {
    std::string text;
    char byte[4];
    for (size_t i = from; i < to; ++i) {
      std::snprintf(byte, sizeof byte, i + 1 < to ? "%02X " : "%02X", bytes[i]);
      text += byte;
    }
    return text;
  };
  constexpr size_t kWhole = 24, kHead = 16, kTail = 6;
  if (length <= kWhole) return hex(0, length);
  char tail[64];
  std::snprintf(tail, sizeof tail, "  (%zu bytes, CRC-32 0x%08X)", length,
                SysexCrc32(bytes, static_cast<uint32_t>(length)));
  return hex(0, kHead) + " ... " + hex(length - kTail, length) + tail;
}

// Sits between the loopback device and the unit and notes every message that crosses, in order.
class WireRecorder : public MidiEndpoint {
 public:
  explicit WireRecorder(MidiEndpoint& device) : device_(device) {}
  void SetReceiver(Receiver receiver) override {
    device_.SetReceiver([this, receiver](const uint8_t* bytes, size_t length) {
      Note("-> ", bytes, length);
      receiver(bytes, length);
    });
  }
  bool Send(const uint8_t* bytes, size_t length) override {
    Note("<- ", bytes, length);
    return device_.Send(bytes, length);
  }
  std::string Name() const override { return device_.Name(); }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> hold(lock_);
    return lines_;
  }

 private:
  void Note(const char* direction, const uint8_t* bytes, size_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(direction + WireText(bytes, length));
  }
  MidiEndpoint& device_;
  std::mutex lock_;
  std::vector<std::string> lines_;
};

// Each message the host sent, under the unit's line for it, followed by the unit's answers.
std::string Transcript(const std::vector<std::string>& wire,
                       const std::vector<TranscriptEntry>& entries) {
  std::string text;
  size_t received = 0;
  for (const std::string& line : wire) {
    if (line.rfind("-> ", 0) == 0 && received < entries.size()) {
      text += DescribeEntry(entries[received++]) + "\n";
    }
    text += line + "\n";
  }
  return text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The first line where the two differ, for the failure message.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  std::istringstream a(expected), b(actual);
  std::string left, right;
  for (int line = 1;; ++line) {
    const bool more = static_cast<bool>(std::getline(a, left));
    const bool moreActual = static_cast<bool>(std::getline(b, right));
    if (!more && !moreActual) return "none";
    if (!more || !moreActual || left != right) {
      return "line " + std::to_string(line) + ":\n  file:  " + (more ? left : "(end)") +
             "\n  now:   " + (moreActual ? right : "(end)");
    }
  }
}

struct Scenario {
  const char* file;
  InitialFlash flash;
  int (*worker)(SessionHost&);
};

TEST(GoldenTranscripts, TheWireMatchesTheKeptTranscripts) {
  const Scenario scenarios[] = {
      {"update-from-factory.txt", InitialFlash::Factory, &UpdateWorker},
      {"update-from-older.txt", InitialFlash::OlderFirmware, &UpdateWorker},
      {"version-check.txt", InitialFlash::OlderFirmware, &VersionCheckWorker},
  };
  // The files hold the synthetic test package's bytes.
  if (!IsTestPackage()) GTEST_SKIP() << "a build that carries a firmware release";
  const bool write = std::getenv("KV5_WRITE_GOLDEN") != nullptr;
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.file);
    LoopbackMidi midi;
    WireRecorder wire(midi.AddDevice("TELVOR Q9"));
    UnitConfig config;
    config.initialFlash = scenario.flash;
    VirtualUnit unit(wire, config);
    ASSERT_TRUE(unit.Start());
    {
      ExchangeState state;
      const auto timer = MakeSystemTimerServices();
      // Waits that only a lost message would run out: no resend changes the transcript.
      test::PortsHost host(state, FastTiming(10000), midi, *timer);
      ASSERT_TRUE(host.Open(0, 0));
      EXPECT_EQ(scenario.worker(host), 0);
      EXPECT_TRUE(host.EventsStartingWith("error:").empty());
    }
    ASSERT_TRUE(unit.WaitIdle(5s));
    const std::string actual = Transcript(wire.Lines(), unit.Transcript());
    const std::string path = std::string(KV5_GOLDEN_DIR) + "/" + scenario.file;
    if (write) {
      std::ofstream(path) << actual;
      continue;
    }
    const std::string expected = ReadFile(path);
    EXPECT_TRUE(expected == actual)
        << "the wire differs from " << path << " at " << FirstDifference(expected, actual)
        << "\n(KV5_WRITE_GOLDEN=1 writes this build's transcripts over the files)";
  }
}

}  // namespace
}  // namespace kv5
