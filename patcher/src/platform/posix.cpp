// The platform layer on POSIX systems (Linux and other Unix systems).
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/shared.h"
#include "vexlor/support/utf8.h"

namespace vexlor::platform {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

struct Descriptors {
    using Value = int;
    static bool valid(int fd) { return fd >= 0; }
    static int none() { return -1; }
    static std::error_code close(int fd) {
        // Linux releases the descriptor even when close reports EINTR; retrying would close
        // someone else's.
        if (::close(fd) != 0 && errno != EINTR) {
            return lastError();
        }
        return {};
    }
};
using FileDescriptor = OwnedHandle<Descriptors>;

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

std::error_code syncRetrying(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) {
            return lastError();
        }
    }
    return {};
}

std::error_code writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// Makes a rename or link in `dir` survive a crash. File systems that cannot sync a directory
// say so with EINVAL; on them there is nothing more to do.
std::error_code syncDirectory(const fs::path& dir) {
    FileDescriptor fd(openRetrying(DirectoryOrCurrent(dir).c_str(), O_RDONLY | O_DIRECTORY));
    if (!fd.valid()) {
        return lastError();
    }
    std::error_code ec = syncRetrying(fd.get());
    if (ec == std::errc::invalid_argument) {
        ec.clear();
    }
    return ec;
}

constexpr const char* kAccessAclName = "system.posix_acl_access";

// The extended attributes that decide who may use a file: its access ACL and the labels of the
// security modules. Losing or changing one would widen or narrow access, so each must be
// carried or the write refused. A default ACL applies to directories only.
bool governsAccess(const std::string& name) {
    return name == kAccessAclName || name == "security.selinux" || name == "security.SMACK64" ||
           name == "security.apparmor";
}

// The attribute that holds a file's note (WriteFileNote); it belongs to that file alone.
constexpr const char* kNoteAttribute = "user.vexlor.note";

std::string describeAttribute(const std::string& name) {
    if (name == kAccessAclName) {
        return "its access control list (" + name + ")";
    }
    return "its security label (" + name + ")";
}

// Calls `query(buffer, size)`, a listxattr- or getxattr-like call, growing the buffer while
// the value grows under it. A file system without extended attributes has none.
template <typename Query>
std::error_code queryGrowing(Query query, std::string& out) {
    for (;;) {
        const ssize_t size = query(nullptr, 0);
        if (size < 0) {
            return lastError();
        }
        out.resize(static_cast<std::size_t>(size));
        const ssize_t got = query(out.data(), out.size());
        if (got >= 0) {
            out.resize(static_cast<std::size_t>(got));
            return {};
        }
        if (errno != ERANGE) {
            return lastError();
        }
    }
}

bool unsupported(const std::error_code& ec) {
    return ec.value() == ENOTSUP || ec.value() == ENODATA;
}

std::error_code attributeNames(const fs::path& file, std::vector<std::string>& names) {
    std::string list;
    const std::error_code ec = queryGrowing(
        [&](char* buffer, std::size_t size) { return ::listxattr(file.c_str(), buffer, size); },
        list);
    if (ec) {
        return unsupported(ec) ? std::error_code{} : ec;
    }
    for (std::size_t at = 0; at < list.size(); at += names.back().size() + 1) {
        names.emplace_back(list.c_str() + at);
    }
    return {};
}

std::error_code modelAttribute(const fs::path& file, const std::string& name, std::string& value) {
    return queryGrowing(
        [&](char* buffer, std::size_t size) {
            return ::getxattr(file.c_str(), name.c_str(), buffer, size);
        },
        value);
}

std::error_code ownAttribute(int fd, const std::string& name, std::string& value) {
    return queryGrowing(
        [&](char* buffer, std::size_t size) { return ::fgetxattr(fd, name.c_str(), buffer, size); },
        value);
}

// Gives `fd` the model's value of `name`, unless it has it already: a new file may have been
// given the same label or ACL by its directory.
std::error_code copyAttribute(int fd, const fs::path& model, const std::string& name) {
    std::string value;
    if (std::error_code ec = modelAttribute(model, name, value)) {
        return ec;
    }
    std::string own;
    if (!ownAttribute(fd, name, own) && own == value) {
        return {};
    }
    if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
        return lastError();
    }
    return {};
}

// An access ACL the new file took from its directory's default ACL, where the model has none,
// would change who may use it.
std::error_code dropInheritedAcl(int fd) {
    std::string own;
    const std::error_code ec = ownAttribute(fd, kAccessAclName, own);
    if (ec) {
        return unsupported(ec) ? std::error_code{} : ec;
    }
    return ::fremovexattr(fd, kAccessAclName) == 0 ? std::error_code{} : lastError();
}

std::error_code carryAttributes(int fd, const fs::path& model, CarriedOver& carried) {
    std::vector<std::string> names;
    if (std::error_code ec = attributeNames(model, names)) {
        carried.refusedAccess = "its extended attributes, which may hold its access control list";
        return ec;
    }
    for (const std::string& name : names) {
        if (name == "system.posix_acl_default" || name == kNoteAttribute) {
            continue;
        }
        if (std::error_code ec = copyAttribute(fd, model, name)) {
            if (governsAccess(name)) {
                carried.refusedAccess = describeAttribute(name);
                return ec;
            }
            carried.dropped.push_back(name + ": " + ec.message());
        }
    }
    if (std::find(names.begin(), names.end(), kAccessAclName) == names.end()) {
        if (std::error_code ec = dropInheritedAcl(fd)) {
            carried.refusedAccess = describeAttribute(kAccessAclName);
            return ec;
        }
    }
    return {};
}

std::string groupName(gid_t gid) {
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        return found->gr_name;
    }
    return std::to_string(gid);
}

// The model's owner, when we are privileged, and its group in any case: an owner who is not
// privileged may give a file any group it belongs to, and one it does not belong to would be
// a change of who may read the file.
std::error_code takeOwnershipFrom(int fd, const struct stat& model, CarriedOver& carried) {
    struct stat own {};
    if (::fstat(fd, &own) != 0) {
        return lastError();
    }
    const bool privileged = ::geteuid() == 0;
    const uid_t uid = privileged ? model.st_uid : static_cast<uid_t>(-1);
    if ((privileged && own.st_uid != model.st_uid) || own.st_gid != model.st_gid) {
        if (::fchown(fd, uid, model.st_gid) != 0) {
            const std::error_code ec = lastError();
            carried.refusedAccess = "its group " + groupName(model.st_gid);
            return ec;
        }
    }
    return {};
}

// Gives the new file who may use the model file: owner and group, ACL and label, and last the
// permission bits, which an ACL's mask would otherwise change and which, set first, could
// keep the owner from writing the other attributes.
std::error_code takeAccessFrom(int fd, const fs::path& modelFile, CarriedOver& carried) {
    struct stat model {};
    if (::stat(modelFile.c_str(), &model) != 0) {
        return errno == ENOENT ? std::error_code{} : lastError();
    }
    if (std::error_code ec = takeOwnershipFrom(fd, model, carried)) {
        return ec;
    }
    if (std::error_code ec = carryAttributes(fd, modelFile, carried)) {
        return ec;
    }
    if (::fchmod(fd, model.st_mode & 07777) != 0) {
        return lastError();
    }
    return {};
}

// O_NONBLOCK: a FIFO at the path opens at once instead of waiting for a writer.
// O_NOATIME: looking at a file leaves even its access time as it was, so a status report
// changes nothing at all. The kernel grants it to the file's owner and to privileged callers
// only and answers EPERM to others, who then read the ordinary way.
int openForReading(const fs::path& path) {
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY;
#if defined(O_NOATIME)
    const int fd = openRetrying(path.c_str(), flags | O_NOATIME);
    if (fd >= 0 || errno != EPERM) {
        return fd;
    }
#endif
    return openRetrying(path.c_str(), flags);
}

}  // namespace

std::error_code ReadFileInPieces(const fs::path& path, std::size_t maxBytes,
                                 const PieceTaker& take) {
    FileDescriptor fd(openForReading(path));
    if (!fd.valid()) {
        return lastError();
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return lastError();
    }
    if (S_ISDIR(st.st_mode)) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    std::size_t openedSize = 0;
    if (S_ISREG(st.st_mode)) {
        if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
            return std::make_error_code(std::errc::file_too_large);
        }
        openedSize = static_cast<std::size_t>(st.st_size);
    }
    const auto readPiece = [&fd](char* buffer, std::size_t size, std::size_t& got) {
        ssize_t count;
        do {
            count = ::read(fd.get(), buffer, size);
        } while (count < 0 && errno == EINTR);
        if (count < 0) {
            return lastError();
        }
        got = static_cast<std::size_t>(count);
        return std::error_code{};
    };
    return ReadToEnd(readPiece, maxBytes, openedSize, take);
}

std::error_code WriteFileNote(const fs::path& file, std::string_view note) {
    if (::setxattr(file.c_str(), kNoteAttribute, note.data(), note.size(), 0) != 0) {
        return lastError();
    }
    return {};
}

std::error_code ReadFileNote(const fs::path& file, std::string& note) {
    char value[256];
    const ssize_t size = ::getxattr(file.c_str(), kNoteAttribute, value, sizeof value);
    if (size < 0) {
        return lastError();
    }
    note.assign(value, static_cast<std::size_t>(size));
    return {};
}

std::error_code RemoveStaleEntry(const fs::path& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return {};
    }
    // Linux answers EISDIR for a directory, other systems EPERM; rmdir removes only an empty
    // one, so whatever is inside stays.
    if (errno == EISDIR || errno == EPERM) {
        if (::rmdir(path.c_str()) == 0 || errno == ENOENT) {
            return {};
        }
    }
    return lastError();
}

std::error_code WriteNewFileDurably(const fs::path& path, const ContentWriter& content,
                                    const fs::path& modelFile, CarriedOver* carried) {
    CarriedOver ignored;
    // O_EXCL never follows a link: anything planted at the path since it was cleared makes
    // the open fail rather than write through it.
    FileDescriptor fd(openRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666));
    if (!fd.valid()) {
        return lastError();
    }
    if (std::error_code ec = takeAccessFrom(fd.get(), modelFile, carried ? *carried : ignored)) {
        return ec;
    }
    if (std::error_code ec =
            content([&](std::string_view piece) { return writeAll(fd.get(), piece); })) {
        return ec;
    }
    if (std::error_code ec = syncRetrying(fd.get())) {
        return ec;
    }
    return fd.close();
}

std::error_code ReplaceFile(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return lastError();
    }
    return {};
}

std::error_code MoveNoReplace(const fs::path& from, const fs::path& to) {
#if defined(RENAME_NOREPLACE)
    // One atomic step where the kernel and the file system offer it.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return lastError();
    }
#endif
    // A hard link fails with EEXIST when `to` exists, which makes it a no-replace move that
    // every POSIX file system with links offers. Once the link stands the move has happened;
    // the source name is only a second name for the same file, which the caller removes if
    // dropping it here fails.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return lastError();
    }
    ::unlink(from.c_str());
    return {};
}

std::error_code SyncDirectoryOf(const fs::path& file) {
    return syncDirectory(file.parent_path());
}

std::error_code CheckMayReplace(const fs::path& file) {
    // The effective ids decide, as they would for opening the file for writing.
    if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
        return lastError();
    }
    return {};
}

bool DirectoryLetsFilesBeReplaced(const fs::path& file) {
#if defined(FS_IOC_GETFLAGS)
    const fs::path dir = DirectoryOrCurrent(file.parent_path());
    FileDescriptor fd(openRetrying(dir.c_str(), O_RDONLY | O_DIRECTORY));
    int flags = 0;
    if (fd.valid() && ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0) {
        return (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) == 0;
    }
#else
    (void)file;
#endif
    return true;
}

std::error_code CheckSameOwner(const fs::path& dir, const fs::path& file, bool& same) {
    struct stat dirStatus {};
    struct stat fileStatus {};
    if (::stat(DirectoryOrCurrent(dir).c_str(), &dirStatus) != 0 ||
        ::stat(file.c_str(), &fileStatus) != 0) {
        return lastError();
    }
    same = dirStatus.st_uid == fileStatus.st_uid;
    return {};
}

std::error_code RemoveFile(const fs::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return lastError();
    }
    return {};
}

// The lock is flock's on a descriptor of the directory itself, so nothing is created for it.
// Every open has its own open file description, which is what flock locks: two threads of one
// process exclude each other just as two processes do. The kernel drops the lock with the last
// descriptor, when the process ends however it ends; close-on-exec keeps it from programs the
// caller starts.
namespace {

int openDirectoryForLock(const fs::path& dir) {
    return openRetrying(DirectoryOrCurrent(dir).c_str(), O_RDONLY | O_DIRECTORY);
}

// A name that is not a directory is as absent as a missing one: there is nothing to lock.
std::error_code lockOpenError() {
    return errno == ENOTDIR ? std::make_error_code(std::errc::no_such_file_or_directory)
                            : lastError();
}

std::error_code flockWithoutWaiting(int fd, int operation) {
    while (::flock(fd, operation | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return std::make_error_code(std::errc::device_or_resource_busy);
        }
        if (errno != EINTR) {
            return lastError();
        }
    }
    return {};
}

}  // namespace

void DirectoryLock::release(std::intptr_t handle) {
    ::close(static_cast<int>(handle));
}

std::error_code TryLockDirectory(const fs::path& dir, DirectoryLock& lock) {
    DirectoryLock taken(openDirectoryForLock(dir));
    if (!taken.held()) {
        return lockOpenError();
    }
    if (std::error_code ec = flockWithoutWaiting(static_cast<int>(taken.handle_), LOCK_EX)) {
        return ec;
    }
    lock = std::move(taken);
    return {};
}

std::error_code ProbeDirectoryLock(const fs::path& dir, bool& held) {
    held = false;
    FileDescriptor fd(openDirectoryForLock(dir));
    if (!fd.valid()) {
        return lockOpenError();
    }
    // A shared hold is refused only while an exclusive one stands; closing drops it again.
    std::error_code ec = flockWithoutWaiting(fd.get(), LOCK_SH);
    if (ec == std::errc::device_or_resource_busy) {
        held = true;
        return {};
    }
    return ec;
}

// A full quota has no portable name; errno has EDQUOT for it.
ErrorClass ClassifyError(const std::error_code& ec) {
    const ErrorClass byMeaning = ClassifyByMeaning(ec);
    return byMeaning == ErrorClass::kOther && ec.value() == EDQUOT ? ErrorClass::kNoSpace
                                                                   : byMeaning;
}

ErrorClass ClassifyReplaceError(const std::error_code& ec) {
    return ClassifyError(ec);
}

std::string ErrorText(const std::error_code& ec) {
    return ec.message();
}

// A name is any bytes but '/' and NUL; what is shown, in a message or in JSON, must be text.
std::string DisplayPath(const fs::path& path) {
    return ValidUtf8(path.native());
}

}  // namespace vexlor::platform
