// kv5_raw_split [ROUNDS] [MESSAGES]: where the time of one update message goes on its way to a
// unit through the virtual raw MIDI card, in the sequencer test machine. Messages are of the
// largest size the updater sends. First the card's bridge alone: the card's raw device written by
// a plain program (write, then the library's drain) and by the backend, to a client that reads
// nothing until the card has taken every byte. Then, to a receiver built as the virtual unit's (the
// published endpoint, which joins the card's 256-byte events as they come), in ROUNDS rounds of
// MESSAGES messages each: a plain client's one event, the backend to the receiver's client, the
// plain program (drain, or waiting for the kernel's buffer to empty), and the backend to the card.
// Prints per sender the median (10th-90th percentile) of the time from the send to the sender's
// "sent" and to the receiver's whole message, and the receiving thread's CPU per message. A
// measurement, never a test.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "GuestRig.h"
#include "midi/MidiOutPort.h"
#include "platform/midi/alsa/AlsaMidi.h"
#include "platform/midi/alsa/AlsaTestPeers.h"
#include "protocol/ProtocolMessages.h"

namespace kv5::guest {
namespace {

using Clock = std::chrono::steady_clock;

double Microseconds(Clock::duration span) {
  return std::chrono::duration<double, std::micro>(span).count();
}

double ThreadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// The receiving end: when each whole message arrived, and the receiving thread's CPU time then.
class Receiver {
 public:
  explicit Receiver(MidiEndpoint& endpoint) : endpoint_(endpoint) {
    endpoint_.SetReceiver([this](const uint8_t*, size_t length) {
      const double cpu = ThreadCpuMicroseconds();
      std::lock_guard<std::mutex> hold(lock_);
      arrivals_.push_back({Clock::now(), cpu, length});
      changed_.notify_all();
    });
  }
  ~Receiver() { endpoint_.SetReceiver(nullptr); }

  struct Arrival {
    Clock::time_point at;
    double cpuUs;
    size_t length;
  };
  // The n-th message (from 0), or nothing when it did not come within the wait limit.
  bool WaitFor(size_t n, Arrival* arrival) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!changed_.wait_for(hold, std::chrono::milliseconds(kWaitLimitMs),
                           [&] { return arrivals_.size() > n; }))
      return false;
    *arrival = arrivals_[n];
    return true;
  }

 private:
  MidiEndpoint& endpoint_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Arrival> arrivals_;
};

struct Sender {
  // Sends one message; false on a failure. *sent is when the sender counted it as sent.
  using Send = std::function<bool(const Bytes&, Clock::time_point* sent)>;
  Sender(std::string senderName, Send sendOne)
      : name(std::move(senderName)), send(std::move(sendOne)) {}
  std::string name;
  Send send;
  std::vector<double> sentUs, receivedUs, cpuUs;
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

void Report(const Sender& sender) {
  auto figure = [](const std::vector<double>& values) {
    char text[64];
    std::snprintf(text, sizeof text, "%7.0f (%5.0f-%5.0f)", Percentile(values, 0.5),
                  Percentile(values, 0.1), Percentile(values, 0.9));
    return std::string(text);
  };
  std::printf("split %-28s sent %s us  received %s us  receiver cpu %s us\n", sender.name.c_str(),
              figure(sender.sentUs).c_str(), figure(sender.receivedUs).c_str(),
              figure(sender.cpuUs).c_str());
}

// A port of the backend opened on the output device of this name; nullptr when it does not open.
std::unique_ptr<MidiOutPort> OpenOut(MidiBackend& backend, const std::string& name) {
  auto port = std::make_unique<MidiOutPort>(backend.Out());
  const int index = IndexOf(DeviceNames(backend.Out()), name);
  if (index < 0 || port->Open(index) != 1) return nullptr;
  return port;
}

bool SendThrough(MidiOutPort* port, const Bytes& message, Clock::time_point* sent) {
  MidiHeader header;
  header.lpData = const_cast<uint8_t*>(message.data());
  header.dwBufferLength = static_cast<uint32_t>(message.size());
  const bool ok = port != nullptr && port->SendLong(&header) == 1;
  *sent = Clock::now();
  return ok;
}

// The card's raw device, held by the plain program or by the backend (one at a time: the backend
// opens the device's first subdevice, which the plain program takes when it is free).
class Card {
 public:
  explicit Card(MidiBackend& backend) : backend_(backend) {}
  bool Open(std::string* error) {
    plain_ = VirtualRawPort::Open(error);
    if (plain_) name_ = plain_->ClientName();
    return plain_ != nullptr;
  }
  const std::string& Name() const { return name_; }
  VirtualRawPort* Plain() {
    if (!plain_) {
      backendPort_.reset();
      std::string error;
      plain_ = VirtualRawPort::Open(&error);
    }
    return plain_.get();
  }
  MidiOutPort* Backend() {
    if (!backendPort_) {
      plain_.reset();
      backendPort_ = OpenOut(backend_, name_);
    }
    return backendPort_.get();
  }

 private:
  MidiBackend& backend_;
  std::string name_;
  std::unique_ptr<VirtualRawPort> plain_;
  std::unique_ptr<MidiOutPort> backendPort_;
};

Sender::Send PlainWrite(Card& card, bool drain) {
  return [&card, drain](const Bytes& m, Clock::time_point* sent) {
    VirtualRawPort* raw = card.Plain();
    const bool ok =
        raw != nullptr && raw->Put(m.data(), m.size()) && (drain ? raw->Drain() : raw->WaitEmpty());
    *sent = Clock::now();
    return ok;
  };
}

Sender::Send BackendWrite(Card& card) {
  return [&card](const Bytes& m, Clock::time_point* sent) {
    return SendThrough(card.Backend(), m, sent);
  };
}

// The card's bridge alone: a plain client that reads nothing while the card's kernel work turns
// the bytes into events, and then reads the whole message at once (its CPU for that is the
// receiver's here). Its connection goes with it when it closes.
bool MeasureBridge(Card& card, const Bytes& message, int count) {
  std::string error;
  auto quiet = PlainSeqClient::Open("Split Quiet", &error);
  if (!quiet || quiet->AddPort("in", false, true) < 0 || quiet->SetInputPool(2000) < 0 ||
      !ConnectSeqClients(card.Name(), "Split Quiet", &error)) {
    std::fprintf(stderr, "kv5_raw_split: the quiet receiver: %s\n", error.c_str());
    return false;
  }
  std::vector<Sender> senders = {{"card, write + drain, unread", PlainWrite(card, true)},
                                 {"card, backend, unread", BackendWrite(card)}};
  int events = 0;
  for (Sender& sender : senders) {
    for (int i = 0; i < count; ++i) {
      const Clock::time_point start = Clock::now();
      Clock::time_point sent;
      if (!sender.send(message, &sent)) return false;
      const double cpu = ThreadCpuMicroseconds();
      if (quiet->ReceiveSysex(kWaitLimitMs, &events) != message) {
        std::fprintf(stderr, "kv5_raw_split: the quiet receiver lost message %d\n", i);
        return false;
      }
      sender.sentUs.push_back(Microseconds(sent - start));
      sender.receivedUs.push_back(Microseconds(Clock::now() - start));
      sender.cpuUs.push_back(ThreadCpuMicroseconds() - cpu);
    }
    Report(sender);
  }
  std::printf("split: the card hands the receiver a message in %d events\n", events);
  return true;
}

int Run(int rounds, int messages) {
  std::string error;
  auto unitEnd = OpenAlsaEndpoint("Split Unit", &error);
  auto backend = OpenAlsaMidi(&error);
  auto plain = PlainSeqClient::Open("Split Sender", &error);
  if (!unitEnd || !backend || !plain) {
    std::fprintf(stderr, "kv5_raw_split: %s\n", error.c_str());
    return 1;
  }
  Card card(*backend);
  if (!card.Open(&error)) {
    std::fprintf(stderr, "kv5_raw_split: %s\n", error.c_str());
    return 1;
  }
  const Bytes message = MakeSysex(static_cast<size_t>(kMaxOutgoingMessage), 1);
  std::printf("split: %d rounds of %d messages of %zu bytes from each sender\n", rounds, messages,
              message.size());
  if (!MeasureBridge(card, message, rounds * messages)) return 1;

  const int plainPort = plain->AddPort("out", true, false);
  if (plainPort < 0 || !ConnectSeqClients("Split Sender", "Split Unit", &error) ||
      !ConnectSeqClients(card.Name(), "Split Unit", &error)) {
    std::fprintf(stderr, "kv5_raw_split: connecting: %s\n", error.c_str());
    return 1;
  }
  Receiver receiver(*unitEnd);
  std::unique_ptr<MidiOutPort> toUnit = OpenOut(*backend, "Split Unit");
  std::vector<Sender> senders = {
      {"sequencer, plain one event",
       [&](const Bytes& m, Clock::time_point* sent) {
         const bool ok = plain->SendOneEvent(plainPort, m.data(), m.size()) == 0;
         *sent = Clock::now();
         return ok;
       }},
      {"sequencer, backend",
       [&](const Bytes& m, Clock::time_point* sent) { return SendThrough(toUnit.get(), m, sent); }},
      {"card, write + drain", PlainWrite(card, true)},
      {"card, write + empty", PlainWrite(card, false)},
      {"card, backend", BackendWrite(card)},
  };
  size_t received = 0;
  double lastCpu = 0;
  Receiver::Arrival arrival{};
  for (int round = 0; round < rounds; ++round) {
    for (Sender& sender : senders) {
      for (int i = 0; i < messages; ++i) {
        const Clock::time_point start = Clock::now();
        Clock::time_point sent;
        if (!sender.send(message, &sent) || !receiver.WaitFor(received, &arrival) ||
            arrival.length != message.size()) {
          std::fprintf(stderr, "kv5_raw_split: %s lost message %zu\n", sender.name.c_str(),
                       received);
          return 1;
        }
        ++received;
        // The first message of a sender is left out: the receiver's CPU before it is the last's.
        if (i > 0) {
          sender.sentUs.push_back(Microseconds(sent - start));
          sender.receivedUs.push_back(Microseconds(arrival.at - start));
          sender.cpuUs.push_back(arrival.cpuUs - lastCpu);
        }
        lastCpu = arrival.cpuUs;
      }
    }
  }
  for (const Sender& sender : senders) Report(sender);
  return 0;
}

}  // namespace
}  // namespace kv5::guest

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const int messages = argc > 2 ? std::atoi(argv[2]) : 20;
  return kv5::guest::Run(rounds > 0 ? rounds : 5, messages > 1 ? messages : 20);
}
