#ifndef TEST_SCOPED_TIME_ZONE_H_
#define TEST_SCOPED_TIME_ZONE_H_

#include <optional>
#include <string>

namespace test {

// Pins the process's local time zone (TZ, a POSIX zone text such as "UTC0"
// or "JST-9") and restores the previous setting when it goes away, so that
// local-time fields of a known instant are known in a test.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone);
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;
  ~ScopedTimeZone();

  // Changes the zone again; the destructor still restores the original.
  void Set(const char* zone);

 private:
  std::optional<std::string> saved_;
};

}  // namespace test

#endif  // TEST_SCOPED_TIME_ZONE_H_
