#include "test/scoped_time_zone.h"

#include <stdlib.h>
#include <time.h>

namespace test {

ScopedTimeZone::ScopedTimeZone(const char* zone) {
  if (const char* current = getenv("TZ"))
    saved_ = current;
  Set(zone);
}

ScopedTimeZone::~ScopedTimeZone() {
  if (saved_)
    setenv("TZ", saved_->c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

void ScopedTimeZone::Set(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

}  // namespace test
