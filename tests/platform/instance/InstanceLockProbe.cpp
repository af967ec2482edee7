// Helper process for the instance lock tests: claims the named lock, prints the result, and with
// "hold" keeps it until its standard input closes. "--uid N" claims as another user.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "platform/instance/InstanceLock.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  bool hold = false;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "hold") == 0) hold = true;
    if (std::strcmp(argv[i], "--uid") == 0 && i + 1 < argc) {
      if (setuid(static_cast<uid_t>(std::atoi(argv[++i]))) != 0) return 3;
    }
  }
  std::unique_ptr<kv5::InstanceLock> held;
  const kv5::ClaimResult result = kv5::ClaimInstanceLock(argv[1], &held);
  const char* text = result == kv5::ClaimResult::Created         ? "Created"
                     : result == kv5::ClaimResult::AlreadyExists ? "AlreadyExists"
                                                                 : "Failed";
  std::printf("%s\n", text);
  std::fflush(stdout);
  if (hold) {
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
  }
  return 0;
}
