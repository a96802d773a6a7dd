#ifndef BASE_UTILS_CHECK_H_
#define BASE_UTILS_CHECK_H_

#include <cstdio>
#include <cstdlib>

// TLV_DCHECK(condition) checks a contract that a function's comment states
// and that a caller could otherwise break without anything noticing: a body
// that needs a member, a call that must not come from a certain thread. A
// broken contract is a bug in the caller, not a condition of the player's
// machine, so it is not handled: the check prints
// "<file>(<line>): check failed: <condition>" to stderr and aborts, where a
// test or a fuzzer sees it.
//
// The checks are on in every build but Release (the build files define
// TLV_DCHECK_IS_ON): in the test, sanitizer and fuzz builds. In Release the
// condition is compiled but never evaluated, so it costs nothing and still
// has to stay valid code.

namespace base::utils {

[[noreturn]] inline void CheckFailed(const char* condition,
                                     const char* file,
                                     int line) {
  std::fprintf(stderr, "%s(%d): check failed: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

}  // namespace base::utils

#if defined(TLV_DCHECK_IS_ON)
#define TLV_DCHECK(condition)         \
  ((condition) ? static_cast<void>(0) \
               : ::base::utils::CheckFailed(#condition, __FILE__, __LINE__))
#else
#define TLV_DCHECK(condition) static_cast<void>(sizeof(!(condition)))
#endif

#endif  // BASE_UTILS_CHECK_H_
