#include "session_queue.h"

#include <cstdarg>
#include <utility>

namespace wine_driver {
namespace {

// A 32-bit header field of a request, or 0 when the input does not reach it.
uint32_t Field32(const uint8_t* buffer, uint32_t in_len, uint32_t offset) {
  if (buffer == nullptr || in_len < offset + 4) return 0;
  const uint8_t* b = buffer + offset;
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

}  // namespace

struct SessionQueue::Session {
  uint64_t number = 0;
  SessionFiles files;
  std::deque<Job> jobs;
  std::unique_ptr<platform::DeviceControl> device;
  uint32_t open_error = 0;
  bool waited = false;
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

SessionQueue::SessionQueue(Completion complete, Opener open, Saver save)
    : complete_(std::move(complete)), open_(std::move(open)), save_(std::move(save)) {}

SessionQueue::~SessionQueue() { Stop(); }

void SessionQueue::Start() { worker_ = std::thread([this] { Run(); }); }

void SessionQueue::Stop() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
  Drain();  // what came without a thread to carry it
}

void SessionQueue::Open(void* key, void* request, SessionFiles files) {
  auto session = std::make_unique<Session>();
  session->files = std::move(files);
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

void SessionQueue::Control(void* key, void* request, uint32_t code, uint8_t* buffer,
                           uint32_t in_len, uint32_t out_len) {
  Job job;
  job.kind = JobKind::kControl;
  job.request = request;
  job.code = code;
  job.buffer = buffer;
  job.in_len = in_len;
  job.out_len = out_len;
  Queue(key, job);
}

void SessionQueue::Close(void* key, void* request) {
  Job job;
  job.kind = JobKind::kClose;
  job.request = request;
  Queue(key, job);
}

// A close takes the key out of the map at once: the handle sends nothing
// after it, and the system may hand the same key to the next handle.
void SessionQueue::Queue(void* key, const Job& job) {
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

void SessionQueue::Run() {
  for (;;) {
    Session* session = nullptr;
    Job job;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      wake_.wait(hold, [this] {
        return stopping_ || (!order_.empty() && !order_.front()->jobs.empty());
      });
      if (stopping_) return;
      session = order_.front().get();
      job = session->jobs.front();
      session->jobs.pop_front();
    }
    Carry(*session, job);
    if (job.kind == JobKind::kClose) {
      std::unique_ptr<Session> done;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        done = std::move(order_.front());
        order_.pop_front();
      }
    }
  }
}

// Carries out one job of the first session. Only this thread opens, uses
// and saves devices.
void SessionQueue::Carry(Session& s, const Job& job) {
  switch (job.kind) {
    case JobKind::kOpen: {
      if (!s.files.log_file.empty()) s.log = std::fopen(s.files.log_file.c_str(), "ab");
      uint32_t error = 0;
      s.device = open_(s.files, error);
      s.open_error = s.device ? 0 : (error != 0 ? error : kErrorInvalidHandle);
      s.Log("open session=%llu error=%u waited=%d\n", static_cast<unsigned long long>(s.number),
            s.open_error, s.waited ? 1 : 0);
      complete_(job.request, s.open_error, 0);
      return;
    }
    case JobKind::kControl: {
      // Header fields for the log, read before the reply overwrites the block.
      const uint32_t op = Field32(job.buffer, job.in_len, 4);
      const uint32_t param = Field32(job.buffer, job.in_len, 12);
      uint32_t returned = 0;
      uint32_t error = s.open_error;  // a session whose open failed fails every request
      if (s.device) {
        error = 0;
        if (!s.device->Control(job.code, job.buffer, job.in_len, job.out_len, returned, error)) {
          returned = 0;
        }
      }
      s.Log("control session=%llu op=%u param=0x%08x in=%u out=%u error=%u returned=%u\n",
            static_cast<unsigned long long>(s.number), op, param, job.in_len, job.out_len, error,
            returned);
      complete_(job.request, error, returned);
      return;
    }
    case JobKind::kClose:
      Finish(s);
      complete_(job.request, 0, 0);
      return;
  }
}

// Saves the device and closes it; logs the outcome.
void SessionQueue::Finish(Session& s) {
  std::string problem;
  const bool saved = !s.device || save_(*s.device, problem);
  s.device.reset();
  if (saved) {
    s.Log("close session=%llu saved=1\n", static_cast<unsigned long long>(s.number));
  } else {
    s.Log("close session=%llu saved=0 problem=%s\n", static_cast<unsigned long long>(s.number),
          problem.c_str());
  }
}

void SessionQueue::Drain() {
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

}  // namespace wine_driver
