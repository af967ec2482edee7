// kv5_seq_connect SOURCE DEST: connects the sequencer client named SOURCE to the one named DEST
// (their first readable and writable ports), as a user would with a patchbay; the connection stays
// after this program ends, for the test machine's scripts.
#include <cstdio>
#include <string>

#include "platform/midi/alsa/AlsaTestPeers.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kv5_seq_connect SOURCE-CLIENT DEST-CLIENT\n");
    return 2;
  }
  std::string error;
  if (!kv5::ConnectSeqClients(argv[1], argv[2], &error)) {
    std::fprintf(stderr, "kv5_seq_connect: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
