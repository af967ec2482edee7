// A simulated TELVOR Q9 on the far side of a MidiEndpoint (loopback, JACK, ALSA sequencer): it
// answers the update protocol from a modelled flash, injects the faults of its plan, paces its
// link when asked, sends requests of its own, and records everything for inspection.
//
//   LoopbackMidi midi;
//   UnitConfig config;
//   config.faults.DropAnswer(MessageKind::FlashWrite, Occurrence::Nth(3));
//   VirtualUnit unit(midi.AddDevice("TELVOR Q9"), config);
//   unit.Start();
//   ... run the updater against device 0 ...
//   unit.WaitIdle(std::chrono::seconds(5));
//   EXPECT_TRUE(unit.VerifyPackage().ok);
//
// Received messages are queued by the endpoint's receiver and handled in arrival order on the
// unit's own thread; every accessor may be called from any thread while it runs.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi/MidiEndpoint.h"
#include "unit/FaultPlan.h"
#include "unit/PackageCheck.h"
#include "unit/UnitCodes.h"
#include "unit/UnitConfig.h"
#include "unit/UnitTranscript.h"

namespace kv5 {

class VirtualUnit {
 public:
  // The endpoint must outlive the unit. The flash is filled from config.initialFlash here.
  VirtualUnit(MidiEndpoint& endpoint, UnitConfig config);
  ~VirtualUnit();  // Stop()
  VirtualUnit(const VirtualUnit&) = delete;
  VirtualUnit& operator=(const VirtualUnit&) = delete;

  // Installs the receiver and starts the unit's thread. False when already started (a stopped
  // unit does not start again).
  bool Start();
  // Ends the thread; answers still waiting for their delay are discarded. Messages arriving
  // afterwards are ignored. Idempotent.
  void Stop();

  // Sends one of the unit's own requests now (after anything already due on the link). False
  // when not running or silent.
  bool SendRequest(UnitRequest request);
  // Sends it when the given message is handled, e.g. after the 5th FlashWrite.
  void ScheduleRequest(const ScheduledRequest& scheduled);
  // Sends bytes as they stand, in order with the unit's other output. False when not running.
  bool SendRaw(std::vector<uint8_t> bytes);
  // Adds a fault to the plan while running; occurrences count from the unit's start.
  void AddFault(Fault fault);
  // Empties the fault plan: from the next message on the unit answers faithfully.
  void ClearFaults();
  // Power cycle: keeps the flash, sets the mode, forgets an entered update and wakes a unit
  // that went silent.
  void PowerUp(bool updateMode);
  // Refills the whole flash (between runs of a soak test, say).
  void ResetFlash(InitialFlash state);
  void SetDeviceCode(const std::array<uint8_t, 4>& code);

  // True once every message received so far has been handled and every answer caused by it,
  // delayed ones included, has been sent; false when the timeout ran out first.
  bool WaitIdle(std::chrono::milliseconds timeout);
  // True once `count` messages of `kind` (Any: of all kinds) have been handled (their answers
  // may still be on their way).
  bool WaitForCount(MessageKind kind, uint32_t count, std::chrono::milliseconds timeout);
  // True once the host has sent `count` answers to the unit's own requests.
  bool WaitForHostAnswers(size_t count, std::chrono::milliseconds timeout);

  std::vector<TranscriptEntry> Transcript() const;
  void ClearTranscript();
  // SummarizeTranscript of the transcript, and a line on the messages the link refused to send.
  std::string Summary() const;
  KindCounts Counts() const;
  uint32_t Count(MessageKind kind) const;  // Any: every message received
  std::vector<HostAnswer> HostAnswers() const;

  std::vector<uint8_t> Flash() const;                                      // a copy of all 2 MiB
  std::vector<uint8_t> ReadFlash(uint32_t address, uint32_t count) const;  // empty if out of range
  PackageVerification VerifyPackage(PackageSource source = PackageSource::BuildFiles) const;

  bool InUpdateMode() const;         // powered up in update mode and not finished since
  bool UpdateEntered() const;        // EnterUpdateMode accepted and no FinishUpdate since
  const UnitConfig& Config() const;  // as constructed

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace kv5
