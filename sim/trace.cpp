#include "sim/trace.h"

#include <cerrno>
#include <cstring>

#include "sim/text.h"

namespace sim {

TraceWriter::~TraceWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TraceWriter::Open(const std::string& path, std::string& problem) {
  file_ = std::fopen(path.c_str(), "ab");
  if (file_ == nullptr) {
    problem = std::string("cannot open the trace file: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void TraceWriter::Request(const TraceRequest& r) {
  static const char kDigits[] = "0123456789abcdef";
  char head[256];
  std::snprintf(head, sizeof head,
                "{\"seq\":%llu,\"op\":\"%s\",\"code\":%u,\"signature\":\"0x%08x\",\"adapter\":%u,"
                "\"param\":\"0x%08x\",\"in_len\":%u,\"data\":\"",
                static_cast<unsigned long long>(++seq_), OpNameOf(r.code), r.code, r.signature,
                r.adapter, r.param, r.in_len);
  line_ = head;
  for (size_t i = 0; i < r.data_size; ++i) {
    line_ += kDigits[r.data[i] >> 4];
    line_ += kDigits[r.data[i] & 0xF];
  }
  char tail[96];
  if (r.call_failed) {
    std::snprintf(tail, sizeof tail, "\",\"ioctl_error\":%u}\n", r.ioctl_error);
  } else {
    std::snprintf(tail, sizeof tail, "\",\"status\":%u,\"returned\":%u}\n", r.status, r.returned);
  }
  line_ += tail;
  Write(line_);
}

void TraceWriter::Sleep(uint32_t ms) {
  char line[96];
  std::snprintf(line, sizeof line, "{\"seq\":%llu,\"sleep_ms\":%u}\n",
                static_cast<unsigned long long>(++seq_), ms);
  Write(line);
}

void TraceWriter::Write(const std::string& line) {
  if (file_ == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace sim
