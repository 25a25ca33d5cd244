// The session queue of the test driver's bridge, with fake devices: the
// order in which sessions get the device, calls that never wait, failures,
// stopping, and the log lines that the Wine tests read.
#include "session_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using wine_driver::SessionFiles;

void* Key(uintptr_t n) { return reinterpret_cast<void*>(0x1000 + n); }
void* Req(uintptr_t n) { return reinterpret_cast<void*>(n); }

// What the fake devices did, in order, across threads.
class Events {
 public:
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> hold(m_);
    lines_.push_back(e);
  }
  std::vector<std::string> Get() {
    std::lock_guard<std::mutex> hold(m_);
    return lines_;
  }

 private:
  std::mutex m_;
  std::vector<std::string> lines_;
};

// Requests handed back: request, error, bytes returned.
class Completions {
 public:
  using Done = std::tuple<uintptr_t, uint32_t, uint32_t>;
  void Add(void* request, uint32_t error, uint32_t returned) {
    std::lock_guard<std::mutex> hold(m_);
    done_.emplace_back(reinterpret_cast<uintptr_t>(request), error, returned);
    cv_.notify_all();
  }
  // Waits until `n` requests are back; false after five seconds.
  bool WaitFor(size_t n) {
    std::unique_lock<std::mutex> hold(m_);
    return cv_.wait_for(hold, 5s, [&] { return done_.size() >= n; });
  }
  std::vector<Done> Get() {
    std::lock_guard<std::mutex> hold(m_);
    return done_;
  }
  std::vector<uintptr_t> Order() {
    std::vector<uintptr_t> order;
    for (const Done& d : Get()) order.push_back(std::get<0>(d));
    return order;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Done> done_;
};

// A device named after its state file; "fail31" fails every call with 31.
class FakeDevice : public platform::DeviceControl {
 public:
  FakeDevice(std::string name, Events& events) : name_(std::move(name)), events_(events) {}
  bool Control(uint32_t, uint8_t* buffer, uint32_t, uint32_t, uint32_t& returned,
               uint32_t& error) override {
    events_.Add(name_ + " control " + std::to_string(buffer[4]));
    if (name_ == "fail31") {
      error = 31;
      return false;
    }
    buffer[8] = 0;
    returned = 20;
    return true;
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  Events& events_;
};

class SessionQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { queue_.Start(); }

  // A request block with the operation code at 4 and the parameter at 12.
  uint8_t* Block(uint8_t op, uint32_t param = 0) {
    blocks_.emplace_back();
    auto& b = blocks_.back();
    b.fill(0);
    b[4] = op;
    for (int i = 0; i < 4; ++i) b[12 + i] = static_cast<uint8_t>(param >> (8 * i));
    return b.data();
  }
  void Control(uintptr_t key, uintptr_t request, uint8_t op, uint32_t in_len = 4096) {
    queue_.Control(Key(key), Req(request), 0x122400, Block(op), in_len, 4096);
  }
  void Open(uintptr_t key, uintptr_t request, const std::string& state, const std::string& log = "") {
    queue_.Open(Key(key), Req(request), SessionFiles{state, "", log});
  }

  void OpenGate() {
    std::lock_guard<std::mutex> hold(gate_m_);
    gate_open_ = true;
    gate_cv_.notify_all();
  }

  Events events_;
  Completions done_;
  std::mutex gate_m_;
  std::condition_variable gate_cv_;
  bool gate_open_ = true;  // a "blocked" state file opens only when the gate is open
  bool save_ok_ = true;
  std::deque<std::array<uint8_t, 4096>> blocks_;  // stable addresses
  wine_driver::SessionQueue queue_{
      [this](void* r, uint32_t e, uint32_t n) { done_.Add(r, e, n); },
      [this](const SessionFiles& f, uint32_t& error) -> std::unique_ptr<platform::DeviceControl> {
        if (f.state_file == "bad") {
          error = 13;
          return nullptr;
        }
        if (f.state_file == "blocked") {
          std::unique_lock<std::mutex> hold(gate_m_);
          gate_cv_.wait(hold, [this] { return gate_open_; });
        }
        events_.Add(f.state_file + " open");
        return std::make_unique<FakeDevice>(f.state_file, events_);
      },
      [this](platform::DeviceControl& d, std::string& problem) {
        events_.Add(static_cast<FakeDevice&>(d).name() + " save");
        if (!save_ok_) problem = "disk full";
        return save_ok_;
      }};
};

TEST_F(SessionQueueTest, ALaterSessionWaitsUntilTheEarlierOneHasClosed) {
  Open(1, 1, "A");
  Control(1, 2, 8);
  Open(2, 3, "B");
  Control(2, 4, 10);
  ASSERT_TRUE(done_.WaitFor(2));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(done_.Order(), (std::vector<uintptr_t>{1, 2}));  // B has not started

  queue_.Close(Key(1), Req(5));
  ASSERT_TRUE(done_.WaitFor(5));
  queue_.Close(Key(2), Req(6));
  ASSERT_TRUE(done_.WaitFor(6));
  EXPECT_EQ(done_.Order(), (std::vector<uintptr_t>{1, 2, 5, 3, 4, 6}));
  EXPECT_EQ(events_.Get(), (std::vector<std::string>{"A open", "A control 8", "A save", "B open",
                                                     "B control 10", "B save"}));
}

// The driver's request thread must go on while a state file lock is awaited.
TEST_F(SessionQueueTest, CallsReturnAtOnceWhileAnOpenWaits) {
  gate_open_ = false;
  Open(1, 1, "blocked");
  Control(1, 2, 8);
  Open(2, 3, "B");
  queue_.Close(Key(1), Req(4));
  Control(2, 5, 9);
  queue_.Close(Key(2), Req(6));
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(done_.Get().empty());

  OpenGate();
  ASSERT_TRUE(done_.WaitFor(6));
  EXPECT_EQ(done_.Order(), (std::vector<uintptr_t>{1, 2, 4, 3, 5, 6}));
}

TEST_F(SessionQueueTest, FailuresReachTheRequestThatMadeThem) {
  Open(1, 1, "bad");        // open fails with 13
  Control(1, 2, 8);         // so does every request of the session
  queue_.Close(Key(1), Req(3));
  Open(2, 4, "fail31");     // the device call fails with 31
  Control(2, 5, 8);
  queue_.Close(Key(2), Req(6));
  Control(9, 7, 8);         // no such handle
  queue_.Close(Key(9), Req(8));
  ASSERT_TRUE(done_.WaitFor(8));
  std::vector<Completions::Done> got = done_.Get();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<Completions::Done>{{1, 13, 0}, {2, 13, 0}, {3, 0, 0}, {4, 0, 0},
                                                  {5, 31, 0}, {6, 0, 0}, {7, 6, 0}, {8, 0, 0}}));
}

TEST_F(SessionQueueTest, AKeyUsedAgainAfterItsCloseBelongsToTheNewSession) {
  Open(1, 1, "A");
  queue_.Close(Key(1), Req(2));
  Open(1, 3, "B");
  Control(1, 4, 8);
  ASSERT_TRUE(done_.WaitFor(4));
  EXPECT_EQ(events_.Get().back(), "B control 8");
}

TEST_F(SessionQueueTest, StopSavesTheOpenSessionAndAbortsWhatWaits) {
  Open(1, 1, "A");
  Control(1, 2, 8);
  Open(2, 3, "B");
  Control(2, 4, 8);
  queue_.Close(Key(2), Req(5));
  ASSERT_TRUE(done_.WaitFor(2));
  queue_.Stop();
  Control(1, 6, 8);
  Open(3, 7, "C");
  ASSERT_TRUE(done_.WaitFor(7));
  std::vector<Completions::Done> got = done_.Get();
  EXPECT_EQ(got, (std::vector<Completions::Done>{
                     {1, 0, 0}, {2, 0, 20}, {3, 995, 0}, {4, 995, 0}, {5, 0, 0}, {6, 6, 0}, {7, 995, 0}}));
  EXPECT_EQ(events_.Get(), (std::vector<std::string>{"A open", "A control 8", "A save"}));
}

// The Wine tests read these lines: sessions, lengths, and failed saves.
TEST_F(SessionQueueTest, TheLogHasOneLinePerEvent) {
  const std::filesystem::path log =
      std::filesystem::path(::testing::TempDir()) /
      ("orn-session-queue-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".log");
  std::filesystem::remove(log);
  save_ok_ = false;
  Open(1, 1, "A", log.string());
  queue_.Control(Key(1), Req(2), 0x122400, Block(11, 0x80000001), 20, 4096);
  queue_.Control(Key(1), Req(3), 0x122400, Block(11, 0x80000001), 6, 4096);  // header cut short
  Open(2, 4, "bad", log.string());
  queue_.Close(Key(1), Req(5));
  queue_.Close(Key(2), Req(6));
  ASSERT_TRUE(done_.WaitFor(6));

  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "open session=1 error=0 waited=0",
                       "control session=1 op=11 param=0x80000001 in=20 out=4096 error=0 returned=20",
                       "control session=1 op=0 param=0x00000000 in=6 out=4096 error=0 returned=20",
                       "close session=1 saved=0 problem=disk full",
                       "open session=2 error=13 waited=1",
                       "close session=2 saved=1",
                   }));
  std::filesystem::remove(log);
}

}  // namespace
