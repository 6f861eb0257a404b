#include <gtest/gtest.h>

#include "process.h"
#include "test_support.h"

namespace vexlor::testing {
namespace {

TEST(Support, RunsAProcessAndCapturesItsOutput) {
    const ProcessResult r = RunProcess(VEXLOR_VERIFY_EXE, {"idempotent-only"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "PASS idempotency\n");
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace vexlor::testing
