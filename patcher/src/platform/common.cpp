// The part of the platform layer that is the same on every system, written once so that the
// systems' files (posix.cpp, windows.cpp) hold only what tells them apart.
#include <utility>

#include "platform/platform.h"
#include "platform/shared.h"

namespace vexlor::platform {

fs::path DirectoryOrCurrent(const fs::path& dir) {
    return dir.empty() ? fs::path(".") : dir;
}

// A document already in memory is the one piece its writer hands on.
std::error_code ReadWholeFile(const fs::path& path, std::size_t maxBytes, std::string& out) {
    bool first = true;
    return ReadFileInPieces(path, maxBytes, [&](std::string_view piece, std::size_t openedSize) {
        if (first) {
            out.reserve(out.size() + openedSize);  // one allocation, not a growing string's
            first = false;
        }
        out.append(piece);
        return true;
    });
}

std::error_code WriteNewFileDurably(const fs::path& path, std::string_view bytes,
                                    const fs::path& modelFile, CarriedOver* carried) {
    return WriteNewFileDurably(
        path, [bytes](const ByteSink& sink) { return sink(bytes); }, modelFile, carried);
}

DirectoryLock::~DirectoryLock() {
    if (held()) {
        release(handle_);
    }
}

DirectoryLock::DirectoryLock(DirectoryLock&& other) noexcept : handle_(other.handle_) {
    other.handle_ = kNone;
}

// A swap hands the hold this lock had to `other`, whose end releases it.
DirectoryLock& DirectoryLock::operator=(DirectoryLock&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

ErrorClass ClassifyByMeaning(const std::error_code& ec) {
    if (ec == std::errc::read_only_file_system) {
        return ErrorClass::kReadOnlyMount;
    }
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted) {
        return ErrorClass::kDenied;
    }
    if (ec == std::errc::no_space_on_device) {
        return ErrorClass::kNoSpace;
    }
    return ErrorClass::kOther;
}

}  // namespace vexlor::platform
