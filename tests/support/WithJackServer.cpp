// Runs a command against a private JACK server and stops the server after it, however the
// command ends:
//
//   kv5_with_jack_server program [args...]
//
// The command finds the server through JACK_DEFAULT_SERVER. Its exit status is this program's
// (128 + the signal's number when a signal ended it); 125 when the server could not start.
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/JackServer.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s program [args...]\n", argv[0]);
    return 2;
  }
  kv5::test::JackServer server;
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 125;
  }
  kv5::test::ChildProcess command;
  kv5::test::ChildProcess::Options options;
  options.output = kv5::test::ChildProcess::Output::Inherit;
  options.input = kv5::test::ChildProcess::Input::Inherit;
  if (!command.Start(argv[1], std::vector<std::string>(argv + 2, argv + argc), options, &error)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
    return 125;
  }
  const int status = command.WaitStatus();
  server.Stop();
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}
