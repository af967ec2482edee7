// Small pieces the session tests build their unit scripts and expectations from.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedUnit.h"
#include "session/StringTable.h"

namespace kv5::test {

// The four characters of a stamp.
inline Bytes Ascii4(const char* text) {
  return Bytes(text, text + 4);
}

inline std::vector<UnitAnswer> Repeat(const UnitAnswer& answer, int times) {
  return std::vector<UnitAnswer>(static_cast<size_t>(times), answer);
}

inline std::vector<UnitAnswer> operator+(std::vector<UnitAnswer> first,
                                         const std::vector<UnitAnswer>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// Answers the attempts at one address in turn from its list; the usual reply once it ran out.
inline ScriptedUnit::Script PerAddress(std::map<uint32_t, std::vector<UnitAnswer>> answers) {
  auto attempts = std::make_shared<std::map<uint32_t, size_t>>();
  return [answers = std::move(answers), attempts](const UnitRequest& request) {
    const auto list = answers.find(request.address);
    if (list == answers.end()) return Reply();
    const size_t attempt = (*attempts)[request.address]++;
    return attempt < list->second.size() ? list->second[attempt] : Reply();
  };
}

// Answers the n-th request of a kind from the list; the usual reply for the others.
inline ScriptedUnit::Script PerIndex(std::map<int, UnitAnswer> answers) {
  return [answers = std::move(answers)](const UnitRequest& request) {
    const auto found = answers.find(request.index);
    return found == answers.end() ? Reply() : found->second;
  };
}

inline ScriptedUnit::Script Always(UnitAnswer answer) {
  return [answer](const UnitRequest&) { return answer; };
}

inline std::string ErrorEvent(int stringId) {
  return "error:" + LoadString(stringId);
}
inline std::string StatusEvent(int stringId) {
  return "status:" + LoadString(stringId);
}

// The last n events.
inline std::vector<std::string> Tail(const std::vector<std::string>& events, size_t n) {
  return std::vector<std::string>(events.end() - static_cast<long>(std::min(n, events.size())),
                                  events.end());
}

// The worker's requests among the events (the poller's answers left out).
inline std::vector<std::string> WorkerSends(const std::vector<std::string>& events) {
  std::vector<std::string> sends;
  for (const std::string& event : events)
    if (event.rfind("send:", 0) == 0 && event != "send:result" && event != "send:identity-reply")
      sends.push_back(event);
  return sends;
}

}  // namespace kv5::test
