// The few operating-system tricks the tests use to make real failures happen: FIFOs, symbolic
// links, permission bits, immutable files and the environment of a child process. Everything
// that is not portable lives here, so a test only asks whether a trick is available and skips
// itself when it is not.
#ifndef VEXLOR_TESTS_OS_TRAPS_H_
#define VEXLOR_TESTS_OS_TRAPS_H_

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "run_process.h"

namespace vexlor::testing {

// True where POSIX file semantics (links, modes, FIFOs) can be relied on.
inline bool HavePosixFiles() {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
}

// Whether this build runs under AddressSanitizer, whose runtime makes system calls of its own.
inline bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// Why files of 64 MiB are not written here, or nullptr: they take minutes through a sanitized
// build and under wine, and the plain Linux build tests them.
inline const char* WhyNoLargeFilesHere() {
    if (Sanitized()) {
        return "files of 64 MiB take minutes through a sanitized build; the plain build runs this";
    }
    return HavePosixFiles() ? nullptr
                            : "files of 64 MiB take minutes under wine; the Linux build runs this";
}

// Creates a FIFO at `path`; false where the system has none.
inline bool MakeFifo(const std::filesystem::path& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    return ::mkfifo(path.c_str(), 0644) == 0;
#endif
}

// Opens and closes the FIFO's writing end without waiting: a reader blocked in its open
// gets through, and its reads then find the end of the file.
inline void ReleaseFifoReaders(const std::filesystem::path& path) {
#ifdef _WIN32
    (void)path;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
    }
#endif
}

// A symbolic link that points at itself: every status query on it fails with "too many
// levels of symbolic links", an error that is not "not found".
inline bool MakeSymlinkLoop(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::create_symlink(path.filename(), path, ec);
    return !ec;
}

inline std::filesystem::perms PermissionBits(const std::filesystem::path& path) {
    return std::filesystem::status(path).permissions() & std::filesystem::perms::mask;
}

// Marks a file or directory immutable (chattr +i) for its lifetime: even root can then
// neither remove it nor create entries in it. Needs chattr, a file system that supports the
// flag and the privilege to set it; available() says whether all of that held.
class ScopedImmutable {
  public:
    explicit ScopedImmutable(std::filesystem::path path) : path_(std::move(path)) {
        available_ = chattr("+i");
    }
    ~ScopedImmutable() {
        if (available_) {
            chattr("-i");
        }
    }
    ScopedImmutable(const ScopedImmutable&) = delete;
    ScopedImmutable& operator=(const ScopedImmutable&) = delete;

    bool available() const { return available_; }

  private:
    bool chattr(const char* flag) const {
        const std::filesystem::path program = "/usr/bin/chattr";
        std::error_code ec;
        if (!HavePosixFiles() || !std::filesystem::exists(program, ec)) {
            return false;
        }
        return RunProcess(program, {flag, path_.string()}).exitCode == 0;
    }

    std::filesystem::path path_;
    bool available_ = false;
};

// Sets an environment variable, as child processes will see it, for the lifetime of the
// object; the previous setting comes back afterwards.
class ScopedVariable {
  public:
    ScopedVariable(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) {
            previous_ = old;
        }
        set(value.c_str());
    }
    ~ScopedVariable() { set(previous_ ? previous_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    void set(const char* value) const {
#ifdef _WIN32
        ::_putenv_s(name_.c_str(), value ? value : "");
#else
        if (value) {
            ::setenv(name_.c_str(), value, 1);
        } else {
            ::unsetenv(name_.c_str());
        }
#endif
    }
    std::string name_;
    std::optional<std::string> previous_;
};

// The variable that names the system's temporary directory.
#ifdef _WIN32
inline constexpr const char* kTempDirVariable = "TMP";
#else
inline constexpr const char* kTempDirVariable = "TMPDIR";
#endif

}  // namespace vexlor::testing

#endif  // VEXLOR_TESTS_OS_TRAPS_H_
