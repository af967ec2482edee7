// kv5update run whole in this process, from its words to its exit status, with what it printed.
#pragma once

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "tools/kv5update/FrontEnd.h"

namespace kv5 {

struct RunResult {
  int code = -1;
  std::string out;
  std::string err;
};

// The words after the program's name; stdout is not a terminal.
inline RunResult RunArgs(std::vector<std::string> args) {
  args.insert(args.begin(), "kv5update");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  ConsoleStreams streams{out, err, false, 80};
  std::atomic<int> interrupt{0};
  RunResult run;
  run.code = Kv5UpdateMain(static_cast<int>(argv.size()), argv.data(), streams, interrupt);
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace kv5
