#include "ProcessCpu.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace kv5::bench {
namespace {

// The sum of voluntary_ctxt_switches over the tasks of a /proc process folder; -1 when the
// folder cannot be read.
long long VoluntarySwitches(const std::filesystem::path& process) {
  std::error_code error;
  long long total = 0;
  for (const auto& task : std::filesystem::directory_iterator(process / "task", error)) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      static const std::string kField = "voluntary_ctxt_switches:";
      if (line.compare(0, kField.size(), kField) == 0) {
        total += std::stoll(line.substr(kField.size()));
        break;
      }
    }
  }
  return error ? -1 : total;
}

}  // namespace

long long ProcessWakeups() {
  return VoluntarySwitches("/proc/self");
}

double ProcessCpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {path};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
}

RunningProgram::~RunningProgram() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool RunningProgram::Running() const {
  return pid_ > 0 && kill(pid_, 0) == 0;
}

double RunningProgram::CpuSeconds() const {
  // The first field of each thread's schedstat is its time on a CPU in nanoseconds.
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
  std::error_code error;
  double seconds = 0;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream stat(task.path() / "schedstat");
    unsigned long long nanoseconds = 0;
    if (stat >> nanoseconds) seconds += static_cast<double>(nanoseconds) / 1e9;
  }
  return error ? -1 : seconds;
}

long long RunningProgram::Wakeups() const {
  return VoluntarySwitches("/proc/" + std::to_string(pid_));
}

}  // namespace kv5::bench
