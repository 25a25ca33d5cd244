// Logs for the reader's tests: records made field by field and written as
// orn5300cli writes them, and sources that hand their bytes out in small
// pieces or change between two reads.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "provision/production_log.h"
#include "record/log_reader.h"

namespace log_test {

// A record with the fields the readers look at; the others as a run fills
// them.
inline ProductionRecord Rec(const std::string& host, const std::string& mac, const std::string& serial,
                            const std::string& verify, const std::string& exit_code,
                            const std::string& rework = "no") {
  ProductionRecord r;
  r.time_utc = "2026-12-08T10:00:00Z";
  r.host = host;
  r.adapter = "0";
  r.chip_model = "ORN5300";
  r.chip_id = "0x53000001";
  r.memory = "EEPROM";
  r.source_file = "station.ini";
  r.image_sha256 = verify == "not run" ? "" : std::string(64, 'a');
  r.mac = mac;
  r.serial = serial;
  r.bytes_written = verify == "not run" ? "0" : "512";
  r.verify = verify;
  r.exit_code = exit_code;
  r.rework = rework;
  r.tool_version = "1.0.9.0";
  return r;
}

inline ProductionRecord Passed(const std::string& mac, const std::string& serial, const std::string& rework = "no",
                               const std::string& host = "ST01") {
  return Rec(host, mac, serial, "passed", "0", rework);
}

// The header line and the records, as the writer appends them.
inline std::string Log(const std::vector<ProductionRecord>& records) {
  std::string text = RecordHeaderLine();
  for (const ProductionRecord& r : records) text += FormatRecordLine(r);
  return text;
}

// Hands out at most `piece` bytes per read, so that lines straddle reads.
class ChoppedSource final : public record::LogSource {
 public:
  ChoppedSource(std::string_view text, size_t piece) : inner_(text), piece_(piece) {}
  int64_t Read(char* buffer, size_t n) override { return inner_.Read(buffer, std::min(n, piece_)); }
  bool Rewind() override { return inner_.Rewind(); }

 private:
  record::TextSource inner_;
  size_t piece_;
};

// A log that reads as `first` until it is rewound the second time, then as
// `later`: runs that append (or a log replaced) between two passes.
class ChangingSource final : public record::LogSource {
 public:
  ChangingSource(std::string first, std::string later) : first_(std::move(first)), later_(std::move(later)) {}
  int64_t Read(char* buffer, size_t n) override {
    const std::string& text = rewinds_ >= 2 ? later_ : first_;
    const size_t count = std::min(n, text.size() - std::min(at_, text.size()));
    std::copy_n(text.data() + at_, count, buffer);
    at_ += count;
    return static_cast<int64_t>(count);
  }
  bool Rewind() override {
    ++rewinds_;
    at_ = 0;
    return true;
  }

 private:
  std::string first_, later_;
  size_t at_ = 0;
  int rewinds_ = 0;
};

}  // namespace log_test
