// Starting an operation again when someone else wrote its file between its read and its replace.
#ifndef VEXLOR_RETRY_H_
#define VEXLOR_RETRY_H_

#include <filesystem>
#include <functional>

#include "failure.h"

namespace vexlor {

// Runs `attempt` until it ends other than Status::WrittenMeanwhile(), at most a few times: a
// program that rewrites the file that often is not going to stop for us. Then the failure says
// that `file` kept changing while it was being `done` ("patched") and was not changed.
Status RetryWhileWrittenMeanwhile(const std::filesystem::path& file, const char* done,
                                  const std::function<Status()>& attempt);

}  // namespace vexlor

#endif  // VEXLOR_RETRY_H_
