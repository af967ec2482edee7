// The command line's exit codes, one per class of ending.
#pragma once

namespace kv5 {

constexpr int kExitOk = 0;
// The session failed: the error box's text went to stderr (or the unit stopped answering).
constexpr int kExitSessionFailed = 1;
// Nothing was sent: a usage error, no device chosen, a port that cannot open, or writing the test
// package to a real device without the flag that allows it.
constexpr int kExitUsage = 2;
// No MIDI system: neither the ALSA sequencer nor a JACK server was found, or the one named with
// --backend cannot be opened. Nothing was sent.
constexpr int kExitNoMidiSystem = 3;
// check --exit-code: the unit's stamps differ from the package's, so an update would change it.
constexpr int kExitUpdateAvailable = 100;
// Ended by a signal: 128 + its number (130 for Ctrl-C, 143 for SIGTERM).
constexpr int kExitSignalBase = 128;

}  // namespace kv5
