// A unit for session tests, answering each request the way a test's script says: the usual reply
// (identity reply, result code, read reply from its flash), nothing, a late answer, a failed
// send, or the window's abort at that moment. Its own requests can be queued ahead of an answer.
// Replies go into the received queue, as the input port would put them, and the poller is woken.
// It keeps a plain 2 MiB flash (erases fill 0xFF, good writes land) so a test can compare it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firmware/FirmwarePackage.h"
#include "protocol/ExchangeState.h"
#include "protocol/ReceivedSysexQueue.h"

namespace kv5::test {

using Bytes = std::vector<uint8_t>;

// One request of the host as the unit saw it.
struct UnitRequest {
  std::string kind;  // as MessageKind: "identify", "enter", "erase", "write", "finish", "read"
  int index = 0;     // requests of this kind that came before it
  uint8_t modelByte = 0;
  uint32_t address = 0;    // erase, write, read
  uint32_t size = 0;       // erase: region size; write: data bytes; read: length asked for
  bool checksumOk = true;  // write
};

struct UnitAnswer {
  enum class Action {
    Reply,                // the usual reply (or replaceWith)
    Drop,                 // no answer at all
    Hold,                 // the reply goes out just before the unit handles its next request
    FailSend,             // the host's send fails; the unit never sees the request
    AbortInstead,         // the window aborts now, and no answer follows
    AbortThenReply,       // the window aborts, then the reply still reaches the queue
    AbortLater,           // no answer; the window aborts delayMs later, while the host waits
    ReplyThenAbortLater,  // the usual reply, and the window aborts delayMs later
  };
  Action action = Action::Reply;
  int code = 0;               // result code of the reply to enter, erase, write and finish
  std::vector<Bytes> before;  // the unit's own messages, queued ahead of the answer
  Bytes replaceWith;          // when not empty, sent instead of the usual reply
  uint32_t delayMs = 0;       // AbortLater
};

UnitAnswer Reply(int code = 0);
UnitAnswer Drop();
UnitAnswer With(UnitAnswer::Action action, uint32_t delayMs = 0);
UnitAnswer Send(Bytes message);

// The messages a unit sends: its identity reply and a read reply (checksum broken on request).
Bytes UnitIdentityReply(const DeviceCodeBytes& code);
Bytes UnitReadReply(const Bytes& data, bool goodChecksum = true);
Bytes UnitResult(int code);

class ScriptedUnit {
 public:
  using Script = std::function<UnitAnswer(const UnitRequest&)>;

  ScriptedUnit(ReceivedSysexQueue& queue, ExchangeState& state, std::function<void()> wake);
  ~ScriptedUnit();
  ScriptedUnit(const ScriptedUnit&) = delete;
  ScriptedUnit& operator=(const ScriptedUnit&) = delete;

  // The host's link: every message the host sends. -1 when the script fails the send.
  int Receive(const uint8_t* bytes, uint32_t length);

  // The script for one kind of request; without one every request gets the usual reply.
  void On(const std::string& kind, Script script);
  void SetDeviceCode(const DeviceCodeBytes& code);
  void SetFlash(uint32_t address, const Bytes& bytes);

  Bytes Flash(uint32_t address, uint32_t count) const;
  // True when the region's flash holds its image, and erased flash behind the image's end.
  bool RegionHoldsImage(const FlashRegion& region) const;
  bool RegionErased(const FlashRegion& region) const;
  // The host's requests in order, and the answers of its poller (results, identity replies).
  std::vector<UnitRequest> Requests() const;
  std::vector<Bytes> PollerAnswers() const;
  int CountOf(const std::string& kind) const;

 private:
  UnitRequest Parse(const uint8_t* bytes, uint32_t length);
  Bytes UsualReply(const UnitRequest& request, int code);
  void Apply(const UnitRequest& request, const uint8_t* bytes, uint32_t length);
  void Deliver(const Bytes& message);

  ReceivedSysexQueue& queue_;
  ExchangeState& state_;
  std::function<void()> wake_;
  mutable std::mutex lock_;
  std::map<std::string, Script> scripts_;
  std::map<std::string, int> counts_;
  DeviceCodeBytes deviceCode_{0x4D, 0x00, 0x12, 0x00};
  Bytes flash_;
  Bytes held_;
  std::vector<UnitRequest> requests_;
  std::vector<Bytes> pollerAnswers_;
  std::vector<std::thread> laterAborts_;
};

}  // namespace kv5::test
