// The platform layer on Windows. Wide-character Win32 calls throughout: a path reaches
// the system exactly as std::filesystem holds it, whatever the user's code page.
//
// Access control: Windows has no permission bits. A new file takes the inheritable entries of
// its directory's ACL, and the rename keeps them, so a replaced bindings file gets the access
// the directory grants to every file in it -- the same as when the compositor writes the file
// itself. Where the model file has an ACL of its own (entries set on it, or inheritance cut
// off), the new file is given that ACL too; see WriteNewFileDurably for the model file.
#include "vexlor/support/windows_api.h"
// aclapi.h builds on windows.h's declarations.
#include <aclapi.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "platform/shared.h"
#include "vexlor/bindings.h"
#include "vexlor/support/wide_text.h"

namespace vexlor::platform {

namespace {

std::error_code lastError() {
    return {static_cast<int>(::GetLastError()), std::system_category()};
}

// Some calls report failure as INVALID_HANDLE_VALUE, others as a null handle.
struct Handles {
    using Value = HANDLE;
    static bool valid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    static HANDLE none() { return INVALID_HANDLE_VALUE; }
    static std::error_code close(HANDLE handle) {
        return ::CloseHandle(handle) ? std::error_code{} : lastError();
    }
};
using Handle = OwnedHandle<Handles>;

std::error_code errorCode(DWORD error) {
    return {static_cast<int>(error), std::system_category()};
}

bool isNotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// `path` as the system is to be given it. A program that has not opted in to long paths, or
// runs where the system does not allow them, is refused every path of MAX_PATH characters or
// more -- and "<backup>.vexlor_tmp" is 25 characters longer than the bindings file, so a patch
// could read the file and then fail to back it up. The extended-length form has no such limit;
// since the system takes it literally, the path is made full first, as the system would have.
std::wstring systemPath(const fs::path& path) {
    const std::wstring& given = path.native();
    if (HasDevicePrefix(given)) {
        return given;
    }
    const std::optional<std::wstring> full = FullPath(given);
    if (!full || full->size() < MAX_PATH) {  // a path that cannot be resolved is the system's
        return given;
    }
    return ExtendedLengthPath(*full);
}

// A file or directory at `path` whose attributes make every rename over it fail for good:
// waiting cannot help there, so such a refusal is reported at once.
bool isPermanentlyUnreplaceable(const fs::path& path) {
    const DWORD attributes = ::GetFileAttributesW(systemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
}

// Another program has the file open and shares it with nobody: a virus scanner, an indexer, an
// editor or the compositor itself reading it at that moment.
bool isHeldByAnother(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The refusals of a rename that another process causes by holding a file open; a file being
// deleted by its holder also answers "access denied" for that moment.
bool isTransientRefusal(DWORD error) {
    return isHeldByAnother(error) || error == ERROR_ACCESS_DENIED;
}

// Such a hold lasts a few milliseconds as a rule; a second in all is long enough for a scan
// to finish and short enough that a file held open for good is reported promptly.
constexpr int kHeldAttempts = 10;
constexpr std::chrono::milliseconds kHeldRetryDelay{100};

// Runs `attempt`, a Win32 call that reports failure through GetLastError, again while it fails
// with an error `isTransient` accepts, for the time above. Returns ERROR_SUCCESS or the last
// error.
template <typename Attempt, typename IsTransient>
DWORD retryWhileHeld(Attempt attempt, IsTransient isTransient) {
    for (int attemptNumber = 1;; ++attemptNumber) {
        if (attempt()) {
            return ERROR_SUCCESS;
        }
        const DWORD error = ::GetLastError();
        if (attemptNumber == kHeldAttempts || !isTransient(error)) {
            return error;
        }
        std::this_thread::sleep_for(kHeldRetryDelay);
    }
}

// The attributes a replacement takes over from the file it replaces, so that a hidden or
// system file stays one. Read-only is not among them: a read-only target is refused anyway, and
// a read-only backup could not be removed by a later unpatch. The new contents are a change
// that backup programs must see, so archive is set whatever the old file had.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::error_code takeAttributesOf(HANDLE file, const fs::path& modelFile) {
    const DWORD attributes = ::GetFileAttributesW(systemPath(modelFile).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return isNotFound(::GetLastError()) ? std::error_code{} : lastError();
    }
    FILE_BASIC_INFO info{};  // times left at zero stay as they are
    info.FileAttributes = (attributes & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE;
    if (!::SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info)) {
        return lastError();
    }
    return {};
}

// A security descriptor the system allocated, freed on every way out.
class LocalDescriptor {
  public:
    LocalDescriptor() = default;
    LocalDescriptor(const LocalDescriptor&) = delete;
    LocalDescriptor& operator=(const LocalDescriptor&) = delete;
    ~LocalDescriptor() {
        if (descriptor_ != nullptr) {
            ::LocalFree(descriptor_);
        }
    }
    PSECURITY_DESCRIPTOR* out() { return &descriptor_; }
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Whether `dacl` (of a descriptor with `control`) is the file's own rather than only what it
// inherits from its directory: protected from inheritance, or holding an entry set on it.
bool hasOwnEntries(PACL dacl, SECURITY_DESCRIPTOR_CONTROL control) {
    if ((control & SE_DACL_PROTECTED) != 0 || dacl == nullptr) {
        return (control & SE_DACL_PROTECTED) != 0;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (::GetAce(dacl, index, &ace) &&
            (static_cast<ACE_HEADER*>(ace)->AceFlags & INHERITED_ACE) == 0) {
            return true;
        }
    }
    return false;
}

// Gives `file` the model's own ACL, where it has one; the entries it inherits it gets from
// the directory already. A model without one leaves the new file as the directory makes it.
std::error_code takeAclOf(HANDLE file, const fs::path& modelFile, CarriedOver& carried) {
    PACL dacl = nullptr;
    LocalDescriptor descriptor;
    const DWORD error = ::GetNamedSecurityInfoW(systemPath(modelFile).c_str(), SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                                nullptr, descriptor.out());
    if (error != ERROR_SUCCESS && !isNotFound(error)) {
        carried.refusedAccess = "its access control list";
        return {static_cast<int>(error), std::system_category()};
    }
    if (error != ERROR_SUCCESS) {
        return {};  // no model: the new file is the first
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) {
        carried.refusedAccess = "its access control list";
        return lastError();
    }
    if (!hasOwnEntries(dacl, control)) {
        return {};
    }
    // Unprotected, the system merges the entries the directory passes down with the
    // explicit ones given here, as it did for the model.
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD set =
        ::SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    if (set != ERROR_SUCCESS) {
        carried.refusedAccess = "its access control list";
        return {static_cast<int>(set), std::system_category()};
    }
    return {};
}

std::error_code writeAll(HANDLE file, std::string_view bytes) {
    // WriteFile counts in DWORDs; write in pieces well below that.
    constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min(bytes.size(), kMaxPiece));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), piece, &written, nullptr)) {
            return lastError();
        }
        bytes.remove_prefix(written);
    }
    return {};
}

std::error_code checkReadableFile(HANDLE file, std::size_t maxBytes, std::size_t& size) {
    // A pipe or a device (a console among them) could block a read for ever; a bindings
    // file is never one, so such a thing is refused as an argument no file read accepts.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) {
        return lastError();
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    const unsigned long long fileSize =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (fileSize > maxBytes) {
        return std::make_error_code(std::errc::file_too_large);
    }
    size = static_cast<std::size_t>(fileSize);
    return {};
}

// Text for messages never fails to be made: what the system cannot convert shows as "?".
std::string toUtf8(const std::wstring& wide) {
    std::string text;
    return Utf8FromWide(wide, text) ? text : "?";
}

// System messages end in ".\r\n"; inside a log line the cause reads better without both.
std::string trimMessageEnd(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

std::string systemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return "Windows error " + std::to_string(code);
    }
    std::wstring text(buffer, length);
    ::LocalFree(buffer);
    return trimMessageEnd(toUtf8(text));
}

// Backup semantics let a directory open too, so that it can be told apart and refused with a
// clear reason instead of a bare "access denied". Sharing everything keeps the compositor
// free to write or replace the file while we read it.
HANDLE openForReading(const fs::path& path, DWORD extraAccess) {
    return ::CreateFileW(systemPath(path).c_str(), GENERIC_READ | extraAccess,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Looking at a file leaves even its access time as it was, so a status report changes
// nothing at all. Telling the handle so needs the right to write attributes, which an ACL
// may withhold; such callers read the ordinary way.
HANDLE openLeavingAccessTime(const fs::path& path) {
    HANDLE file = openForReading(path, FILE_WRITE_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        return openForReading(path, 0);
    }
    if (file != INVALID_HANDLE_VALUE) {
        // "Do not update on this handle". A refusal only means the access time moves, as on
        // a file system that keeps none exactly; the read itself is unaffected.
        FILETIME keep{0xFFFFFFFF, 0xFFFFFFFF};
        ::SetFileTime(file, nullptr, &keep, nullptr);
    }
    return file;
}

}  // namespace

std::error_code ReadFileInPieces(const fs::path& path, std::size_t maxBytes,
                                 const PieceTaker& take) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    const DWORD openError = retryWhileHeld(
        [&] {
            opened = openLeavingAccessTime(path);
            return opened != INVALID_HANDLE_VALUE;
        },
        isHeldByAnother);
    Handle file(opened);
    if (openError != ERROR_SUCCESS) {
        return errorCode(openError);
    }
    std::size_t expected = 0;
    if (std::error_code ec = checkReadableFile(file.get(), maxBytes, expected)) {
        return ec;
    }
    const auto readPiece = [&file](char* buffer, std::size_t size, std::size_t& got) {
        DWORD count = 0;
        if (!::ReadFile(file.get(), buffer, static_cast<DWORD>(size), &count, nullptr)) {
            return lastError();
        }
        got = count;
        return std::error_code{};
    };
    return ReadToEnd(readPiece, maxBytes, expected, take);
}

// The alternate stream that holds a file's note (WriteFileNote). Streams are not copied when
// a file is made with another as its model, so a note belongs to its file alone.
fs::path noteStream(const fs::path& file) {
    return fs::path(file.native() + L":vexlor.note");
}

// Whether the volume holding `file` keeps alternate streams. Where it does not (FAT, and
// emulations that map the name onto a plain file), a stream's name would make a new file.
std::error_code checkKeepsStreams(const fs::path& file) {
    Handle handle(::CreateFileW(systemPath(file).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD flags = 0;
    if (!handle.valid() || !::GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr,
                                                            nullptr, &flags, nullptr, 0)) {
        return lastError();
    }
    if ((flags & FILE_NAMED_STREAMS) == 0) {
        return std::make_error_code(std::errc::not_supported);
    }
    return {};
}

std::error_code WriteFileNote(const fs::path& file, std::string_view note) {
    if (std::error_code ec = checkKeepsStreams(file)) {
        return ec;
    }
    Handle stream(::CreateFileW(systemPath(noteStream(file)).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!stream.valid()) {
        return lastError();
    }
    if (std::error_code ec = writeAll(stream.get(), note)) {
        return ec;
    }
    return stream.close();
}

std::error_code ReadFileNote(const fs::path& file, std::string& note) {
    if (std::error_code ec = checkKeepsStreams(file)) {
        return ec;
    }
    Handle stream(::CreateFileW(systemPath(noteStream(file)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!stream.valid()) {
        return lastError();
    }
    char value[256];
    DWORD size = 0;
    if (!::ReadFile(stream.get(), value, sizeof value, &size, nullptr)) {
        return lastError();
    }
    note.assign(value, size);
    return {};
}

std::error_code RemoveStaleEntry(const fs::path& path) {
    const std::wstring name = systemPath(path);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return isNotFound(::GetLastError()) ? std::error_code{} : lastError();
    }
    // A read-only file refuses deletion; the name is ours, so the attribute goes first.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        !::SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return lastError();
    }
    const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                             ? ::RemoveDirectoryW(name.c_str())
                             : ::DeleteFileW(name.c_str());
    if (!removed && !isNotFound(::GetLastError())) {
        return lastError();
    }
    return {};
}

// The ACL comes from the directory, and from the model file where it has one of its own (see
// the top of this file); of the model file the new one also takes the attributes above.
std::error_code WriteNewFileDurably(const fs::path& path, const ContentWriter& content,
                                    const fs::path& modelFile, CarriedOver* carried) {
    // CREATE_NEW with the reparse-point flag acts on a planted link itself and fails because
    // the name exists, instead of writing through the link.
    // WRITE_DAC and READ_CONTROL: the new file's creator may always set its ACL.
    Handle file(::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE | WRITE_DAC | READ_CONTROL, 0,
                              nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        return lastError();
    }
    CarriedOver ignored;
    if (std::error_code ec = takeAclOf(file.get(), modelFile, carried ? *carried : ignored)) {
        return ec;
    }
    if (std::error_code ec = takeAttributesOf(file.get(), modelFile)) {
        return ec;
    }
    if (std::error_code ec =
            content([&](std::string_view piece) { return writeAll(file.get(), piece); })) {
        return ec;
    }
    if (!::FlushFileBuffers(file.get())) {
        return lastError();
    }
    return file.close();
}

std::error_code ReplaceFile(const fs::path& from, const fs::path& to) {
    // Write-through asks the system to finish the move on the disk before returning: the
    // nearest Windows has to syncing the directory after a rename on POSIX.
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    const std::wstring source = systemPath(from), target = systemPath(to);
    return errorCode(retryWhileHeld(
        [&] { return ::MoveFileExW(source.c_str(), target.c_str(), kFlags); },
        [&](DWORD error) { return isTransientRefusal(error) && !isPermanentlyUnreplaceable(to); }));
}

std::error_code MoveNoReplace(const fs::path& from, const fs::path& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move itself refuses an existing target, in one
    // step. A scanner looking at the freshly written source holds up the move for a moment.
    const std::wstring source = systemPath(from), target = systemPath(to);
    const DWORD error = retryWhileHeld(
        [&] { return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH); },
        isTransientRefusal);
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        return std::make_error_code(std::errc::file_exists);
    }
    return errorCode(error);
}

namespace {

// The answers of a file system or a system that cannot flush a directory (FAT, network shares,
// Windows before 8), or of a directory we may add files to but not open for writing.
bool cannotFlushDirectory(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED;
}

}  // namespace

// MOVEFILE_WRITE_THROUGH finishes a move on the disk, but a removal has no such flag. A
// directory opened with backup semantics and write access can be flushed where the system
// allows it (NTFS since Windows 8); where it does not, there is nothing more to do.
std::error_code SyncDirectoryOf(const fs::path& file) {
    const fs::path dir = DirectoryOrCurrent(file.parent_path());
    Handle handle(::CreateFileW(systemPath(dir).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid() || !::FlushFileBuffers(handle.get())) {
        const DWORD error = ::GetLastError();
        return cannotFlushDirectory(error) ? std::error_code{} : errorCode(error);
    }
    return {};
}

// A rename over the file needs the right to delete it, which its access control list (or its
// directory's) may withhold as surely as the read-only attribute does. Asked for up front, that
// refusal is told apart from the passing "access denied" of a file another program is
// deleting, which the rename waits out.
std::error_code CheckMayReplace(const fs::path& file) {
    const std::wstring name = systemPath(file);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return isNotFound(error) ? std::error_code{} : errorCode(error);
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return {ERROR_ACCESS_DENIED, std::system_category()};
    }
    Handle probe(::CreateFileW(name.c_str(), DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // Any other answer (a holder that shares no deletion, say) is the rename's to wait out.
    if (!probe.valid() && ::GetLastError() == ERROR_ACCESS_DENIED) {
        return {ERROR_ACCESS_DENIED, std::system_category()};
    }
    return {};
}

bool DirectoryLetsFilesBeReplaced(const fs::path& /*file*/) {
    // Windows has no attribute that lets files be made but not removed.
    return true;
}

namespace {

// The owner's security identifier of `path`, in a block the caller frees with LocalFree.
std::error_code ownerOf(const fs::path& path, PSID& owner, PSECURITY_DESCRIPTOR& descriptor) {
    const DWORD error = ::GetNamedSecurityInfoW(systemPath(path).c_str(), SE_FILE_OBJECT,
                                                OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                                nullptr, nullptr, &descriptor);
    return error == ERROR_SUCCESS
               ? std::error_code{}
               : std::error_code{static_cast<int>(error), std::system_category()};
}

}  // namespace

std::error_code CheckSameOwner(const fs::path& dir, const fs::path& file, bool& same) {
    PSID dirOwner = nullptr;
    PSID fileOwner = nullptr;
    PSECURITY_DESCRIPTOR dirDescriptor = nullptr;
    PSECURITY_DESCRIPTOR fileDescriptor = nullptr;
    std::error_code ec = ownerOf(DirectoryOrCurrent(dir), dirOwner, dirDescriptor);
    if (!ec) {
        ec = ownerOf(file, fileOwner, fileDescriptor);
    }
    if (!ec) {
        same = ::EqualSid(dirOwner, fileOwner) != FALSE;
    }
    ::LocalFree(dirDescriptor);
    ::LocalFree(fileDescriptor);
    return ec;
}

std::error_code RemoveFile(const fs::path& path) {
    if (!::DeleteFileW(systemPath(path).c_str()) && !isNotFound(::GetLastError())) {
        return lastError();
    }
    return {};
}

// The lock is a file in the directory, kLockFileName, held open without sharing: every other
// open of it, by a thread of this process or by another process, fails with a sharing
// violation. It is opened delete-on-close, so the system removes it as the one handle closes,
// also when the process is killed; nothing stays on disk.
namespace {

// A holder's file is "delete pending" for an instant after its handle closes, and every open
// of it is then refused as access denied. That refusal is retried for a moment before it
// counts as the directory's own.
constexpr int kDeletePendingAttempts = 20;
constexpr std::chrono::milliseconds kDeletePendingDelay{5};

fs::path lockFileIn(const fs::path& dir) {
    return DirectoryOrCurrent(dir) / kLockFileName;
}

template <typename Open>
HANDLE openPastDeletePending(Open open) {
    for (int attempt = 1;; ++attempt) {
        const HANDLE handle = open();
        if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_ACCESS_DENIED ||
            attempt == kDeletePendingAttempts) {
            return handle;
        }
        std::this_thread::sleep_for(kDeletePendingDelay);
    }
}

std::error_code lockOpenError(DWORD error) {
    if (error == ERROR_SHARING_VIOLATION) {
        return std::make_error_code(std::errc::device_or_resource_busy);
    }
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) {
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    return errorCode(error);
}

}  // namespace

void DirectoryLock::release(std::intptr_t handle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

std::error_code TryLockDirectory(const fs::path& dir, DirectoryLock& lock) {
    const std::wstring file = systemPath(lockFileIn(dir));
    const HANDLE handle = openPastDeletePending([&] {
        return ::CreateFileW(file.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    });
    if (handle == INVALID_HANDLE_VALUE) {
        return lockOpenError(::GetLastError());
    }
    lock = DirectoryLock(reinterpret_cast<std::intptr_t>(handle));
    return {};
}

std::error_code ProbeDirectoryLock(const fs::path& dir, bool& held) {
    held = false;
    const std::wstring file = systemPath(lockFileIn(dir));
    // Only an existing file is opened; sharing everything, this open disturbs nobody but a
    // holder that would take the lock in this very instant.
    Handle handle(openPastDeletePending([&] {
        return ::CreateFileW(file.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }));
    if (handle.valid()) {
        return {};
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    held = error == ERROR_SHARING_VIOLATION;
    return held ? std::error_code{} : lockOpenError(error);
}

ErrorClass ClassifyError(const std::error_code& ec) {
    if (ec.category() != std::system_category()) {
        return ClassifyByMeaning(ec);
    }
    const DWORD error = static_cast<DWORD>(ec.value());
    if (isHeldByAnother(error)) {
        return ErrorClass::kHeldByAnother;
    }
    if (error == ERROR_WRITE_PROTECT) {
        return ErrorClass::kReadOnlyMount;
    }
    if (error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD) {
        return ErrorClass::kDenied;
    }
    // ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack: the user's quota is full.
    constexpr DWORD kDiskQuotaExceeded = 1295;
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
        error == kDiskQuotaExceeded) {
        return ErrorClass::kNoSpace;
    }
    return ErrorClass::kOther;
}

ErrorClass ClassifyReplaceError(const std::error_code& ec) {
    if (ec.category() == std::system_category() && ec.value() == ERROR_ACCESS_DENIED) {
        return ErrorClass::kHeldByAnother;
    }
    return ClassifyError(ec);
}

std::string ErrorText(const std::error_code& ec) {
    // The system's own text for these reads "Sharing violation" in places, which says little
    // to someone who only sees that a patch failed.
    if (ec.category() == std::system_category() &&
        isHeldByAnother(static_cast<DWORD>(ec.value()))) {
        return "the file is in use by another program";
    }
    if (ec.category() == std::system_category()) {
        return systemMessage(static_cast<DWORD>(ec.value()));
    }
    return ec.message();
}

// The extended-length prefix ("\\?\C:\...", "\\?\UNC\server\...") is how a long path
// reaches the system where long paths are not enabled; people know the folder without it, and
// the text must not depend on a machine setting.
std::string DisplayPath(const fs::path& path) {
    const std::wstring& text = path.native();
    const std::wstring extended = L"\\\\?\\", unc = L"UNC\\";
    if (text.rfind(extended + unc, 0) == 0) {
        return toUtf8(L"\\\\" + text.substr(extended.size() + unc.size()));
    }
    const bool drive = text.size() >= 6 && text.rfind(extended, 0) == 0 && text[5] == L':';
    return toUtf8(drive ? text.substr(extended.size()) : text);
}

}  // namespace vexlor::platform
