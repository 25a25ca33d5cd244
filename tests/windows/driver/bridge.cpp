// The test driver's bridge to the simulated controller, a DLL that the
// driver imports and that runs inside Wine's driver host (winedevice.exe).
//
// Each handle on the control device is a session with its own simulated
// device, opened from the state file named by the driver's settings. One
// thread carries out the requests of the sessions in the order they were
// opened: a session takes the state file (and its lock) when it comes first,
// so a later one waits until the earlier ones closed, as two runs on one
// simulated device wait for each other, while the driver's request thread
// keeps taking requests. Every finished request goes back to the driver
// through its completion call.
//
// The log, when its path is set, has one line per event, for the tests:
//   open session=N error=E waited=0|1  (1: an earlier session had the device)
//   control session=N op=O param=0xP in=I out=U error=E returned=R
//   close session=N saved=1|0 [problem=TEXT]
#define ORN_BRIDGE_BUILD
#include "bridge.h"

#include <windows.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "sim/sim_device.h"
#include "sim/simulator.h"

namespace {

constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorOperationAborted = 995;

std::string Utf8(const wchar_t* text) {
  if (text == nullptr || text[0] == L'\0') return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

enum class JobKind { kOpen, kControl, kClose };

struct Job {
  JobKind kind = JobKind::kControl;
  void* request = nullptr;
  uint32_t code = 0;
  uint8_t* buffer = nullptr;
  uint32_t in_len = 0;
  uint32_t out_len = 0;
};

// A 32-bit header field of a request, or 0 when the input does not reach it.
uint32_t Field32(const Job& job, uint32_t offset) {
  if (job.buffer == nullptr || job.in_len < offset + 4) return 0;
  const uint8_t* b = job.buffer + offset;
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

struct Session {
  uint64_t number = 0;
  std::string state_file;
  std::string trace_file;
  std::string log_file;
  std::deque<Job> jobs;
  std::unique_ptr<platform::DeviceControl> device;
  uint32_t open_error = 0;
  bool waited = false;  // opened while an earlier session still had the device
  std::FILE* log = nullptr;

  ~Session() {
    if (log != nullptr) std::fclose(log);
  }

  void Log(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (log == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(log, format, args);
    va_end(args);
    std::fflush(log);
  }
};

class Bridge {
 public:
  explicit Bridge(OrnBridgeCompletion complete) : complete_(complete) {}

  void Start() { worker_ = std::thread([this] { Run(); }); }

  void Stop() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  // Throws only before anything was queued, so the caller can fail the
  // request itself.
  void Open(void* key, void* request, const OrnBridgeSettings& settings) {
    auto session = std::make_unique<Session>();
    session->state_file = Utf8(settings.state_file);
    session->trace_file = Utf8(settings.trace_file);
    session->log_file = Utf8(settings.log_file);
    Job job;
    job.kind = JobKind::kOpen;
    job.request = request;
    session->jobs.push_back(job);
    std::unique_lock<std::mutex> hold(mutex_);
    if (stopping_) {
      hold.unlock();
      complete_(request, kErrorOperationAborted, 0);
      return;
    }
    Session* raw = session.get();
    raw->waited = !order_.empty();
    order_.push_back(std::move(session));
    try {
      by_key_[key] = raw;
    } catch (...) {
      order_.pop_back();
      throw;
    }
    raw->number = ++sessions_opened_;
    hold.unlock();
    wake_.notify_all();
  }

  // Queues a control or close job on the session of `key`. A close takes
  // the key out of the map at once: the handle sends nothing after it, and
  // the system may hand the same key to the next handle.
  void Queue(void* key, const Job& job) {
    std::unique_lock<std::mutex> hold(mutex_);
    const auto it = by_key_.find(key);
    if (stopping_ || it == by_key_.end()) {
      hold.unlock();
      complete_(job.request, job.kind == JobKind::kClose ? 0 : kErrorInvalidHandle, 0);
      return;
    }
    it->second->jobs.push_back(job);
    if (job.kind == JobKind::kClose) by_key_.erase(it);
    hold.unlock();
    wake_.notify_all();
  }

 private:
  void Run() {
    for (;;) {
      Session* session = nullptr;
      Job job;
      {
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait(hold, [this] {
          return stopping_ || (!order_.empty() && !order_.front()->jobs.empty());
        });
        if (stopping_) break;
        session = order_.front().get();
        job = session->jobs.front();
        session->jobs.pop_front();
      }
      Carry(*session, job);
      if (job.kind == JobKind::kClose) {
        std::lock_guard<std::mutex> hold(mutex_);
        order_.pop_front();
      }
    }
    Drain();
  }

  // Carries out one job of the first session; the state file is touched
  // here only, on this thread.
  void Carry(Session& s, const Job& job) {
    switch (job.kind) {
      case JobKind::kOpen: {
        if (!s.log_file.empty()) s.log = std::fopen(s.log_file.c_str(), "ab");
        uint32_t error = 0;
        s.device = sim::OpenSimulatedDevice(s.state_file, s.trace_file, error);
        s.open_error = s.device ? 0 : (error != 0 ? error : kErrorInvalidHandle);
        s.Log("open session=%llu error=%u waited=%d\n", static_cast<unsigned long long>(s.number),
              s.open_error, s.waited ? 1 : 0);
        complete_(job.request, s.open_error, 0);
        return;
      }
      case JobKind::kControl: {
        // Header fields for the log, read before the reply overwrites the block.
        const uint32_t op = Field32(job, 4);
        const uint32_t param = Field32(job, 12);
        uint32_t returned = 0;
        uint32_t error = s.open_error;  // a session whose open failed fails every request
        if (s.device) {
          error = 0;
          if (!s.device->Control(job.code, job.buffer, job.in_len, job.out_len, returned, error)) {
            returned = 0;
          }
        }
        s.Log("control session=%llu op=%u param=0x%08x in=%u out=%u error=%u returned=%u\n",
              static_cast<unsigned long long>(s.number), op, param, job.in_len, job.out_len,
              error, returned);
        complete_(job.request, error, returned);
        return;
      }
      case JobKind::kClose:
        Finish(s);
        complete_(job.request, 0, 0);
        return;
    }
  }

  // Saves the state and releases the file; logs the outcome.
  void Finish(Session& s) {
    std::string problem;
    bool saved = true;
    if (auto* simulated = dynamic_cast<sim::SimulatedDevice*>(s.device.get())) {
      saved = simulated->Save(problem);
    }
    s.device.reset();
    if (saved) {
      s.Log("close session=%llu saved=1\n", static_cast<unsigned long long>(s.number));
    } else {
      s.Log("close session=%llu saved=0 problem=%s\n", static_cast<unsigned long long>(s.number),
            problem.c_str());
    }
  }

  // After Stop: every session still there is finished and its waiting
  // requests fail (a close succeeds).
  void Drain() {
    std::deque<std::unique_ptr<Session>> left;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      left.swap(order_);
      by_key_.clear();
    }
    for (auto& s : left) {
      if (s->device) Finish(*s);
      for (const Job& job : s->jobs) {
        complete_(job.request, job.kind == JobKind::kClose ? 0 : kErrorOperationAborted, 0);
      }
    }
  }

  OrnBridgeCompletion complete_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::unique_ptr<Session>> order_;  // sessions in the order they were opened
  std::map<void*, Session*> by_key_;             // open handles
  uint64_t sessions_opened_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

Bridge* g_bridge = nullptr;
OrnBridgeCompletion g_bridge_complete = nullptr;

}  // namespace

extern "C" {

uint32_t OrnBridgeStart(OrnBridgeCompletion complete) {
  if (g_bridge != nullptr || complete == nullptr) return kErrorInvalidHandle;
  try {
    auto bridge = std::make_unique<Bridge>(complete);
    bridge->Start();
    g_bridge = bridge.release();
    g_bridge_complete = complete;
  } catch (...) {
    return kErrorNotEnoughMemory;
  }
  return 0;
}

void OrnBridgeStop(void) {
  if (g_bridge == nullptr) return;
  g_bridge->Stop();
  delete g_bridge;
  g_bridge = nullptr;
}

void OrnBridgeOpen(void* session, void* request, const OrnBridgeSettings* settings) {
  try {
    g_bridge->Open(session, request, *settings);
  } catch (...) {
    g_bridge_complete(request, kErrorNotEnoughMemory, 0);
  }
}

void OrnBridgeControl(void* session, void* request, uint32_t code, uint8_t* buffer,
                      uint32_t in_len, uint32_t out_len) {
  Job job;
  job.kind = JobKind::kControl;
  job.request = request;
  job.code = code;
  job.buffer = buffer;
  job.in_len = in_len;
  job.out_len = out_len;
  try {
    g_bridge->Queue(session, job);
  } catch (...) {
    g_bridge_complete(request, kErrorNotEnoughMemory, 0);
  }
}

void OrnBridgeClose(void* session, void* request) {
  Job job;
  job.kind = JobKind::kClose;
  job.request = request;
  try {
    g_bridge->Queue(session, job);
  } catch (...) {
    g_bridge_complete(request, 0, 0);
  }
}

}  // extern "C"
