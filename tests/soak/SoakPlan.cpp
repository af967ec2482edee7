#include "SoakPlan.h"

#include <algorithm>

#include "firmware/FirmwarePackage.h"

namespace kv5::soak {
namespace {

using std::chrono::milliseconds;
using Random = std::mt19937_64;

int Uniform(Random& random, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random);
}

bool Chance(Random& random, double probability) {
  return std::bernoulli_distribution(probability)(random);
}

template <typename T>
const T& PickOne(Random& random, const std::vector<T>& choices) {
  return choices[static_cast<size_t>(Uniform(random, 0, static_cast<int>(choices.size()) - 1))];
}

// A request kind a fault can aim at, how many of it a clean session sends, and how long the
// session waits for its answer.
struct Target {
  MessageKind kind;
  uint32_t count;
  milliseconds wait;
};

std::vector<Target> Targets(const SessionTiming& timing, bool bootSkipped) {
  // 368 chunks and 5 erases with the BOOT region, 293 and 4 without it.
  const uint32_t writes = bootSkipped ? 293 : 368;
  const uint32_t erases = bootSkipped ? 4 : 5;
  return {
      {MessageKind::Identity, 1, milliseconds(timing.IdentifyWaitMs)},
      {MessageKind::EnterUpdateMode, 1, milliseconds(timing.EnterUpdateModeWaitMs)},
      {MessageKind::MemoryRead, 1, milliseconds(timing.MemoryReadWaitMs)},
      {MessageKind::FlashErase, erases, milliseconds(timing.EraseWaitMs)},
      {MessageKind::FlashWrite, writes, milliseconds(timing.WriteWaitMs)},
      {MessageKind::FinishUpdate, 1, milliseconds(timing.FinishWaitMs)},
  };
}

// One write attempt that runs into its timeout.
milliseconds FailedAttempt(const SessionTiming& timing) {
  return milliseconds(timing.WriteWaitMs + timing.ResendPauseMs);
}

Fault MakeFault(MessageKind kind, Occurrence when, FaultAction action) {
  Fault fault;
  fault.kind = kind;
  fault.when = when;
  fault.action = action;
  return fault;
}

std::string Describe(const std::string& what, const std::vector<Fault>& faults) {
  std::string text = what;
  for (const Fault& fault : faults) {
    text += ' ';
    text += DescribeFault(fault);
  }
  return text;
}

// Seven-bit bytes (the last may be anything the caller puts there).
std::vector<uint8_t> RandomData(Random& random, int count) {
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(Uniform(random, 0, 0x7F));
  return bytes;
}

// Traffic the host must ignore or answer, never take as a reply: another maker's message, a
// vendor command the host does not handle, a truncated one, one without F0, one cut by a status
// byte, real-time bytes in between. (A well-formed reply that nobody asked for cannot be told
// from a real one by a stop-and-wait protocol, so it is not part of this fault model.)
std::vector<uint8_t> StrayMessage(Random& random) {
  std::vector<uint8_t> message;
  switch (Uniform(random, 0, 6)) {
    case 0:
      return FaultPlan::ForeignMessage();
    case 1:
      return FaultPlan::TruncatedVendorMessage();
    case 2:
      return FaultPlan::BytesWithoutF0();
    case 3: {  // another maker, random length
      message = {0xF0, static_cast<uint8_t>(Uniform(random, 0x01, 0x7C))};
      const std::vector<uint8_t> data = RandomData(random, Uniform(random, 0, 20));
      message.insert(message.end(), data.begin(), data.end());
      break;
    }
    case 4: {  // a vendor command the host answers with code 1 (or 03, which it ignores)
      const int command = Chance(random, 0.2) ? 0x03 : Uniform(random, 0x06, 0x5F);
      message = {0xF0, 0x7D, 0x00, 0x4D, static_cast<uint8_t>(command)};
      const std::vector<uint8_t> data = RandomData(random, Uniform(random, 0, 12));
      message.insert(message.end(), data.begin(), data.end());
      break;
    }
    case 5:  // a universal message that is no identity exchange
      message = {0xF0, 0x7E, 0x00, static_cast<uint8_t>(Uniform(random, 0x07, 0x7F)), 0x01};
      break;
    default: {  // a vendor message broken off by a status byte: the input drops it
      message = {0xF0, 0x7D, 0x00, 0x4D, 0x00, static_cast<uint8_t>(Uniform(random, 0x80, 0xEF)),
                 0x00};
      break;
    }
  }
  message.push_back(0xF7);
  if (Chance(random, 0.3)) {  // a clock or active-sensing byte inside: taken out by the input
    const size_t at = static_cast<size_t>(Uniform(random, 1, static_cast<int>(message.size()) - 1));
    message.insert(message.begin() + static_cast<long>(at), Chance(random, 0.5) ? 0xF8 : 0xFE);
  }
  return message;
}

enum class Category {
  Clean,
  DropRequest,
  DropAnswer,
  Late,
  Slow,
  ErrorCodes,
  CorruptRead,
  Stray,
  Silent,
  Close,
  WrongDevice,
  NotInUpdateMode,
};

Category DrawCategory(Random& random) {
  // Weights: the window closing and error codes are the most varied, so they come most often.
  static const std::vector<std::pair<Category, int>> weights = {
      {Category::Clean, 2},       {Category::DropRequest, 2}, {Category::DropAnswer, 2},
      {Category::Late, 2},        {Category::Slow, 1},        {Category::ErrorCodes, 3},
      {Category::CorruptRead, 1}, {Category::Stray, 2},       {Category::Silent, 2},
      {Category::Close, 3},       {Category::WrongDevice, 1}, {Category::NotInUpdateMode, 1},
  };
  int total = 0;
  for (const auto& weight : weights) total += weight.second;
  int pick = Uniform(random, 1, total);
  for (const auto& [category, weight] : weights) {
    if ((pick -= weight) <= 0) return category;
  }
  return Category::Clean;
}

// Which occurrences of a target a fault hits: one, or for writes a run of consecutive attempts
// (and for erases several), sometimes as long as the attempt limit `longRun`. A longRun of 0 asks
// for short runs only.
Occurrence DrawRun(Random& random, const Target& target, int longRun, uint32_t* length) {
  const uint32_t first = static_cast<uint32_t>(Uniform(random, 1, static_cast<int>(target.count)));
  int run = 1;
  if (target.kind == MessageKind::FlashWrite) {
    run = longRun > 0 && Chance(random, 0.25) ? Uniform(random, longRun - 2, longRun + 2)
                                              : Uniform(random, 1, 2);
  } else if (target.kind == MessageKind::FlashErase && longRun > 0) {
    run = Uniform(random, 1, 8);
  }
  *length = static_cast<uint32_t>(run);
  return Occurrence::Range(first, first + *length - 1);
}

}  // namespace

SessionTiming SoakTiming(double scale) {
  auto wait = [scale](uint32_t ms) { return static_cast<uint32_t>(ms * scale); };
  SessionTiming timing;
  timing.IdentifyWaitMs = wait(400);
  timing.EnterUpdateModeWaitMs = wait(400);
  timing.EnterUpdatePauseMs = 1;
  timing.MemoryReadWaitMs = wait(400);
  timing.EraseWaitMs = wait(400);
  timing.WriteWaitMs = wait(60);
  timing.ResendPauseMs = 2;
  timing.FinishWaitMs = wait(400);
  return timing;
}

uint64_t SessionSeed(uint64_t seed, uint32_t index) {
  // splitmix64 of the pair, so neighbouring sessions draw unrelated plans.
  uint64_t z = seed + 0x9E3779B97F4A7C15ull * (index + 1ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

SessionPlan DrawPlan(Random& random, const SessionTiming& timing, milliseconds cleanTime) {
  SessionPlan plan;
  const int flash = Uniform(random, 0, 3);
  plan.initialFlash = flash == 0   ? InitialFlash::Factory
                      : flash == 1 ? InitialFlash::Package
                                   : InitialFlash::OlderFirmware;
  plan.acceptIdenticalRewrite = Chance(random, 0.5);
  const bool bootSkipped = plan.initialFlash != InitialFlash::Factory;  // BOOT stamp "1.00"
  const std::vector<Target> targets = Targets(timing, bootSkipped);
  const Target& target = PickOne(random, targets);
  const bool write = target.kind == MessageKind::FlashWrite;
  const std::string flashName(InitialFlashName(plan.initialFlash));

  switch (DrawCategory(random)) {
    case Category::Clean:
      plan.label = "clean";
      plan.expectation = Expectation::Completes;
      break;
    case Category::DropRequest:
    case Category::DropAnswer: {
      const bool request = Chance(random, 0.5);
      uint32_t length = 1;
      const Occurrence when = DrawRun(random, target, timing.WriteAttempts, &length);
      plan.faults.push_back(MakeFault(
          target.kind, when, request ? FaultAction::DropRequest : FaultAction::DropAnswer));
      plan.label = Describe(request ? "lost request" : "lost answer", plan.faults);
      // Each lost write costs one timeout; any other loss ends the session at its timeout.
      plan.extraTime = write ? FailedAttempt(timing) *
                                   std::min<int>(static_cast<int>(length), timing.WriteAttempts)
                             : target.wait;
      break;
    }
    case Category::Late:
    case Category::Slow: {
      const bool late = Chance(random, 0.7);
      uint32_t length = 1;
      const Occurrence when = DrawRun(random, target, 0, &length);
      const int waitMs = static_cast<int>(target.wait.count());
      Fault fault = MakeFault(target.kind, when, FaultAction::Delay);
      fault.delay = late ? milliseconds(waitMs + Uniform(random, 1, waitMs))
                         : milliseconds(Uniform(random, 0, waitMs / 4));
      plan.faults.push_back(fault);
      plan.label = Describe(late ? "late answer" : "slow answer", plan.faults);
      // A late write answer is taken for the resend's, and every later chunk's answer arrives one
      // request late: each chunk may cost a resend from then on, and the session a second run.
      plan.extraTime = target.wait + fault.delay * static_cast<int>(length);
      if (write) plan.extraTime += cleanTime + milliseconds(timing.ResendPauseMs) * target.count;
      break;
    }
    case Category::ErrorCodes: {
      uint32_t length = 1;
      const Occurrence when = DrawRun(random, target, timing.WriteAttempts, &length);
      int code = Uniform(random, 2, 0x7F);
      if (code == 11 || (target.kind == MessageKind::EnterUpdateMode && Chance(random, 0.3))) {
        code = 11;
      }
      Fault fault = MakeFault(target.kind, when, FaultAction::AnswerCode);
      fault.code = static_cast<uint8_t>(code);
      plan.faults.push_back(fault);
      plan.label = Describe("error answers", plan.faults);
      plan.extraTime = milliseconds(timing.ResendPauseMs) * static_cast<int>(length) * 2;
      // Fewer errors than the attempt limits, and any answer to the finish, end in success.
      if ((write && length < static_cast<uint32_t>(timing.WriteAttempts)) ||
          (target.kind == MessageKind::FlashErase &&
           length < static_cast<uint32_t>(timing.EraseAttempts)) ||
          target.kind == MessageKind::FinishUpdate) {
        plan.expectation = Expectation::Completes;
      }
      break;
    }
    case Category::CorruptRead: {
      Fault fault =
          MakeFault(MessageKind::MemoryRead, Occurrence::Nth(1),
                    PickOne(random, std::vector<FaultAction>{FaultAction::CorruptChecksum,
                                                             FaultAction::CorruptReadCode,
                                                             FaultAction::CorruptReadSubCode}));
      if (fault.action == FaultAction::CorruptReadCode) {
        fault.code = static_cast<uint8_t>(Chance(random, 0.5) ? 0x01 : Uniform(random, 0x05, 0x7F));
      } else if (fault.action == FaultAction::CorruptReadSubCode) {
        fault.code = static_cast<uint8_t>(Uniform(random, 0x31, 0x7F));
      }
      plan.faults.push_back(fault);
      plan.label = Describe("corrupted read reply", plan.faults);
      break;
    }
    case Category::Stray: {
      const int injections = Uniform(random, 1, 6);
      for (int i = 0; i < injections; ++i) {
        const Target& at = PickOne(random, targets);
        Fault fault = MakeFault(
            at.kind,
            Occurrence::Nth(static_cast<uint32_t>(Uniform(random, 1, static_cast<int>(at.count)))),
            Chance(random, 0.5) ? FaultAction::InjectBefore : FaultAction::InjectAfter);
        fault.message = StrayMessage(random);
        plan.faults.push_back(fault);
      }
      // Requests of the unit's own, which the poller answers meanwhile. (Its command 02 is taken
      // as a successful reply, so it is a reply nobody asked for and left out, as above.)
      const int requests = Uniform(random, 0, 3);
      for (int i = 0; i < requests; ++i) {
        const Target& at = PickOne(random, targets);
        ScheduledRequest scheduled;
        scheduled.request =
            Chance(random, 0.25)
                ? UnitRequest::Identity()
                : UnitRequest::Vendor(PickOne(
                      random, std::vector<uint8_t>{0x01, 0x03, 0x04, 0x05, 0x06, 0x40, 0x61}));
        scheduled.after = at.kind;
        scheduled.occurrence =
            static_cast<uint32_t>(Uniform(random, 1, static_cast<int>(at.count)));
        scheduled.beforeAnswer = Chance(random, 0.5);
        plan.ownRequests.push_back(scheduled);
      }
      plan.label =
          Describe("stray traffic (+" + std::to_string(requests) + " own requests)", plan.faults);
      plan.expectation = Expectation::Completes;
      break;
    }
    case Category::Silent: {
      const Occurrence when = Occurrence::Nth(
          static_cast<uint32_t>(Uniform(random, 1, static_cast<int>(target.count))));
      plan.faults.push_back(MakeFault(target.kind, when, FaultAction::GoSilent));
      plan.label = Describe("unit goes silent", plan.faults);
      plan.extraTime = write ? FailedAttempt(timing) * timing.WriteAttempts : target.wait;
      plan.wakeForRecovery = true;
      break;
    }
    case Category::Close: {
      const int latest = static_cast<int>(cleanTime.count() * 6 / 5);
      plan.closeAfter = milliseconds(Uniform(random, 0, std::max(1, latest)));
      plan.label = "window closed after " + std::to_string(plan.closeAfter->count()) + " ms";
      plan.extraTime = *plan.closeAfter;
      break;
    }
    case Category::WrongDevice:
      plan.deviceCode =
          PickOne(random, std::vector<std::array<uint8_t, 4>>{{0x4D, 0x00, 0x22, 0x00},
                                                              {0x4E, 0x00, 0x02, 0x00},
                                                              {0x00, 0x00, 0x00, 0x00}});
      plan.label = "unit with a device code the package does not accept";
      break;
    case Category::NotInUpdateMode:
      plan.poweredUpNormally = true;
      plan.wakeForRecovery = true;
      plan.label = "unit powered up outside update mode";
      break;
  }
  plan.label += " [" + flashName + (plan.acceptIdenticalRewrite ? ", rewrites ok]" : "]");
  return plan;
}

SessionPlan Combine(SessionPlan first, const SessionPlan& second) {
  first.faults.insert(first.faults.end(), second.faults.begin(), second.faults.end());
  first.ownRequests.insert(first.ownRequests.end(), second.ownRequests.begin(),
                           second.ownRequests.end());
  first.poweredUpNormally = first.poweredUpNormally || second.poweredUpNormally;
  if (!first.deviceCode) first.deviceCode = second.deviceCode;
  if (!first.closeAfter) first.closeAfter = second.closeAfter;
  first.wakeForRecovery = first.wakeForRecovery || second.wakeForRecovery;
  first.expectation = Expectation::Any;
  first.extraTime += second.extraTime;
  first.label += " + " + second.label;
  return first;
}

}  // namespace kv5::soak
