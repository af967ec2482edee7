// The far side of the JACK round-trip tests, in a process of its own: a JACK client that sends
// back every SysEx message it receives.
//
//   kv5_jack_echo <client name> [bytes per cycle]
//
// Prints "ready <client name>" once its ports exist, and ends when its standard input closes or
// SIGTERM comes, closing its client first: a client that vanishes from a synchronous server can
// keep the server from shutting down.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/midi/jack/JackMidi.h"

namespace {
void Ignore(int) {}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <client name> [bytes per cycle]\n", argv[0]);
    return 2;
  }
  // The stop signals reach this thread alone, and only while it waits for its input: a signal
  // that interrupted one of libjack's calls (on its own threads, or in the close below) would cut
  // the client's talk with the server short, and a synchronous server then waits ten client
  // timeouts for a client that has gone. libjack's threads inherit the mask set here.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  kv5::JackConfig config;
  if (argc > 2) config.cycleByteLimit = std::stoul(argv[2]);
  std::string error;
  auto endpoint = kv5::OpenJackEndpoint(argv[1], config, &error);
  if (!endpoint) {
    std::printf("failed %s\n", error.c_str());
    return 1;
  }
  kv5::MidiEndpoint* self = endpoint.get();
  endpoint->SetReceiver([self](const uint8_t* bytes, size_t length) {
    if (!self->Send(bytes, length)) std::fprintf(stderr, "echo of %zu bytes failed\n", length);
  });
  std::printf("ready %s\n", endpoint->Name().c_str());
  std::fflush(stdout);

  struct sigaction quit {};
  quit.sa_handler = Ignore;  // no SA_RESTART: the read below ends with EINTR
  sigaction(SIGTERM, &quit, nullptr);
  sigaction(SIGINT, &quit, nullptr);
  pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
  char ignored[64];
  while (read(STDIN_FILENO, ignored, sizeof ignored) > 0) {
  }
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  return 0;  // the endpoint closes its client with the signals held off
}
