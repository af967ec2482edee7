#include "platform/midi/SystemMidi.h"

#include "platform/midi/SystemEndpoint.h"
#if KV5_HAVE_ALSA
#include "platform/midi/alsa/AlsaMidi.h"
#endif
#if KV5_HAVE_JACK
#include "platform/midi/jack/JackMidi.h"
#endif
#if KV5_HAVE_WINMM
#include "platform/midi/winmm/WinmmMidi.h"
#endif

namespace kv5 {

std::unique_ptr<MidiBackend> OpenMidiSystem(MidiSystem system) {
  std::string ignored;
  switch (system) {
    case MidiSystem::Automatic:
      return OpenDefaultMidiSystem();
    case MidiSystem::Alsa:
#if KV5_HAVE_ALSA
      return OpenAlsaMidi(&ignored);
#else
      return nullptr;
#endif
    case MidiSystem::Jack:
#if KV5_HAVE_JACK
      return OpenJackMidi(&ignored);
#else
      return nullptr;
#endif
    case MidiSystem::WinMM:
#if KV5_HAVE_WINMM
      return OpenWinmmMidi();
#else
      return nullptr;
#endif
    case MidiSystem::None:
      return MakeNoMidiBackend();
  }
  return nullptr;
}

std::unique_ptr<MidiBackend> OpenDefaultMidiSystem() {
#if KV5_HAVE_WINMM
  // On Windows every MIDI device is reached through winmm.
  return OpenWinmmMidi();
#else
  // The sequencer is where most devices appear; JACK only when its server runs.
  for (MidiSystem system : {MidiSystem::Alsa, MidiSystem::Jack}) {
    if (auto backend = OpenMidiSystem(system)) return backend;
  }
  return MakeNoMidiBackend();
#endif
}

std::unique_ptr<MidiEndpoint> OpenSystemEndpoint(MidiSystem system, const std::string& name,
                                                 std::string* error) {
  switch (system) {
    case MidiSystem::Automatic: {
      std::string reason;
      for (MidiSystem each : {MidiSystem::Alsa, MidiSystem::Jack}) {
        if (auto endpoint = OpenSystemEndpoint(each, name, &reason)) return endpoint;
      }
      *error = "neither the ALSA sequencer nor a JACK server is available";
      return nullptr;
    }
    case MidiSystem::Alsa:
#if KV5_HAVE_ALSA
      return OpenAlsaEndpoint(name, error);
#else
      *error = "this build has no ALSA support";
      return nullptr;
#endif
    case MidiSystem::Jack:
#if KV5_HAVE_JACK
      return OpenJackEndpoint(name, error);
#else
      *error = "this build has no JACK support";
      return nullptr;
#endif
    default:
      *error = "no MIDI system to publish on";
      return nullptr;
  }
}

}  // namespace kv5
