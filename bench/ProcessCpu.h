// CPU time as the idle benchmarks measure it: this process's (every thread's), and that of a
// program started for the measurement and stopped afterwards.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace kv5::bench {

// CPU seconds all threads of this process have used so far.
double ProcessCpuSeconds();
// Times the threads of this process have gone to sleep so far (the sum of their voluntary
// context switches): each is a wake-up to come. Threads that ended are not counted.
long long ProcessWakeups();

class RunningProgram {
 public:
  // Starts path with the arguments; Running() tells whether that worked.
  RunningProgram(const std::string& path, const std::vector<std::string>& arguments);
  // Stops it (SIGTERM, then SIGKILL after two seconds) and reaps it.
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool Running() const;
  // CPU seconds all its threads have used so far (from /proc), or -1 when it is gone.
  double CpuSeconds() const;
  // As ProcessWakeups, for the program; -1 when it is gone.
  long long Wakeups() const;

 private:
  pid_t pid_ = -1;
};

}  // namespace kv5::bench
