#include "base/utils/time.h"

#include <time.h>
#include <windows.h>

#include "base/utils/file_util.h"

namespace base {

namespace {

// The C library's 64-bit broken-down time covers 1970-01-01 to
// 3000-12-31T23:59:59Z only. The Gregorian calendar repeats every 400 years,
// weekdays included, so a time outside is broken down a whole number of
// cycles away, inside the range, and its year moved back: a time before 1970
// reads as it does on other platforms.
constexpr int64_t kSecondsPer400Years = 146'097LL * 86'400;
constexpr int64_t kLastBrokenDownSecond = 32'535'215'999;

}  // namespace

// static
int64_t Time::Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t file_time =
      (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(file_time - utils::kFileTimeEpochToUnixEpoch);
}

// static
bool Time::BreakDownSeconds(int64_t seconds, bool local, TimeFields& fields) {
  int64_t cycles = 0;
  if (seconds < 0 || seconds > kLastBrokenDownSecond) {
    cycles = seconds / kSecondsPer400Years;
    if (seconds % kSecondsPer400Years < 0) {
      --cycles;
    }
  }
  const __time64_t since_epoch = seconds - cycles * kSecondsPer400Years;
  tm broken_down{};
  if ((local ? _localtime64_s(&broken_down, &since_epoch)
             : _gmtime64_s(&broken_down, &since_epoch)) != 0) {
    return false;
  }
  fields = FieldsFromBrokenDown(broken_down);
  fields.year += static_cast<int32_t>(cycles * 400);
  return true;
}

int64_t MonotonicNanoseconds() {
  // The frequency is fixed at boot.
  static const int64_t frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  const int64_t count = counter.QuadPart;
  // The common frequency converts exactly; any other is split into whole
  // seconds and the rest, so that the product cannot overflow.
  if (frequency == 10'000'000) {
    return count * 100;
  }
  return count / frequency * 1'000'000'000 +
         count % frequency * 1'000'000'000 / frequency;
}

}  // namespace base
