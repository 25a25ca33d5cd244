// The simulator's JSON Lines trace: one line per request and per sleep,
// appended to a file and flushed line by line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

// What the trace records of one request.
struct TraceRequest {
  uint32_t code = 0;
  uint32_t signature = 0;
  uint32_t adapter = 0;
  uint32_t param = 0;
  uint32_t in_len = 0;
  const uint8_t* data = nullptr;   // bytes sent after the header
  size_t data_size = 0;
  bool call_failed = false;        // the device-control call itself failed
  uint32_t ioctl_error = 0;
  uint32_t status = 0;
  uint32_t returned = 0;
};

class TraceWriter {
 public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Opens `path` for appending; false and a reason when it cannot.
  bool Open(const std::string& path, std::string& problem);
  bool enabled() const { return file_ != nullptr; }

  void Request(const TraceRequest& r);
  void Sleep(uint32_t ms);

 private:
  void Write(const std::string& line);

  std::FILE* file_ = nullptr;
  uint64_t seq_ = 0;   // counts the events of this run from 1
  std::string line_;   // reused for every line
};

}  // namespace sim
