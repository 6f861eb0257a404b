// The moment a replacement's new file is complete and flushed, just before the library checks
// the target once more and renames over it. Reached at link time: the test program is linked
// with the linker's --wrap for the platform's streaming write, so the shipped library carries
// no hook for it.
#ifndef VEXLOR_TESTS_REPLACE_SEAM_H_
#define VEXLOR_TESTS_REPLACE_SEAM_H_

#include <filesystem>
#include <functional>

namespace vexlor::testing {

// Runs `hook` with the target each time a replacement's temporary file is complete; an empty
// hook ends it.
void WhenTemporaryWritten(std::function<void(const std::filesystem::path& target)> hook);

}  // namespace vexlor::testing

#endif  // VEXLOR_TESTS_REPLACE_SEAM_H_
