// The MIDI system a run of the command line uses: the platform's (as the window chooses, or the
// one asked for), or loopback MIDI with an in-process virtual unit named "TELVOR Q9".
#pragma once

#include <memory>
#include <string>

#include "platform/midi/MidiBackend.h"
#include "tools/kv5update/FrontEndOptions.h"

namespace kv5 {

class LoopbackMidi;
class PacedLink;
class VirtualUnit;

class MidiSetup {
 public:
  // nullptr with a reason in *error when the system cannot be reached.
  static std::unique_ptr<MidiSetup> Open(const FrontEndOptions& options, std::string* error);
  ~MidiSetup();
  MidiSetup(const MidiSetup&) = delete;
  MidiSetup& operator=(const MidiSetup&) = delete;

  MidiBackend& Backend() { return *backend_; }
  // The in-process unit, nullptr unless --backend virtual.
  VirtualUnit* Unit() { return unit_.get(); }

 private:
  MidiSetup() = default;

  // The loopback (when virtual) is the backend; the unit goes before its endpoint does.
  std::unique_ptr<MidiBackend> backend_;
  std::unique_ptr<PacedLink> link_;  // the virtual unit's line, when it has a speed
  std::unique_ptr<VirtualUnit> unit_;
};

}  // namespace kv5
