#include "unit/UnitTranscript.h"

#include <cstdio>
#include <initializer_list>
#include <map>
#include <string_view>

namespace kv5 {
namespace {

std::string Hex6(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", value);
  return text;
}

bool HasAddress(MessageKind kind) {
  return kind == MessageKind::FlashErase || kind == MessageKind::FlashWrite ||
         kind == MessageKind::MemoryRead;
}

void Append(std::string& text, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts) text += part;
}

std::string FaultList(uint32_t faults) {
  std::string text;
  for (unsigned bit = 0; bit < 32; ++bit) {
    if (!((faults >> bit) & 1u)) continue;
    text += text.empty() ? " [" : ", ";
    text += FaultActionName(static_cast<FaultAction>(bit));
  }
  if (!text.empty()) text += "]";
  return text;
}

}  // namespace

std::string DescribeEntry(const TranscriptEntry& entry) {
  std::string text;
  Append(text, {"#", std::to_string(entry.sequence), " ", KindName(entry.kind)});
  if (HasAddress(entry.kind) && entry.verdict == 0) {
    Append(text, {" ", Hex6(entry.address), " +", std::to_string(entry.length)});
  }
  if (entry.verdict != 0) Append(text, {" (", ResultCodeName(entry.verdict), ")"});
  switch (entry.answer) {
    case AnswerKind::None:
      text += " -> no answer";
      break;
    case AnswerKind::Result:
      Append(text, {" -> result ", std::to_string(entry.code)});
      break;
    case AnswerKind::ReadReply:
      text += " -> read reply";
      break;
    case AnswerKind::IdentityReply:
      text += " -> identity reply";
      break;
  }
  if (entry.HadFault(FaultAction::DropAnswer) && entry.answer != AnswerKind::None) {
    text += " (dropped)";
  }
  text += FaultList(entry.faults);
  return text;
}

std::string SummarizeTranscript(const std::vector<TranscriptEntry>& transcript) {
  KindCounts counts{};
  std::map<int, uint32_t> refusals;
  std::map<unsigned, uint32_t> faults;
  uint64_t erased = 0;
  uint64_t written = 0;
  for (const TranscriptEntry& entry : transcript) {
    ++counts[static_cast<size_t>(entry.kind)];
    if (entry.answer == AnswerKind::Result && entry.code != 0) ++refusals[entry.code];
    for (unsigned bit = 0; bit < 32; ++bit) {
      if ((entry.faults >> bit) & 1u) ++faults[bit];
    }
    const bool done = entry.answer == AnswerKind::Result && entry.code == 0 &&
                      !entry.HadFault(FaultAction::AnswerCode);
    if (done && entry.kind == MessageKind::FlashErase) erased += entry.length;
    if (done && entry.kind == MessageKind::FlashWrite) written += entry.length;
  }
  std::string text;
  Append(text, {"received ", std::to_string(transcript.size()), " messages:"});
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    Append(text, {" ", KindName(static_cast<MessageKind>(i)), " ", std::to_string(counts[i])});
  }
  Append(text, {"\nerased ", std::to_string(erased), " bytes, wrote ", std::to_string(written),
                " bytes"});
  if (!refusals.empty()) {
    text += "\nrefused:";
    for (const auto& [code, n] : refusals) {
      Append(text, {" ", std::to_string(n), " x code ", std::to_string(code), " (",
                    ResultCodeName(code), ")"});
    }
  }
  if (!faults.empty()) {
    text += "\nfaults applied:";
    for (const auto& [bit, n] : faults) {
      Append(text, {" ", FaultActionName(static_cast<FaultAction>(bit)), " ", std::to_string(n)});
    }
  }
  text += "\n";
  return text;
}

}  // namespace kv5
