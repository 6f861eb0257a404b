// What the systems' files of the platform layer (posix.cpp, windows.cpp) share with each other
// and with nobody else; common.cpp defines it.
#ifndef VEXLOR_PLATFORM_SHARED_H_
#define VEXLOR_PLATFORM_SHARED_H_

#include <system_error>

#include "platform/platform.h"

namespace vexlor::platform {

// ClassifyError for what std::errc names: errors that std::filesystem and this layer report in
// the portable category mean the same on every system.
ErrorClass ClassifyByMeaning(const std::error_code& ec);

}  // namespace vexlor::platform

#endif  // VEXLOR_PLATFORM_SHARED_H_
