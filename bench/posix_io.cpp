#include "posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace bench {

namespace {

[[noreturn]] void fail(const char* call, const fs::path& path) {
    throw std::system_error(errno, std::generic_category(),
                            std::string(call) + " " + path.string());
}

class Descriptor {
  public:
    Descriptor(const fs::path& path, int flags)
        : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
        if (fd_ < 0) {
            fail("open", path);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { ::close(fd_); }
    int get() const { return fd_; }

  private:
    int fd_;
};

void writeAll(const Descriptor& fd, std::string_view bytes, const fs::path& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd.get(), bytes.data(), bytes.size());
        if (written < 0) {
            fail("write", path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void syncDescriptor(const Descriptor& fd, const fs::path& path) {
    if (::fsync(fd.get()) != 0) {
        fail("fsync", path);
    }
}

}  // namespace

std::string ReadFile(const fs::path& path) {
    const Descriptor fd(path, O_RDONLY);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        fail("fstat", path);
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            fail("read", path);
        }
        if (got == 0) {
            bytes.resize(filled);
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return bytes;
}

void WriteFileDurably(const fs::path& path, std::string_view bytes) {
    const Descriptor fd(path, O_WRONLY | O_CREAT | O_TRUNC);
    writeAll(fd, bytes, path);
    syncDescriptor(fd, path);
}

void SyncDirectory(const fs::path& dir) {
    const Descriptor fd(dir, O_RDONLY | O_DIRECTORY);
    syncDescriptor(fd, dir);
}

void RemoveIfPresent(const fs::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        fail("unlink", path);
    }
}

void ReplaceDurably(const fs::path& path, std::string_view bytes) {
    fs::path sibling = path;
    sibling += ".floor_tmp";
    WriteFileDurably(sibling, bytes);
    if (::rename(sibling.c_str(), path.c_str()) != 0) {
        fail("rename", sibling);
    }
    SyncDirectory(path.parent_path());
}

}  // namespace bench
