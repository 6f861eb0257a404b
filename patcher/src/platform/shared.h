// What the systems' files of the platform layer (posix.cpp, windows.cpp) share with each other
// and with nobody else; common.cpp defines it.
#ifndef VEXLOR_PLATFORM_SHARED_H_
#define VEXLOR_PLATFORM_SHARED_H_

#include <cstddef>
#include <string>
#include <system_error>

#include "platform/platform.h"

namespace vexlor::platform {

// A descriptor or handle that closes on every way out. `System` says what the system's own
// type is (`Value`), which values name nothing (`valid`, `none`) and how one is closed
// (`close`). Only the explicit close() of a write path reports a failure: a failed close after
// a successful flush to storage cannot lose data.
template <typename System>
class OwnedHandle {
  public:
    using Value = typename System::Value;
    explicit OwnedHandle(Value value) : value_(value) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() {
        if (valid()) {
            System::close(value_);
        }
    }
    Value get() const { return value_; }
    bool valid() const { return System::valid(value_); }
    std::error_code close() {
        const Value value = value_;
        value_ = System::none();
        return System::close(value);
    }

  private:
    Value value_;
};

// The reading loop of ReadFileInPieces: `readPiece(buffer, size, got)` reads up to `size`
// bytes, `got` 0 at the end. A file may grow while it is read, so the limit holds for what is
// actually read, whatever size (`openedSize`) the file had when it was opened.
template <typename ReadPiece>
std::error_code ReadToEnd(ReadPiece readPiece, std::size_t maxBytes, std::size_t openedSize,
                          const PieceTaker& take) {
    char chunk[64 * 1024];
    std::size_t total = 0;
    for (;;) {
        std::size_t got = 0;
        if (std::error_code ec = readPiece(chunk, sizeof chunk, got)) {
            return ec;
        }
        if (got == 0) {
            return {};
        }
        if (total + got > maxBytes) {
            return std::make_error_code(std::errc::file_too_large);
        }
        total += got;
        if (!take(std::string_view(chunk, got), openedSize)) {
            return {};
        }
    }
}

// ClassifyError for what std::errc names: errors that std::filesystem and this layer report in
// the portable category mean the same on every system.
ErrorClass ClassifyByMeaning(const std::error_code& ec);

}  // namespace vexlor::platform

#endif  // VEXLOR_PLATFORM_SHARED_H_
