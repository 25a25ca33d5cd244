#include "record/duplicates.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "record/identity.h"

namespace record {

namespace {

bool IsReworkOf(const ProductionRecord& later, const ProductionRecord& first) {
  return later.rework == "yes" && MacKey(later.mac) == MacKey(first.mac) &&
         SerialKey(later.serial) == SerialKey(first.serial);
}

}  // namespace

size_t DuplicateReport::Findings() const {
  size_t count = 0;
  for (const DuplicateGroup& group : groups) count += group.rework_only ? 0 : 1;
  return count;
}

bool FindDuplicates(LogSource& source, const std::string& name, DuplicateReport& report, std::string& error) {
  report = DuplicateReport{};
  std::unordered_map<std::string, uint32_t> mac_count;
  std::unordered_map<std::string, uint32_t> serial_count;
  LineCounts lines;
  bool ok = ReadLog(
      source, name, UINT64_MAX,
      [&](const LogLine& line) {
        if (line.kind != LineKind::kRecord || !ProgrammedSuccessfully(line.record)) return;
        ++report.programmed_records;
        ++mac_count[MacKey(line.record.mac)];
        if (!line.record.serial.empty()) ++serial_count[SerialKey(line.record.serial)];
      },
      lines, error);
  if (!ok) return false;
  report.lines = lines;

  // Only the identities counted twice or more are looked at again.
  std::unordered_map<std::string, size_t> mac_group;
  std::unordered_map<std::string, size_t> serial_group;
  for (const auto& [key, count] : mac_count) {
    if (count > 1) mac_group.emplace(key, SIZE_MAX);
  }
  for (const auto& [key, count] : serial_count) {
    if (count > 1) serial_group.emplace(key, SIZE_MAX);
  }
  mac_count.clear();
  serial_count.clear();
  if (mac_group.empty() && serial_group.empty()) return true;

  std::vector<DuplicateGroup> macs;
  std::vector<DuplicateGroup> serials;
  auto collect = [](std::unordered_map<std::string, size_t>& index, std::vector<DuplicateGroup>& groups,
                    DuplicateGroup::Kind kind, const std::string& key, const LogLine& line) {
    auto found = index.find(key);
    if (found == index.end()) return;
    if (found->second == SIZE_MAX) {
      found->second = groups.size();
      groups.push_back(DuplicateGroup{kind, key, {}, true});
    }
    DuplicateGroup& group = groups[found->second];
    if (!group.records.empty() && !IsReworkOf(line.record, group.records.front().record)) {
      group.rework_only = false;
    }
    group.records.push_back(NumberedRecord{line.number, line.record});
  };
  // The same bytes as the first pass: runs may have appended since.
  LineCounts again;
  ok = ReadLog(
      source, name, lines.bytes,
      [&](const LogLine& line) {
        if (line.kind != LineKind::kRecord || !ProgrammedSuccessfully(line.record)) return;
        collect(mac_group, macs, DuplicateGroup::Kind::kMac, MacKey(line.record.mac), line);
        if (!line.record.serial.empty()) {
          collect(serial_group, serials, DuplicateGroup::Kind::kSerial, SerialKey(line.record.serial), line);
        }
      },
      again, error);
  if (!ok) return false;
  report.groups = std::move(macs);
  for (DuplicateGroup& group : serials) report.groups.push_back(std::move(group));
  // A log rewritten between the passes may have lost a record.
  std::erase_if(report.groups, [](const DuplicateGroup& group) { return group.records.size() < 2; });
  return true;
}

}  // namespace record
