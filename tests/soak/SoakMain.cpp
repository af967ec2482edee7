// kv5_soak: many update sessions against the in-process virtual unit over loopback MIDI, through
// the dialog logic with the real ports, timer and poller, each with a fault drawn at random. Every
// session must end within its time bound; a reported success must leave the flash equal to the
// package; after a failure (or a closed window) a clean update on the same unit must succeed.
//
//   kv5_soak [--sessions N] [--seed S] [--lanes L] [--only I] [--time-scale X] [--two-faults]
//            [--link none|usb] [--verbose]
//
// Sessions run on L lanes at once (default 2), each with its own unit, ports and timer; a session
// mostly waits for the 1 ms poller, so lanes share the machine well. Session I always draws the
// same plan for a seed, whichever lane runs it, so --only I replays it alone. --time-scale
// lengthens every wait for slow (sanitizer) builds.
//
// Study modes, not for CI: --link usb paces the unit's link at a USB-MIDI rate (every answer then
// lags its request by the request's time on the wire); --two-faults draws two faults per session.
// Some pairs defeat any stop-and-wait protocol without sequence numbers: a late answer taken for
// a later request, then an error answer to a chunk that is therefore never resent.
//
// Prints one summary line (and a line per session that broke a rule); exit code 0 when every rule
// held, 1 when one broke, 3 when the soak had to give up on a hung step, 2 on bad arguments.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SoakPlan.h"
#include "SoakSession.h"
#include "SoakSummary.h"
#include "Watchdog.h"

namespace kv5::soak {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Options {
  uint32_t sessions = 200;
  uint64_t seed = 1;
  uint32_t lanes = 2;
  std::optional<uint32_t> only;
  double timeScale = 1.0;
  bool verbose = false;
  bool twoFaults = false;
  LinkPacing link;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--verbose") {
      options->verbose = true;
    } else if (arg == "--two-faults") {
      options->twoFaults = true;
    } else if (arg == "--sessions" && hasValue) {
      options->sessions = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--seed" && hasValue) {
      options->seed = std::strtoull(argv[++i], nullptr, 0);
    } else if (arg == "--link" && hasValue) {
      const std::string link = argv[++i];
      if (link != "usb" && link != "none") return false;
      options->link = link == "usb" ? LinkPacing::Usb() : LinkPacing::None();
    } else if (arg == "--lanes" && hasValue) {
      options->lanes = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--only" && hasValue) {
      options->only = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--time-scale" && hasValue) {
      options->timeScale = std::strtod(argv[++i], nullptr);
    } else {
      return false;
    }
  }
  return options->sessions > 0 && options->lanes > 0 && options->timeScale >= 1.0;
}

const char* EndName(SessionEnd end) {
  switch (end) {
    case SessionEnd::Completed:
      return "completed";
    case SessionEnd::Failed:
      return "failed";
    case SessionEnd::Aborted:
      return "window closed";
    case SessionEnd::Hang:
      return "HANG";
  }
  return "?";
}

// What one lane owns: the timer services its dialogs run their pollers on, and its watchdog.
struct Lane {
  explicit Lane(std::function<std::string()> lastWords)
      : timer(MakeSystemTimerServices()), watchdog(std::move(lastWords)) {}
  std::unique_ptr<TimerServices> timer;
  Watchdog watchdog;
};

class Soak {
 public:
  explicit Soak(const Options& options)
      : options_(options),
        timing_(SoakTiming(options.timeScale)),
        cleanTiming_(SoakTiming(options.timeScale * kCleanTimeScale)) {}

  int Run() {
    if (!Calibrate()) return 1;
    const uint32_t first = options_.only.value_or(0);
    const uint32_t end = options_.only ? first + 1 : options_.sessions;
    std::atomic<uint32_t> next{first};
    std::vector<std::thread> lanes;
    for (uint32_t l = 0; l < std::min(options_.lanes, end - first); ++l) {
      lanes.emplace_back([&] {
        Lane lane([this] { return LastWords(); });
        for (uint32_t index = next++; index < end; index = next++) {
          RunPair(index, lane);
          ++done_;
        }
      });
    }
    for (std::thread& lane : lanes) lane.join();
    std::printf("%s\n", summary_.Line(done_.load(), options_.seed, cleanTime_, Elapsed()).c_str());
    return summary_.Passed() ? 0 : 1;
  }

 private:
  milliseconds Elapsed() const {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - started_);
  }
  std::string LastWords() const {
    return summary_.Line(done_.load(), options_.seed, cleanTime_, Elapsed());
  }

  SessionSetup Setup(Lane& lane, LoopbackMidi& midi, VirtualUnit& unit, milliseconds bound,
                     const SessionTiming& timing) {
    return {midi, *lane.timer, unit, timing, bound, std::nullopt, teardownLimit_};
  }

  // A clean update on this machine and build sets the time every session's bound starts from.
  bool Calibrate() {
    Lane lane([this] { return LastWords(); });
    LoopbackMidi midi;
    UnitConfig config;
    config.pacing = options_.link;
    VirtualUnit unit(midi.AddDevice("TELVOR Q9"), config);
    unit.Start();
    const SessionResult clean =
        RunSession(Setup(lane, midi, unit, std::chrono::minutes(5), cleanTiming_), lane.watchdog);
    if (clean.end != SessionEnd::Completed || !clean.flashMatches) {
      std::printf("soak: a clean update did not complete (%s: %s); nothing to soak\n",
                  EndName(clean.end), clean.message.c_str());
      return false;
    }
    cleanTime_ = clean.duration;
    // Room for a loaded machine: a clean session may take several times its calibrated length.
    cleanBound_ = std::max(milliseconds(2000), cleanTime_ * 5);
    return true;
  }

  void RunPair(uint32_t index, Lane& lane) {
    std::mt19937_64 random(SessionSeed(options_.seed, index));
    SessionPlan plan = DrawPlan(random, timing_, cleanTime_);
    if (options_.twoFaults) plan = Combine(plan, DrawPlan(random, timing_, cleanTime_));

    UnitConfig config;
    config.initialFlash = plan.initialFlash;
    config.acceptIdenticalRewrite = plan.acceptIdenticalRewrite;
    config.updateMode = !plan.poweredUpNormally;
    if (plan.deviceCode) config.deviceCode = *plan.deviceCode;
    for (const Fault& fault : plan.faults) config.faults.Add(fault);
    config.ownRequests = plan.ownRequests;
    config.pacing = options_.link;
    LoopbackMidi midi;
    VirtualUnit unit(midi.AddDevice("TELVOR Q9"), config);
    unit.Start();

    SessionSetup setup = Setup(lane, midi, unit, cleanBound_ + plan.extraTime, timing_);
    setup.closeAfter = plan.closeAfter;
    const SessionResult result = RunSession(setup, lane.watchdog);
    summary_.NoteDuration(result.duration, setup.bound);
    std::string problem = Judge(plan, result);

    std::string recovery;
    if (result.end != SessionEnd::Completed) {
      // The user tries again on the same unit once it is quiet: answers still delayed on the link
      // belong to the old session.
      unit.WaitIdle(std::chrono::seconds(10));
      unit.ClearFaults();
      // A unit that went silent, was powered up normally or took the finish (whose answer was
      // lost) has to be powered up in update mode again, as its owner would.
      if (plan.wakeForRecovery || !unit.InUpdateMode()) unit.PowerUp(true);
      if (plan.deviceCode) unit.SetDeviceCode(UnitConfig{}.deviceCode);
      const SessionResult again =
          RunSession(Setup(lane, midi, unit, cleanBound_, cleanTiming_), lane.watchdog);
      const bool recovered = again.end == SessionEnd::Completed && again.flashMatches;
      summary_.AddRecovery(recovered);
      recovery = recovered ? "; clean update after it completed"
                           : std::string("; clean update after it ") + EndName(again.end) + ": " +
                                 again.message + again.broken;
      if (!recovered && problem.empty()) problem = "the clean update after it did not succeed";
    }
    if (!problem.empty() || options_.verbose) {
      std::printf("soak: session %u (%s) %lld/%lld ms %s%s%s%s%s\n", index, plan.label.c_str(),
                  static_cast<long long>(result.duration.count()),
                  static_cast<long long>(setup.bound.count()), EndName(result.end),
                  result.message.empty() ? "" : (": " + result.message).c_str(), recovery.c_str(),
                  problem.empty() ? "" : " -- ", problem.c_str());
      std::fflush(stdout);
    }
  }

  // Counts the session and says which rules it broke, if any.
  std::string Judge(const SessionPlan& plan, const SessionResult& result) {
    std::string problem;
    switch (result.end) {
      case SessionEnd::Completed:
        summary_.AddCompleted();
        if (!result.flashMatches) {
          summary_.AddFlashMismatch();
          problem = "reported success but the flash differs from the package";
        }
        break;
      case SessionEnd::Failed:
        summary_.AddFailed(result.message);
        break;
      case SessionEnd::Aborted:
        summary_.AddAborted();
        break;
      case SessionEnd::Hang:
        summary_.AddHang();
        problem = "did not end within its bound";
        break;
    }
    std::string broken = result.broken;
    if (broken.empty() && result.end == SessionEnd::Failed &&
        plan.expectation == Expectation::Completes) {
      broken = "should have completed";
    }
    if (!broken.empty()) {
      summary_.AddBrokenRule();
      problem += (problem.empty() ? "" : "; ") + broken;
    }
    return problem;
  }

  const Options options_;
  // Clean updates (the calibration, and the retry after a failure) wait longer than the faulted
  // sessions: on a loaded machine an answer later than the fast write wait makes the host resend
  // a chunk the unit has written, which a unit that only writes erased flash refuses, and that
  // failure is not what the retry is there to find (whether the unit was left recoverable).
  static constexpr double kCleanTimeScale = 5;
  const SessionTiming timing_;
  const SessionTiming cleanTiming_;
  SoakSummary summary_;
  std::atomic<uint32_t> done_{0};
  const Clock::time_point started_ = Clock::now();
  milliseconds cleanTime_{0};
  milliseconds cleanBound_{0};
  const milliseconds teardownLimit_{static_cast<long long>(10000 * options_.timeScale)};
};

}  // namespace
}  // namespace kv5::soak

int main(int argc, char** argv) {
  kv5::soak::Options options;
  if (!kv5::soak::ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: %s [--sessions N] [--seed S] [--lanes L] [--only I] [--time-scale X>=1] "
                 "[--two-faults] [--link none|usb] [--verbose]\n",
                 argv[0]);
    return 2;
  }
  kv5::soak::Soak soak(options);
  return soak.Run();
}
