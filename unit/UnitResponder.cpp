#include "unit/UnitResponder.h"

#include <algorithm>

#include "protocol/SysexEncoding.h"
#include "unit/PackageCheck.h"
#include "unit/RequestParser.h"
#include "unit/UnitMessages.h"

namespace kv5 {
namespace {

uint32_t Bit(FaultAction action) {
  return 1u << static_cast<unsigned>(action);
}

const Fault* FirstOf(const std::vector<const Fault*>& faults, FaultAction action) {
  for (const Fault* fault : faults) {
    if (fault->action == action) return fault;
  }
  return nullptr;
}

// Read replies: 0..4 head, 5 reply code, 6 sub-code, 7..8 tag, 9..10 count, data, checksum, F7.
void CorruptReadReply(std::vector<uint8_t>& reply, const Fault& fault) {
  switch (fault.action) {
    case FaultAction::CorruptChecksum: {
      const size_t field = reply.size() - 6;
      const uint32_t checksum = DecodeSeptet32(&reply[field]) + 1;
      EncodeSeptet32(checksum, &reply[field]);
      break;
    }
    case FaultAction::CorruptReadCode:
      reply[5] = fault.code & 0x7F;
      break;
    case FaultAction::CorruptReadSubCode:
      reply[6] = fault.code & 0x7F;
      break;
    default:
      break;
  }
}

}  // namespace

UnitResponder::UnitResponder(const UnitConfig& config)
    : config_(config), updateMode_(config.updateMode), scheduled_(config.ownRequests) {
  LoadInitialFlash(flash_, config.initialFlash);
}

uint32_t UnitResponder::Count(MessageKind kind) const {
  if (kind == MessageKind::Any) return static_cast<uint32_t>(received_);
  return counts_[static_cast<size_t>(kind)];
}

void UnitResponder::AddFault(Fault fault) {
  config_.faults.Add(std::move(fault));
}

void UnitResponder::Schedule(const ScheduledRequest& scheduled) {
  scheduled_.push_back(scheduled);
}

void UnitResponder::PowerUp(bool updateMode) {
  updateMode_ = updateMode;
  entered_ = false;
  silent_ = false;
}

void UnitResponder::ResetFlash(InitialFlash state) {
  LoadInitialFlash(flash_, state);
}

std::vector<uint8_t> UnitResponder::MakeRequest(UnitRequest request) {
  if (silent_) return {};
  outstanding_.push_back(request);
  return UnitRequestMessage(ModelByte(), request);
}

Reaction UnitResponder::Handle(const uint8_t* bytes, size_t length, std::chrono::microseconds at) {
  const ParsedMessage parsed = ParseReceived(bytes, length, ModelByte(), config_.maxWriteBytes);
  ++received_;
  const uint32_t occurrence = ++counts_[static_cast<size_t>(parsed.kind)];

  Reaction reaction;
  TranscriptEntry& entry = reaction.entry;
  entry.sequence = received_;
  entry.at = at;
  entry.kind = parsed.kind;
  entry.occurrence = occurrence;
  entry.address = parsed.address;
  entry.length = parsed.length;
  entry.messageLength = static_cast<uint32_t>(length);
  entry.verdict = parsed.verdict;

  std::vector<const Fault*> faults;
  if (!silent_) {
    faults = config_.faults.Match(parsed.kind, occurrence, static_cast<uint32_t>(received_));
  }
  for (const Fault* fault : faults) {
    entry.faults |= Bit(fault->action);
    if (fault->action == FaultAction::GoSilent) silent_ = true;
  }
  if (silent_) {
    transcript_.push_back(entry);
    return reaction;
  }

  std::vector<std::vector<uint8_t>> answer;
  if (!FirstOf(faults, FaultAction::DropRequest)) {
    if (parsed.kind == MessageKind::HostResult || parsed.kind == MessageKind::HostIdentity) {
      RecordHostAnswer(parsed, bytes, length);
    }
    if (parsed.answerable) {
      if (const Fault* fault = FirstOf(faults, FaultAction::AnswerCode)) {
        // Refused as the plan says, without touching the flash or the mode.
        answer.push_back(UnitResultMessage(ModelByte(), fault->code));
        entry.answer = AnswerKind::Result;
        entry.code = fault->code & 0x7F;
      } else {
        Act(parsed, entry, answer);
      }
    }
  }
  if (entry.answer == AnswerKind::ReadReply) {
    for (const Fault* fault : faults) {
      for (auto& reply : answer) CorruptReadReply(reply, *fault);
    }
  }
  if (FirstOf(faults, FaultAction::DropAnswer)) answer.clear();

  std::chrono::milliseconds delay{0};
  for (const Fault* fault : faults) {
    if (fault->action == FaultAction::Delay) delay += fault->delay;
  }
  auto& out = reaction.messages;
  for (const Fault* fault : faults) {
    if (fault->action == FaultAction::InjectBefore) {
      out.push_back({fault->message, delay, Outgoing::Role::Injected});
    }
  }
  FireScheduled(parsed.kind, occurrence, true, delay, out);
  for (auto& message : answer) out.push_back({std::move(message), delay, Outgoing::Role::Answer});
  for (const Fault* fault : faults) {
    if (fault->action == FaultAction::InjectAfter) {
      out.push_back({fault->message, delay, Outgoing::Role::Injected});
    }
  }
  FireScheduled(parsed.kind, occurrence, false, delay, out);
  transcript_.push_back(entry);
  return reaction;
}

void UnitResponder::FireScheduled(MessageKind kind, uint32_t occurrence, bool beforeAnswer,
                                  std::chrono::milliseconds delay,
                                  std::vector<Outgoing>& messages) {
  for (auto it = scheduled_.begin(); it != scheduled_.end();) {
    const bool due =
        it->beforeAnswer == beforeAnswer &&
        (it->after == MessageKind::Any ? it->occurrence == received_
                                       : it->after == kind && it->occurrence == occurrence);
    if (!due) {
      ++it;
      continue;
    }
    messages.push_back({MakeRequest(it->request), delay, Outgoing::Role::OwnRequest});
    it = scheduled_.erase(it);
  }
}

uint8_t UnitResponder::GuardUpdate() const {
  if (!updateMode_) return unitcode::kUpdateModeOff;
  if (!entered_) return unitcode::kUpdateNotEntered;
  return unitcode::kOk;
}

void UnitResponder::Act(const ParsedMessage& parsed, TranscriptEntry& entry,
                        std::vector<std::vector<uint8_t>>& answer) {
  auto result = [&](uint8_t code) {
    answer.push_back(UnitResultMessage(ModelByte(), code));
    entry.answer = AnswerKind::Result;
    entry.code = code;
  };
  if (parsed.verdict != unitcode::kOk) {
    result(parsed.verdict);
    return;
  }
  switch (parsed.kind) {
    case MessageKind::Identity:
      answer.push_back(UnitIdentityReply(config_.deviceId, config_.deviceCode, config_.revision));
      entry.answer = AnswerKind::IdentityReply;
      return;
    case MessageKind::EnterUpdateMode:
      if (!updateMode_) {
        result(unitcode::kNotInUpdateMode);
        return;
      }
      entered_ = true;
      result(unitcode::kOk);
      return;
    case MessageKind::FinishUpdate: {
      const uint8_t code = GuardUpdate();
      if (code == unitcode::kOk) {
        // The unit restarts into its normal firmware.
        entered_ = false;
        updateMode_ = false;
      }
      result(code);
      return;
    }
    case MessageKind::FlashErase: {
      uint8_t code = GuardUpdate();
      if (code == unitcode::kOk) {
        code = static_cast<uint8_t>(flash_.Erase(parsed.address, parsed.length));
      }
      result(code);
      return;
    }
    case MessageKind::FlashWrite: {
      uint8_t code = GuardUpdate();
      if (code == unitcode::kOk) {
        code = static_cast<uint8_t>(flash_.Write(parsed.address, parsed.data.data(), parsed.length,
                                                 config_.acceptIdenticalRewrite));
      }
      result(code);
      return;
    }
    case MessageKind::MemoryRead:
      ActOnRead(parsed, entry, answer);
      return;
    case MessageKind::UnknownCommand:
      result(unitcode::kUnknownCommand);
      return;
    default:
      return;
  }
}

void UnitResponder::ActOnRead(const ParsedMessage& parsed, TranscriptEntry& entry,
                              std::vector<std::vector<uint8_t>>& answer) {
  if (!FlashModel::InRange(parsed.address, parsed.length)) {
    answer.push_back(UnitResultMessage(ModelByte(), unitcode::kOutOfRange));
    entry.answer = AnswerKind::Result;
    entry.code = unitcode::kOutOfRange;
    return;
  }
  // Long reads go out as several replies, which the host appends in arrival order.
  const uint32_t chunk =
      std::max<uint32_t>(1, std::min<uint32_t>(config_.maxReadReplyBytes, 16383));
  uint32_t offset = 0;
  uint32_t tag = 0;
  do {
    const uint32_t count = std::min(chunk, parsed.length - offset);
    answer.push_back(
        UnitReadReply(ModelByte(), tag++, flash_.Data() + parsed.address + offset, count));
    offset += count;
  } while (offset < parsed.length);
  entry.answer = AnswerKind::ReadReply;
}

void UnitResponder::RecordHostAnswer(const ParsedMessage& parsed, const uint8_t* bytes,
                                     size_t length) {
  HostAnswer answer;
  answer.kind = parsed.kind;
  answer.bytes.assign(bytes, bytes + length);
  answer.code = parsed.hostCode;
  if (!outstanding_.empty()) {
    answer.request = outstanding_.front();
    outstanding_.pop_front();
  }
  hostAnswers_.push_back(std::move(answer));
}

}  // namespace kv5
