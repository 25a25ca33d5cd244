#include "platform/file_lock.h"

#include <chrono>

#include "platform/device_control.h"

namespace platform {

bool WaitForLock(const std::function<LockTry()>& try_lock, uint32_t warn_after_ms,
                 const std::function<void()>& on_long_wait) {
  const auto start = std::chrono::steady_clock::now();
  bool warned = false;
  for (;;) {
    const LockTry outcome = try_lock();
    if (outcome != LockTry::kBusy) return outcome == LockTry::kTaken;
    if (!warned &&
        std::chrono::steady_clock::now() - start > std::chrono::milliseconds(warn_after_ms)) {
      warned = true;
      if (on_long_wait) on_long_wait();
    }
    SleepMilliseconds(kFileLockPollMs);
  }
}

}  // namespace platform
