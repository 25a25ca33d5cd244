// The sessions behind the test driver's control device, as its bridge keeps
// them. Each handle on the device is a session with its own device (a
// simulated controller on a state file). One thread carries out the
// requests of the sessions in the order the sessions were opened: a session
// opens its device when it comes first, so a later one waits until the
// earlier ones have closed, as two runs on one state file wait for each
// other. Open, Control and Close only queue and return at once, so the
// driver's request thread never waits, not even for a state file lock that
// another program holds. Every request is handed back through the
// completion call, from the queue's thread.
//
// With a log file, one line per event, for the tests:
//   open session=N error=E waited=0|1   (1: an earlier session had the device)
//   control session=N op=O param=0xP in=I out=U error=E returned=R
//   close session=N saved=1|0 [problem=TEXT]
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/device_control.h"

namespace wine_driver {

// Windows error numbers of failed requests.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorOperationAborted = 995;

struct SessionFiles {
  std::string state_file;
  std::string trace_file;  // empty: no trace
  std::string log_file;    // empty: no log
};

class SessionQueue {
 public:
  // Hands a request back: `error` 0 means success with `returned` bytes of
  // reply, otherwise the Windows error number it fails with.
  using Completion = std::function<void(void* request, uint32_t error, uint32_t returned)>;
  // Opens a session's device; null and a Windows error number on failure.
  using Opener =
      std::function<std::unique_ptr<platform::DeviceControl>(const SessionFiles&, uint32_t& error)>;
  // Saves a session's device before it is closed; false and a reason on failure.
  using Saver = std::function<bool(platform::DeviceControl&, std::string& problem)>;

  SessionQueue(Completion complete, Opener open, Saver save);
  ~SessionQueue();
  SessionQueue(const SessionQueue&) = delete;
  SessionQueue& operator=(const SessionQueue&) = delete;

  void Start();

  // Finishes every session still there (saving its device), fails the
  // requests that still wait with kErrorOperationAborted (a close succeeds),
  // and ends the thread. Later calls fail at once.
  void Stop();

  // A new handle `key`. Throws only before anything was queued.
  void Open(void* key, void* request, SessionFiles files);
  // A device-control request on handle `key`: `buffer` holds `in_len` bytes
  // of input and has room for the larger of the two lengths.
  void Control(void* key, void* request, uint32_t code, uint8_t* buffer, uint32_t in_len,
               uint32_t out_len);
  // The handle is closed: the session saves and closes its device. The key
  // is free at once for a later handle.
  void Close(void* key, void* request);

 private:
  enum class JobKind { kOpen, kControl, kClose };
  struct Job {
    JobKind kind = JobKind::kControl;
    void* request = nullptr;
    uint32_t code = 0;
    uint8_t* buffer = nullptr;
    uint32_t in_len = 0;
    uint32_t out_len = 0;
  };
  struct Session;

  void Queue(void* key, const Job& job);
  void Run();
  void Carry(Session& s, const Job& job);
  void Finish(Session& s);
  void Drain();

  Completion complete_;
  Opener open_;
  Saver save_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::unique_ptr<Session>> order_;  // sessions in the order they were opened
  std::map<void*, Session*> by_key_;             // open handles
  uint64_t sessions_opened_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace wine_driver
