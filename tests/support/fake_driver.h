// A fake driver for the command tests: answers READ_PHY from per-register
// read sequences, other operations from canned reply data, and records every
// request and sleep in order.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "driver/request_channel.h"

namespace fake {

struct Request {
  uint32_t code = 0;
  uint32_t param = 0;
  uint32_t in_len = 0;
  std::vector<uint8_t> data;  // bytes sent after the header
};

class FakeDriver : public platform::DeviceControl {
 public:
  // PHY index -> read sequence: the k-th read returns element k, the last
  // repeats. Unlisted indexes read 0.
  std::map<uint32_t, std::vector<uint32_t>> phy;
  // (PHY index, 1-based read number of that index) answered with status 2.
  std::set<std::pair<uint32_t, int>> failing_phy_reads;
  // Operation code -> status for every request of it.
  std::map<uint32_t, uint32_t> op_status;
  // Operation code -> reply data written at offset 16.
  std::map<uint32_t, std::vector<uint8_t>> replies;
  uint32_t phy_returned = 18;  // 16-bit READ_PHY replies

  std::vector<Request> requests;
  std::vector<std::string> events;  // "READ_PHY 1", "WRITE_PHY 9", "sleep 500", ...
  std::vector<uint32_t> sleeps;

  bool Control(uint32_t, uint8_t* b, uint32_t in_len, uint32_t, uint32_t& returned,
               uint32_t&) override {
    Request r;
    std::memcpy(&r.code, b + 4, 4);
    std::memcpy(&r.param, b + 12, 4);
    r.in_len = in_len;
    if (in_len > 16 && in_len <= 4096) r.data.assign(b + 16, b + in_len);
    requests.push_back(r);
    const char* name = OpName(r.code);
    events.push_back(std::string(name ? name : "?") + " " + std::to_string(r.param));

    uint32_t status = 0;
    auto st = op_status.find(r.code);
    if (st != op_status.end()) status = st->second;
    returned = 16;
    if (r.code == READ_PHY && status == 0) {
      const int nth = ++phy_reads_[r.param];
      if (failing_phy_reads.count({r.param, nth})) {
        status = 2;
      } else {
        uint32_t v = 0;
        auto it = phy.find(r.param);
        if (it != phy.end() && !it->second.empty()) {
          v = it->second[std::min<size_t>(static_cast<size_t>(nth - 1), it->second.size() - 1)];
        }
        std::memcpy(b + 16, &v, 4);
        returned = phy_returned;
      }
    } else if (status == 0) {
      auto rep = replies.find(r.code);
      if (rep != replies.end()) {
        std::memcpy(b + 16, rep->second.data(), rep->second.size());
        returned = 16 + static_cast<uint32_t>(rep->second.size());
      }
    }
    std::memcpy(b + 8, &status, 4);
    return true;
  }

  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    events.push_back("sleep " + std::to_string(ms));
  }

  // The PHY registers read, in order.
  std::vector<uint32_t> PhyReads() const {
    std::vector<uint32_t> out;
    for (const Request& r : requests) {
      if (r.code == READ_PHY) out.push_back(r.param);
    }
    return out;
  }

 private:
  std::map<uint32_t, int> phy_reads_;
};

// Little-endian bytes of 32-bit words, for canned replies.
inline std::vector<uint8_t> Words32(const std::vector<uint32_t>& words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return out;
}

// What `fn` prints on standard output.
inline std::string Capture(const std::function<void()>& fn) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace fake
