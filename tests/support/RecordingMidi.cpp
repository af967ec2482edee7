#include "support/RecordingMidi.h"

#include <algorithm>
#include <cstring>

namespace kv5 {

std::string MidiCall::ToString() const {
  std::string text = name + "(";
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(args[i]);
  }
  return text + ")";
}

namespace {

uintptr_t Address(const void* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}

// The device has finished with the header: it leaves the queue before it is marked done, so an
// owner that sees the done bit may unprepare it at once.
void MarkDone(MidiHeader* header) {
  MarkHeaderDone(header);
}

}  // namespace

class RecordingMidi::InSide : public MidiInServices {
 public:
  explicit InSide(RecordingMidi& fake) : fake_(fake) {}

  uint32_t GetNumDevs() override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    fake_.RecordLocked("midiInGetNumDevs", {});
    return static_cast<uint32_t>(fake_.inNames_.size());
  }

  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult scripted = fake_.RecordLocked("midiInGetDevCaps", {device});
    if (scripted != MMSYSERR_NOERROR) return scripted;
    return fake_.FillCaps(fake_.inNames_, device, caps);
  }

  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult scripted = fake_.RecordLocked("midiInOpen", {device, instance});
    if (scripted != MMSYSERR_NOERROR) return scripted;
    if (device >= fake_.inNames_.size()) return MMSYSERR_BADDEVICEID;
    if (fake_.inHandle_ != 0) return MMSYSERR_ALLOCATED;
    fake_.inHandle_ = fake_.nextInHandle_++;
    fake_.callback_ = callback;
    fake_.instance_ = instance;
    *handle = fake_.inHandle_;
    return MMSYSERR_NOERROR;
  }

  MidiResult Reset(MidiInHandle handle) override {
    bool giveBack = false;
    {
      std::lock_guard<std::mutex> hold(fake_.lock_);
      const MidiResult result = Checked("midiInReset", handle, {handle});
      if (result != MMSYSERR_NOERROR) return result;
      giveBack = fake_.inputReturnsBuffers_;
    }
    // Every queued buffer comes back, including one the owner queues again meanwhile.
    while (giveBack && fake_.HandBackInput(MIM_LONGDATA, nullptr, true)) {
    }
    return MMSYSERR_NOERROR;
  }

  MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiInPrepareHeader", handle, {handle, Address(header)});
    if (result != MMSYSERR_NOERROR) return result;
    header->dwFlags.fetch_or(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiInAddBuffer", handle, {handle, Address(header)});
    if (result != MMSYSERR_NOERROR) return result;
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwBytesRecorded = 0;
    header->dwFlags.fetch_and(~MHDR_DONE);
    header->dwFlags.fetch_or(MHDR_INQUEUE);
    fake_.inQueue_.push_back(header);
    return MMSYSERR_NOERROR;
  }

  MidiResult Start(MidiInHandle handle) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    return Checked("midiInStart", handle, {handle});
  }

  MidiResult Stop(MidiInHandle handle) override {
    bool giveBack = false;
    {
      std::lock_guard<std::mutex> hold(fake_.lock_);
      const MidiResult result = Checked("midiInStop", handle, {handle});
      if (result != MMSYSERR_NOERROR) return result;
      giveBack = fake_.inputReturnsBuffers_ && !fake_.inQueue_.empty() &&
                 fake_.inQueue_.front()->dwBytesRecorded > 0;
    }
    if (giveBack) fake_.HandBackInput(MIM_LONGDATA, nullptr, true);
    return MMSYSERR_NOERROR;
  }

  MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiInUnprepareHeader", handle, {handle, Address(header)});
    if (result != MMSYSERR_NOERROR) return result;
    const auto& queue = fake_.inQueue_;
    if (std::find(queue.begin(), queue.end(), header) != queue.end()) return MIDIERR_STILLPLAYING;
    header->dwFlags.fetch_and(~MHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

  MidiResult Close(MidiInHandle handle) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiInClose", handle, {handle});
    if (result != MMSYSERR_NOERROR) return result;
    if (!fake_.inQueue_.empty()) return MIDIERR_STILLPLAYING;
    fake_.inHandle_ = 0;
    fake_.callback_ = nullptr;
    fake_.instance_ = 0;
    return MMSYSERR_NOERROR;
  }

 private:
  // Logs the call; then the scripted result, or INVALHANDLE for a handle that is not open.
  MidiResult Checked(const char* name, MidiInHandle handle, std::vector<uintptr_t> args) {
    const MidiResult scripted = fake_.RecordLocked(name, std::move(args));
    if (scripted != MMSYSERR_NOERROR) return scripted;
    if (handle == 0 || handle != fake_.inHandle_) return MMSYSERR_INVALHANDLE;
    return MMSYSERR_NOERROR;
  }

  RecordingMidi& fake_;
};

class RecordingMidi::OutSide : public MidiOutServices {
 public:
  explicit OutSide(RecordingMidi& fake) : fake_(fake) {}

  uint32_t GetNumDevs() override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    fake_.RecordLocked("midiOutGetNumDevs", {});
    return static_cast<uint32_t>(fake_.outNames_.size());
  }

  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult scripted = fake_.RecordLocked("midiOutGetDevCaps", {device});
    if (scripted != MMSYSERR_NOERROR) return scripted;
    return fake_.FillCaps(fake_.outNames_, device, caps);
  }

  MidiResult Open(MidiOutHandle* handle, uint32_t device) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult scripted = fake_.RecordLocked("midiOutOpen", {device});
    if (scripted != MMSYSERR_NOERROR) return scripted;
    const bool mapper = device == MIDI_MAPPER && !fake_.outNames_.empty();
    if (device >= fake_.outNames_.size() && !mapper) return MMSYSERR_BADDEVICEID;
    if (fake_.outHandle_ != 0) return MMSYSERR_ALLOCATED;
    fake_.outHandle_ = fake_.nextOutHandle_++;
    *handle = fake_.outHandle_;
    return MMSYSERR_NOERROR;
  }

  MidiResult Close(MidiOutHandle handle) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiOutClose", handle, {handle});
    if (result != MMSYSERR_NOERROR) return result;
    if (!fake_.outPending_.empty()) return MIDIERR_STILLPLAYING;
    fake_.outHandle_ = 0;
    return MMSYSERR_NOERROR;
  }

  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiOutPrepareHeader", handle, {handle, Address(header)});
    if (result != MMSYSERR_NOERROR) return result;
    header->dwFlags.fetch_or(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiOutLongMsg", handle, {handle, Address(header)});
    if (result != MMSYSERR_NOERROR) return result;
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    fake_.sent_.emplace_back(header->lpData, header->lpData + header->dwBufferLength);
    header->dwFlags.fetch_and(~MHDR_DONE);
    header->dwFlags.fetch_or(MHDR_INQUEUE);
    if (fake_.completion_ == OutputCompletion::Immediate) {
      MarkDone(header);
    } else {
      fake_.outPending_.push_back(header);
    }
    return MMSYSERR_NOERROR;
  }

  MidiResult Reset(MidiOutHandle handle) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiOutReset", handle, {handle});
    if (result != MMSYSERR_NOERROR) return result;
    for (MidiHeader* header : fake_.outPending_) MarkDone(header);
    fake_.outPending_.clear();
    return MMSYSERR_NOERROR;
  }

  MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    std::lock_guard<std::mutex> hold(fake_.lock_);
    const MidiResult result = Checked("midiOutUnprepareHeader", handle, {handle, Address(header)});
    if (result != MMSYSERR_NOERROR) return result;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags.fetch_and(~MHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

 private:
  MidiResult Checked(const char* name, MidiOutHandle handle, std::vector<uintptr_t> args) {
    const MidiResult scripted = fake_.RecordLocked(name, std::move(args));
    if (scripted != MMSYSERR_NOERROR) return scripted;
    if (handle == 0 || handle != fake_.outHandle_) return MMSYSERR_INVALHANDLE;
    return MMSYSERR_NOERROR;
  }

  RecordingMidi& fake_;
};

RecordingMidi::RecordingMidi()
    : in_(std::make_unique<InSide>(*this)), out_(std::make_unique<OutSide>(*this)) {}

RecordingMidi::~RecordingMidi() = default;

MidiInServices& RecordingMidi::In() {
  return *in_;
}
MidiOutServices& RecordingMidi::Out() {
  return *out_;
}

void RecordingMidi::SetInputDevices(std::vector<std::string> names) {
  std::lock_guard<std::mutex> hold(lock_);
  inNames_ = std::move(names);
}

void RecordingMidi::SetOutputDevices(std::vector<std::string> names) {
  std::lock_guard<std::mutex> hold(lock_);
  outNames_ = std::move(names);
}

void RecordingMidi::SetUnterminatedNames(bool on) {
  std::lock_guard<std::mutex> hold(lock_);
  unterminatedNames_ = on;
}

void RecordingMidi::SetResult(const std::string& call, MidiResult result) {
  std::lock_guard<std::mutex> hold(lock_);
  results_[call] = result;
}

void RecordingMidi::SetResultOnce(const std::string& call, MidiResult result) {
  std::lock_guard<std::mutex> hold(lock_);
  onceResults_[call].push_back(result);
}

std::vector<MidiCall> RecordingMidi::Calls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return log_;
}

std::vector<std::string> RecordingMidi::CallNames() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<std::string> names;
  for (const MidiCall& call : log_) names.push_back(call.name);
  return names;
}

size_t RecordingMidi::Count(const std::string& call) const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<size_t>(std::count_if(
      log_.begin(), log_.end(), [&](const MidiCall& each) { return each.name == call; }));
}

void RecordingMidi::ClearLog() {
  std::lock_guard<std::mutex> hold(lock_);
  log_.clear();
}

bool RecordingMidi::WaitForCalls(const std::string& call, size_t count,
                                 std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(lock_);
  return logged_.wait_for(hold, limit, [&] {
    return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [&](const MidiCall& each) {
             return each.name == call;
           })) >= count;
  });
}

MidiResult RecordingMidi::RecordLocked(const char* name, std::vector<uintptr_t> args) {
  log_.push_back(MidiCall{name, std::move(args)});
  logged_.notify_all();
  auto once = onceResults_.find(name);
  if (once != onceResults_.end() && !once->second.empty()) {
    const MidiResult result = once->second.front();
    once->second.pop_front();
    return result;
  }
  auto lasting = results_.find(name);
  return lasting != results_.end() ? lasting->second : MMSYSERR_NOERROR;
}

MidiResult RecordingMidi::FillCaps(const std::vector<std::string>& names, uint32_t device,
                                   MidiDeviceCaps* caps) {
  if (device >= names.size()) return MMSYSERR_BADDEVICEID;
  const std::string& name = names[device];
  std::memset(caps->szPname, 0, sizeof caps->szPname);
  const size_t room = unterminatedNames_ ? sizeof caps->szPname : sizeof caps->szPname - 1;
  std::memcpy(caps->szPname, name.data(), std::min(room, name.size()));
  return MMSYSERR_NOERROR;
}

bool RecordingMidi::InputOpen() const {
  std::lock_guard<std::mutex> hold(lock_);
  return inHandle_ != 0;
}

std::vector<MidiHeader*> RecordingMidi::QueuedInputBuffers() const {
  std::lock_guard<std::mutex> hold(lock_);
  return {inQueue_.begin(), inQueue_.end()};
}

bool RecordingMidi::HandBackInput(uint32_t message, const std::vector<uint8_t>* bytes, bool done) {
  MidiHeader* header = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (inHandle_ == 0 || inQueue_.empty()) return false;
    header = inQueue_.front();
    inQueue_.pop_front();
    if (bytes != nullptr) {
      const size_t count = std::min<size_t>(bytes->size(), header->dwBufferLength);
      if (count > 0) std::memcpy(header->lpData, bytes->data(), count);
      header->dwBytesRecorded = static_cast<uint32_t>(count);
    }
    header->dwFlags.fetch_and(~MHDR_INQUEUE);
    if (done) header->dwFlags.fetch_or(MHDR_DONE);
  }
  CallInput(message, Address(header));
  return true;
}

void RecordingMidi::CallInput(uint32_t message, uintptr_t param1) {
  MidiInProc callback = nullptr;
  MidiInHandle handle = 0;
  uintptr_t instance = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    callback = callback_;
    handle = inHandle_;
    instance = instance_;
  }
  if (callback != nullptr) callback(handle, message, instance, param1, 0);
}

bool RecordingMidi::DeliverLongData(const std::vector<uint8_t>& bytes, bool done) {
  return HandBackInput(MIM_LONGDATA, &bytes, done);
}

bool RecordingMidi::DeliverLongError(const std::vector<uint8_t>& bytes) {
  return HandBackInput(MIM_LONGERROR, &bytes, true);
}

bool RecordingMidi::FillInput(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  if (inHandle_ == 0 || inQueue_.empty()) return false;
  MidiHeader* header = inQueue_.front();
  const size_t room = header->dwBufferLength - header->dwBytesRecorded;
  const size_t count = std::min(room, bytes.size());
  if (count > 0) std::memcpy(header->lpData + header->dwBytesRecorded, bytes.data(), count);
  header->dwBytesRecorded += static_cast<uint32_t>(count);
  return true;
}

bool RecordingMidi::DeliverRaw(uint32_t message, uintptr_t param1) {
  if (!InputOpen()) return false;
  CallInput(message, param1);
  return true;
}

bool RecordingMidi::DeliverShort(uint32_t packed) {
  return DeliverRaw(MIM_DATA, packed);
}

void RecordingMidi::SetInputReturnsBuffers(bool on) {
  std::lock_guard<std::mutex> hold(lock_);
  inputReturnsBuffers_ = on;
}

void RecordingMidi::SetOutputCompletion(OutputCompletion mode) {
  std::lock_guard<std::mutex> hold(lock_);
  completion_ = mode;
}

size_t RecordingMidi::CompleteOutput() {
  std::lock_guard<std::mutex> hold(lock_);
  if (completion_ == OutputCompletion::Never) return 0;
  const size_t count = outPending_.size();
  for (MidiHeader* header : outPending_) MarkDone(header);
  outPending_.clear();
  return count;
}

std::vector<std::vector<uint8_t>> RecordingMidi::SentMessages() const {
  std::lock_guard<std::mutex> hold(lock_);
  return sent_;
}

size_t RecordingMidi::PendingOutput() const {
  std::lock_guard<std::mutex> hold(lock_);
  return outPending_.size();
}

}  // namespace kv5
