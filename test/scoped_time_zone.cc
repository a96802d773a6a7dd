#include "test/scoped_time_zone.h"

#include <stdlib.h>
#include <time.h>

namespace test {

namespace {

// The C library reads TZ again on tzset; an empty zone removes the
// variable.
void SetZone(const char* zone) {
#if defined(_WIN32)
  _putenv_s("TZ", zone);
  _tzset();
#else
  if (*zone)
    setenv("TZ", zone, 1);
  else
    unsetenv("TZ");
  tzset();
#endif
}

}  // namespace

ScopedTimeZone::ScopedTimeZone(const char* zone) {
  if (const char* current = getenv("TZ"))
    saved_ = current;
  Set(zone);
}

ScopedTimeZone::~ScopedTimeZone() {
  SetZone(saved_ ? saved_->c_str() : "");
}

void ScopedTimeZone::Set(const char* zone) {
  SetZone(zone);
}

}  // namespace test
