#include "base/utils/check.h"

#include "gtest/gtest.h"

namespace base::utils {
namespace {

// A check that holds lets the program go on; one that fails ends it, naming
// the condition and where it stands. In Release the condition is not even
// evaluated.
TEST(CheckTest, FailureNamesTheConditionAndReleaseSkipsIt) {
  int evaluated = 0;
  const auto holds = [&evaluated](bool value) {
    ++evaluated;
    return value;
  };
  TLV_DCHECK(holds(true));
#if defined(TLV_DCHECK_IS_ON)
  EXPECT_EQ(evaluated, 1);
  EXPECT_DEATH(TLV_DCHECK(holds(1 + 1 == 3)),
               "check_test\\.cc\\([0-9]+\\): check failed: "
               "holds\\(1 \\+ 1 == 3\\)");
#else
  EXPECT_EQ(evaluated, 0);
#endif
}

}  // namespace
}  // namespace base::utils
