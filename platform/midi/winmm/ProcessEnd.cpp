#include "platform/midi/winmm/ProcessEnd.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <windows.h>

namespace kv5 {

void EndProcessKeepingStatus(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);  // not reached: TerminateProcess of the calling process does not return
}

}  // namespace kv5
