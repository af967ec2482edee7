// The winmm output calls the backend makes, as a table: the system's own by default, a test's
// stand-ins for a device that goes away in the middle of a send.
//
// Include it after the kv5 headers: mmsystem.h defines macros with the names and values of the
// constants in MidiServices.h.
#pragma once

#include <memory>

#include "platform/midi/MidiServices.h"
#include "platform/midi/winmm/WinmmConfig.h"

#include <windows.h>

#include <mmsystem.h>

namespace kv5 {

struct WinmmOutCalls {
  decltype(&midiOutGetNumDevs) getNumDevs = &midiOutGetNumDevs;
  decltype(&midiOutGetDevCapsA) getDevCaps = &midiOutGetDevCapsA;
  decltype(&midiOutOpen) open = &midiOutOpen;
  decltype(&midiOutClose) close = &midiOutClose;
  decltype(&midiOutPrepareHeader) prepareHeader = &midiOutPrepareHeader;
  decltype(&midiOutUnprepareHeader) unprepareHeader = &midiOutUnprepareHeader;
  decltype(&midiOutLongMsg) longMsg = &midiOutLongMsg;
  decltype(&midiOutReset) reset = &midiOutReset;
};

std::unique_ptr<MidiOutServices> MakeWinmmMidiOut(const WinmmOutCalls& calls,
                                                  const WinmmConfig& config);

}  // namespace kv5
