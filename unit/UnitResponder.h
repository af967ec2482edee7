// The virtual unit's protocol logic without threads or timing: takes one received message,
// checks it strictly, acts on the flash, applies the fault plan, and says what to send back.
// The threaded VirtualUnit drives it; tests may drive it directly with bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "unit/FaultPlan.h"
#include "unit/FlashModel.h"
#include "unit/UnitCodes.h"
#include "unit/UnitConfig.h"
#include "unit/UnitTranscript.h"

namespace kv5 {

struct ParsedMessage;

// One message the unit sends, `delay` after the moment it finished handling the message that
// caused it.
struct Outgoing {
  enum class Role : uint8_t { Answer, Injected, OwnRequest };
  std::vector<uint8_t> bytes;
  std::chrono::milliseconds delay{0};
  Role role = Role::Answer;
};

struct Reaction {
  TranscriptEntry entry;           // as also appended to the transcript
  std::vector<Outgoing> messages;  // in sending order
};

class UnitResponder {
 public:
  explicit UnitResponder(const UnitConfig& config);

  // Handles one received message (any bytes). `at` is stamped into the transcript entry.
  Reaction Handle(const uint8_t* bytes, size_t length,
                  std::chrono::microseconds at = std::chrono::microseconds{0});
  // Builds one of the unit's own requests and notes it as awaiting the host's answer. Empty
  // when the unit has gone silent.
  std::vector<uint8_t> MakeRequest(UnitRequest request);
  void Schedule(const ScheduledRequest& scheduled);
  void AddFault(Fault fault);
  void ClearFaults() { config_.faults = FaultPlan(); }

  // Power cycle: the flash stays, update mode is as given, nothing is entered.
  void PowerUp(bool updateMode);
  // Refills the whole flash as the unit would leave the factory, an older firmware, or an update.
  void ResetFlash(InitialFlash state);
  void SetDeviceCode(const std::array<uint8_t, 4>& code) { config_.deviceCode = code; }

  const FlashModel& Flash() const { return flash_; }
  FlashModel& MutableFlash() { return flash_; }
  const std::vector<TranscriptEntry>& Transcript() const { return transcript_; }
  void ClearTranscript() { transcript_.clear(); }
  const KindCounts& Counts() const { return counts_; }
  uint32_t Count(MessageKind kind) const;
  const std::vector<HostAnswer>& HostAnswers() const { return hostAnswers_; }
  bool InUpdateMode() const { return updateMode_; }
  bool UpdateEntered() const { return entered_; }
  bool Silent() const { return silent_; }
  uint8_t ModelByte() const { return config_.deviceCode[0]; }
  const UnitConfig& Config() const { return config_; }

 private:
  void Act(const ParsedMessage& parsed, TranscriptEntry& entry,
           std::vector<std::vector<uint8_t>>& answer);
  void ActOnRead(const ParsedMessage& parsed, TranscriptEntry& entry,
                 std::vector<std::vector<uint8_t>>& answer);
  void RecordHostAnswer(const ParsedMessage& parsed, const uint8_t* bytes, size_t length);
  uint8_t GuardUpdate() const;
  void FireScheduled(MessageKind kind, uint32_t occurrence, bool beforeAnswer,
                     std::chrono::milliseconds delay, std::vector<Outgoing>& messages);

  UnitConfig config_;
  FlashModel flash_;
  bool updateMode_ = false;
  bool entered_ = false;
  bool silent_ = false;
  uint64_t received_ = 0;
  KindCounts counts_{};
  std::vector<TranscriptEntry> transcript_;
  std::vector<HostAnswer> hostAnswers_;
  std::deque<UnitRequest> outstanding_;
  std::vector<ScheduledRequest> scheduled_;
};

}  // namespace kv5
