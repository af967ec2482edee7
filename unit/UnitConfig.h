// How a virtual unit starts: its flash, its power-up mode, its device code, the faults it injects,
// how fast its link is, and the requests of its own it sends at chosen moments.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "unit/FaultPlan.h"
#include "unit/UnitCodes.h"

namespace kv5 {

enum class InitialFlash : uint8_t {
  Factory,        // erased throughout (0xFF)
  OlderFirmware,  // the package's images at their regions, but stamps SYSTEM "1.10",
                  // PRESET "1.00", BOOT "1.00" and a SUBMCU stamp of four 0xFF bytes
  Package,        // exactly what a completed update leaves
};
std::string_view InitialFlashName(InitialFlash state);  // "factory", "older", "package"

// The link's speed and the unit's flash timing. All zero (the default) means no pacing at all.
struct LinkPacing {
  uint32_t bytesPerSecond = 0;            // both directions; 0 = unlimited
  std::chrono::microseconds perErase{0};  // time one FlashErase takes before it is answered
  std::chrono::microseconds perWrite{0};  // time one FlashWrite takes before it is answered

  static constexpr uint32_t kDinBytesPerSecond = 3125;       // 31250 baud, 10 bits a byte
  static constexpr uint32_t kUsbBytesPerSecond = 1'000'000;  // a full-speed USB-MIDI figure
  static LinkPacing None() { return {}; }
  static LinkPacing Din() { return {kDinBytesPerSecond, {}, {}}; }
  static LinkPacing Usb() { return {kUsbBytesPerSecond, {}, {}}; }
  bool Enabled() const { return bytesPerSecond != 0 || perErase.count() || perWrite.count(); }
};

// A request of the unit's own: a 6-byte vendor message F0 7D 00 <model> <command> F7, or the
// identity request F0 7E 7F 06 01 F7.
struct UnitRequest {
  enum class Type : uint8_t { Vendor, Identity };
  Type type = Type::Vendor;
  uint8_t command = 0x01;  // Vendor only; any value below 0x80

  static UnitRequest Vendor(uint8_t command) { return {Type::Vendor, command}; }
  static UnitRequest Identity() { return {Type::Identity, 0}; }
  bool operator==(const UnitRequest&) const = default;
};

// Sends `request` when the unit handles the `occurrence`-th message of kind `after`, right after
// its answer (or right before it). Fires once.
struct ScheduledRequest {
  UnitRequest request;
  MessageKind after = MessageKind::Any;
  uint32_t occurrence = 1;
  bool beforeAnswer = false;
};

struct UnitConfig {
  InitialFlash initialFlash = InitialFlash::OlderFirmware;
  bool updateMode = true;  // powered up in firmware update mode; false: EnterUpdateMode gets 11
  std::array<uint8_t, 4> deviceCode = {0x4D, 0x00, 0x12, 0x00};  // byte 0 is the model byte
  std::array<uint8_t, 4> revision = {0x01, 0x02, 0x00, 0x00};    // identity reply bytes 10..13
  uint8_t deviceId = 0x00;                                       // identity reply byte 2
  // Accept a FlashWrite over programmed bytes when they already hold exactly that data, as a unit
  // that compares before programming would. Off: every byte written must be erased.
  bool acceptIdenticalRewrite = false;
  uint32_t maxWriteBytes = 4096;      // larger FlashWrite payloads are refused
  uint32_t maxReadReplyBytes = 4096;  // longer reads are answered in several replies
  FaultPlan faults;
  LinkPacing pacing;
  std::vector<ScheduledRequest> ownRequests;
};

}  // namespace kv5
