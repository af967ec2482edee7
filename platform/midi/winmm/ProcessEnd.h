// How a Windows program that used the MIDI driver ends. Wine's MIDI driver for the ALSA sequencer
// (Wine 8.0) crashes at process exit in its notification thread once it has found a sequencer,
// even in a program that never opened a device, so the exit status became 139 instead of the
// program's. Ending the process without unloading the drivers keeps the status.
#pragma once

namespace kv5 {

// Flushes the C and C++ output streams and ends the process with this status, without running
// the DLL detach routines. Call it only after every MIDI handle is closed.
[[noreturn]] void EndProcessKeepingStatus(int status);

}  // namespace kv5
