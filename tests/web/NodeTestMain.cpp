// A GoogleTest program under Node on the page's fibers: the tests run on a thread of their own,
// which may wait as the tests do on the desktop; the program ends with their result.
#include <gtest/gtest.h>

#include <thread>

#include "platform/event/web/BrowserTurn.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The thread starts in a turn of its own once main has returned.
  std::thread([] { kv5::EndBrowserProgram(RUN_ALL_TESTS()); }).detach();
  return 0;
}
