#include "record/log_reader.h"
#include "platform/file_replace.h"
#include "platform/standard_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace record {

namespace {

constexpr size_t kReadPiece = size_t{1} << 16;

// `text` is the line without its LF.
void Classify(std::string_view text, LogLine& line) {
  if (!line.terminated) {
    line.kind = LineKind::kDamaged;
    return;
  }
  switch (ClassifyLogLine(text, line.number == 1, line.record)) {
    case LogLineKind::kHeader: line.kind = LineKind::kHeader; break;
    case LogLineKind::kRecord: line.kind = LineKind::kRecord; break;
    default: line.kind = LineKind::kDamaged; break;
  }
}

}  // namespace

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, std::string& error) {
  std::FILE* file = platform::OpenForReading(path);
  if (file == nullptr) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<FileSource>(new FileSource(file));
}

std::unique_ptr<LogSource> OpenLogSource(const std::string& path, std::string& error) {
  if (path != "-") return FileSource::Open(path, error);
  std::string text;
  long long total = 0;
  if (!platform::ReadStandardInput(text, SIZE_MAX, total)) {
    error = "cannot read standard input";
    return nullptr;
  }
  return std::make_unique<TextSource>(text);
}

FileSource::~FileSource() { std::fclose(file_); }

int64_t FileSource::Read(char* buffer, size_t n) {
  errno = 0;
  const size_t got = std::fread(buffer, 1, n, file_);
  if (got == 0 && std::ferror(file_)) {
    error_ = errno != 0 ? std::strerror(errno) : "read error";
    return -1;
  }
  return static_cast<int64_t>(got);
}

bool FileSource::Rewind() {
  errno = 0;
  if (std::fseek(file_, 0, SEEK_SET) != 0) {
    error_ = errno != 0 ? std::strerror(errno) : "cannot seek";
    return false;
  }
  std::clearerr(file_);
  return true;
}

int64_t TextSource::Read(char* buffer, size_t n) {
  const size_t count = std::min(n, text_.size() - at_);
  std::memcpy(buffer, text_.data() + at_, count);
  at_ += count;
  return static_cast<int64_t>(count);
}

void LineCounts::Add(const LogLine& line) {
  ++lines;
  switch (line.kind) {
    case LineKind::kHeader: ++header_lines; break;
    case LineKind::kRecord: ++(IsStartLine(line.record) ? start_lines : records); break;
    case LineKind::kDamaged:
      ++damaged;
      if (damaged_lines.size() < kListedDamagedLines) damaged_lines.push_back(line.number);
      break;
  }
  if (!line.terminated) unterminated_last_line = true;
}

bool ReadLog(LogSource& source, const std::string& name, uint64_t limit,
             const std::function<void(const LogLine&)>& fn, LineCounts& counts, std::string& error) {
  counts = LineCounts{};
  if (!source.Rewind()) {
    error = "cannot read " + name + ": " + source.ErrorText();
    return false;
  }
  std::vector<char> piece(kReadPiece);
  std::string pending;      // the start of the current line
  bool too_long = false;    // the current line passed kMaxLineBytes
  bool in_line = false;     // bytes of the current line were read
  LogLine line;
  auto finish = [&](std::string_view text, bool terminated) {
    line.number = counts.lines + 1;
    line.terminated = terminated;
    if (too_long) {
      line.kind = LineKind::kDamaged;
    } else {
      Classify(text, line);
    }
    counts.Add(line);
    fn(line);
    pending.clear();
    too_long = false;
    in_line = false;
  };
  while (counts.bytes < limit) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), limit - counts.bytes));
    const int64_t got = source.Read(piece.data(), want);
    if (got < 0) {
      error = "cannot read " + name + ": " + source.ErrorText();
      return false;
    }
    if (got == 0) break;
    counts.bytes += static_cast<uint64_t>(got);
    const char* p = piece.data();
    const char* end = p + got;
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* stop = nl != nullptr ? nl : end;
      const size_t n = static_cast<size_t>(stop - p);
      in_line = in_line || n > 0;
      if (!too_long) {
        if (pending.size() + n > kMaxLineBytes) {
          too_long = true;
          pending.clear();
          pending.shrink_to_fit();
        } else if (nl != nullptr && pending.empty()) {
          // A whole line inside the piece is looked at where it stands.
          finish(std::string_view(p, n), true);
          p = nl + 1;
          continue;
        } else {
          pending.append(p, n);
        }
      }
      if (nl == nullptr) break;
      finish(pending, true);
      p = nl + 1;
    }
  }
  if (in_line) finish(pending, false);
  return true;
}

}  // namespace record
