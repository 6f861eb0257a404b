#include "retry.h"

#include "log.h"
#include "platform/platform.h"

namespace vexlor {

namespace {

constexpr int kAttempts = 5;

}  // namespace

Status RetryWhileWrittenMeanwhile(const std::filesystem::path& file, const char* done,
                                  const std::function<Status()>& attempt) {
    for (int count = 0; count < kAttempts; ++count) {
        Status status = attempt();
        if (!status.writtenMeanwhile()) {
            return status;
        }
    }
    return Status::Failed(FailureKind::kKeptChanging,
                          Format("%s kept changing while it was being %s (another program is "
                                 "writing it); it was not changed",
                                 platform::DisplayPath(file).c_str(), done));
}

}  // namespace vexlor
