#include "platform/shared_log.h"

namespace platform {

int StopExitCode(StopKind kind) {
  switch (kind) {
    case StopKind::kInterrupt: return 130;  // SIGINT
    case StopKind::kTerminate: return 143;  // SIGTERM
    case StopKind::kHangUp: return 129;     // SIGHUP
  }
  return 130;
}

const char* StopText(StopKind kind) {
  switch (kind) {
    case StopKind::kInterrupt: return "Ctrl+C";
    case StopKind::kTerminate: return "a termination request";
    case StopKind::kHangUp: return "the console was closed";
  }
  return "";
}

void FormatUtcTime(int64_t seconds, char text[21]) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  const int64_t values[6] = {year, month, day, rest / 3600, rest / 60 % 60, rest % 60};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  const char after[6] = {'-', '-', 'T', ':', ':', 'Z'};
  int at = 0;
  for (int i = 0; i < 6; ++i) {
    int64_t v = values[i] < 0 ? 0 : values[i];
    for (int d = widths[i] - 1; d >= 0; --d) {
      text[at + d] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    at += widths[i];
    text[at++] = after[i];
  }
  text[at] = '\0';
}

}  // namespace platform
