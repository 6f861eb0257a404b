// The patcher's one narrow interface to the operating system.
//
// Everything here is what the standard library cannot do portably: exclusive creation that
// never follows a link, flushing data to the storage device, a rename that refuses to replace,
// and message texts. Each system implements it in a file of its own (posix.cpp, windows.cpp),
// what does not depend on the system is written once (common.cpp), and the rest of the patcher
// is the same code everywhere.
//
// Every call reports failure as an error code and never throws.
#ifndef VEXLOR_PLATFORM_PLATFORM_H_
#define VEXLOR_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vexlor::platform {

namespace fs = std::filesystem;

// `dir` as the system is to be given it: an empty directory path, a bare file name's parent
// among them, means the current directory, and is so opened, locked and named in messages.
fs::path DirectoryOrCurrent(const fs::path& dir);

// Reads the whole file at `path` into `out`. A file that holds more than `maxBytes` fails
// with std::errc::file_too_large before more than maxBytes + 1 bytes are read. Opening never
// blocks, so a FIFO or device planted at `path` cannot hang the caller.
std::error_code ReadWholeFile(const fs::path& path, std::size_t maxBytes, std::string& out);

// Where the pieces of a file being read go, in order, each with the size the file had when it
// was opened (0 when it is no regular file), which a caller that keeps them may make room for.
// Returning false stops the reading early, which is no failure.
using PieceTaker = std::function<bool(std::string_view piece, std::size_t openedSize)>;

// Reads the file at `path` as ReadWholeFile does, giving it to `take` piece by piece, so that a
// caller that only looks at the bytes never holds them whole.
std::error_code ReadFileInPieces(const fs::path& path, std::size_t maxBytes,
                                 const PieceTaker& take);

// Removes whatever entry stands at `path`, so that a name of ours can be used afresh: a file
// (read-only too), a link itself (never its target) or an empty directory. A directory that
// still holds something is refused, and nothing is removed from it. An entry that is already
// gone counts as removed.
std::error_code RemoveStaleEntry(const fs::path& path);

// What a new file could not take over from its model file (WriteNewFileDurably).
struct CarriedOver {
    // Set when the write failed because a rule of who may use the model file could not be
    // given to the new file: its group, its ACL or its security label, e.g. "its group users".
    std::string refusedAccess;
    // Attributes that decide nothing about access and could not be copied, each as
    // "name: cause"; the new file was written without them.
    std::vector<std::string> dropped;
};

// Creates a new file at `path` holding exactly `bytes`, flushed to stable storage. The caller
// clears `path` first (RemoveStaleEntry); the file is created exclusively, so anything planted
// there in between, a link above all, makes the call fail instead of being written through. When
// `modelFile` exists, the new file takes who may use it before any byte is written: its
// permission bits, group, access control list and security label (and, for a privileged
// caller, its owner), so a replacement never widens or narrows access; what cannot be given
// fails the call, and `carried` says which. Its other extended attributes are copied too, and
// those that cannot be go to `carried` as dropped. On failure a partly written file may remain
// at `path`; the caller removes it.
std::error_code WriteNewFileDurably(const fs::path& path, std::string_view bytes,
                                    const fs::path& modelFile, CarriedOver* carried = nullptr);

// Where the pieces of a new file's contents go, in order; an error stops the writing.
using ByteSink = std::function<std::error_code(std::string_view piece)>;
// Produces a file's contents into the sink it is given, returning the sink's first error or
// its own; a large document can so be written without ever being held whole in memory.
using ContentWriter = std::function<std::error_code(const ByteSink& sink)>;

// WriteNewFileDurably with the contents produced piece by piece while the file is written.
// An error `content` returns fails the call like a failed write.
std::error_code WriteNewFileDurably(const fs::path& path, const ContentWriter& content,
                                    const fs::path& modelFile, CarriedOver* carried = nullptr);

// A short note kept with a file outside its bytes (an extended attribute; on Windows, an
// alternate stream), which a move or rename of the file keeps. A file made with another as its
// model (WriteNewFileDurably) never takes the model's note. Where the file system keeps no such
// notes, writing fails, as reading a file that has none does.
std::error_code WriteFileNote(const fs::path& file, std::string_view note);
std::error_code ReadFileNote(const fs::path& file, std::string& note);

// Renames `from` over `to`, replacing any file there in one step. Transient refusals by other
// processes holding `to` open are retried briefly. Success means the rename has taken place;
// SyncDirectoryOf makes it durable.
std::error_code ReplaceFile(const fs::path& from, const fs::path& to);

// Moves `from` to `to` only when nothing exists at `to`; otherwise fails with
// std::errc::file_exists and leaves both untouched. Like ReplaceFile, not yet durable. After
// success `from` may still name the moved file; removing it then removes only that name.
std::error_code MoveNoReplace(const fs::path& from, const fs::path& to);

// Flushes the directory holding `file` to storage, so that a rename or move into it survives
// a crash. Kept apart from the rename so that a caller can tell "not moved" from "moved, but
// perhaps not durably".
std::error_code SyncDirectoryOf(const fs::path& file);

// Refuses, with permission_denied, to let a file be replaced that the caller may not write:
// its owner made it read-only, and a rename, which only needs the directory's permission,
// would override that. A missing file passes.
std::error_code CheckMayReplace(const fs::path& file);

// Whether the directory holding `file` lets files in it be replaced and removed. Linux's
// append-only and immutable directory attributes (chattr +a, +i) forbid both, root included,
// while still letting new files be made, which would then stay. True where the system has no
// such attributes or they cannot be read.
bool DirectoryLetsFilesBeReplaced(const fs::path& file);

// Whether `file` belongs to the same owner as `dir`: the same user on POSIX, the same owner
// account on Windows. Both are looked up following links.
std::error_code CheckSameOwner(const fs::path& dir, const fs::path& file, bool& same);

// Removes the directory entry at `path` (a link itself, never its target). An entry that is
// already gone counts as removed.
std::error_code RemoveFile(const fs::path& path);

// An exclusive hold on a directory for the length of one operation that writes in it. The
// system releases it when the process ends however it ends, so a killed holder never blocks
// the next run, and it leaves nothing behind on disk. Two holders exclude each other whether
// they are two processes or two threads of one. Destroying the object releases the hold.
class DirectoryLock {
  public:
    DirectoryLock() = default;
    ~DirectoryLock();
    DirectoryLock(DirectoryLock&& other) noexcept;
    DirectoryLock& operator=(DirectoryLock&& other) noexcept;
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    bool held() const { return handle_ != kNone; }

  private:
    friend std::error_code TryLockDirectory(const fs::path& dir, DirectoryLock& lock);
    static constexpr std::intptr_t kNone = -1;
    explicit DirectoryLock(std::intptr_t handle) : handle_(handle) {}
    // Closes the descriptor or handle, which gives up the hold; each system defines it.
    static void release(std::intptr_t handle);
    std::intptr_t handle_ = kNone;  // the descriptor or handle that carries the lock
};

// Takes the lock on `dir` (the current directory when empty) when nobody holds it; `lock`
// then holds it, having released whatever it held before. When another holder has it, in this
// process or another, fails at once with std::errc::device_or_resource_busy. A `dir` that does
// not exist or is not a directory fails with std::errc::no_such_file_or_directory.
std::error_code TryLockDirectory(const fs::path& dir, DirectoryLock& lock);

// Whether some operation holds the lock on `dir` now, found without waiting, without taking
// the lock and without creating anything. For the instant it looks, a TryLockDirectory in
// between may find the directory busy. Fails like TryLockDirectory for a missing `dir`.
std::error_code ProbeDirectoryLock(const fs::path& dir, bool& held);

// What an error means for the person who has to act on it.
enum class ErrorClass {
    kDenied,         // permission refused, or a read-only file
    kReadOnlyMount,  // the file system is mounted read-only: no permission would help
    kNoSpace,        // the disk or the quota is full
    kHeldByAnother,  // another program holds the file open and shares it with nobody
    kOther,
};

ErrorClass ClassifyError(const std::error_code& ec);

// The same for a failed ReplaceFile. Windows answers "access denied" to a rename over a file
// another program holds open, and a read-only file is refused before (CheckMayReplace), so
// there that answer means kHeldByAnother.
ErrorClass ClassifyReplaceError(const std::error_code& ec);

// The system's own message text for an error reported by this layer or by std::filesystem,
// as UTF-8.
std::string ErrorText(const std::error_code& ec);

// `path` as UTF-8 text for messages. Never throws: what cannot be converted is replaced.
std::string DisplayPath(const fs::path& path);

}  // namespace vexlor::platform

#endif  // VEXLOR_PLATFORM_PLATFORM_H_
