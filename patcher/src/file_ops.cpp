#include "file_ops.h"

#include <utility>

#include "failure.h"
#include "json_file.h"
#include "log.h"
#include "names.h"
#include "platform/platform.h"

namespace vexlor {

namespace {

std::function<void(const fs::path&)>& beforeReplaceHook() {
    static std::function<void(const fs::path&)> hook;
    return hook;
}

// Whether `target` still holds exactly `readBytes`; a read that fails says nothing about
// that, and its error is returned instead.
std::error_code stillHolds(const fs::path& target, const std::string& readBytes, bool& same) {
    std::string now;
    const std::error_code ec = platform::ReadWholeFile(target, kMaxFileBytes, now);
    same = !ec && now == readBytes;
    return ec;
}

// Writes the temporary file, completely and durably, clearing whatever stale entry an
// interrupted run left at its name first.
ReplaceResult writeTemporary(const fs::path& temp, const ContentProducer& content,
                             const fs::path& target) {
    if (std::error_code ec = platform::RemoveStaleEntry(temp)) {
        NoteSystemFailure(ec, FailureKind::kDirectoryNotWritable, FailureKind::kOther);
        return {ReplaceStep::kWrite, ec, temp, {}, {}};
    }
    std::string cause;
    const platform::ContentWriter writer = [&](const platform::ByteSink& sink) {
        return content(sink, cause);
    };
    platform::CarriedOver carried;
    if (std::error_code ec = platform::WriteNewFileDurably(temp, writer, target, &carried)) {
        if (!carried.refusedAccess.empty()) {
            cause = AccessNotCarriedCause(carried, ec);
        } else if (cause.empty()) {
            // A document refused while it was written has noted why already.
            NoteSystemFailure(ec, FailureKind::kDirectoryNotWritable, FailureKind::kOther);
        }
        return {ReplaceStep::kWrite, ec, {}, cause, {}};
    }
    ReplaceResult written;
    written.dropped = std::move(carried.dropped);
    return written;
}

// Renames the complete temporary file over `target`, unless the caller's last step or a
// change of the target since it was read stands in the way.
ReplaceResult moveIntoPlace(const fs::path& temp, const fs::path& target,
                            const std::string* readBytes,
                            const std::function<bool()>& beforeRename) {
    if (AbandonRequested()) {
        return {ReplaceStep::kAbandoned, {}, {}, {}, {}};
    }
    if (beforeRename && !beforeRename()) {
        return {ReplaceStep::kWithdrawn, {}, {}, {}, {}};
    }
    // The backup the last step may have made stays; the file is not touched.
    if (AbandonRequested()) {
        return {ReplaceStep::kAbandoned, {}, {}, {}, {}};
    }
    if (beforeReplaceHook()) {
        beforeReplaceHook()(target);
    }
    // As late as possible: what someone else writes after this check and before the
    // rename is the one window left, and it is as short as a read of the file.
    bool same = true;
    if (readBytes != nullptr) {
        if (std::error_code ec = stillHolds(target, *readBytes, same)) {
            NoteSystemFailure(ec, FailureKind::kNotReadable, FailureKind::kNotReadable);
            return {ReplaceStep::kReread, ec, {}, {}, {}};
        }
    }
    if (!same) {
        return {ReplaceStep::kChanged, {}, {}, {}, {}};
    }
    if (std::error_code ec = platform::ReplaceFile(temp, target)) {
        NoteErrorClass(platform::ClassifyReplaceError(ec), FailureKind::kDirectoryNotWritable,
                       FailureKind::kOther);
        return {ReplaceStep::kRename, ec, {}, {}, {}};
    }
    if (std::error_code syncError = platform::SyncDirectoryOf(target)) {
        return {ReplaceStep::kSync, syncError, {}, {}, {}};
    }
    return {};
}

}  // namespace

fs::path SiblingPath(const fs::path& file, const char* suffix) {
    fs::path sibling = file;
    sibling += suffix;
    return sibling;
}

Presence QueryPresence(const fs::path& path, std::error_code& ec) {
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        ec.clear();
        return Presence::kAbsent;
    }
    return ec ? Presence::kUnknown : Presence::kPresent;
}

Presence LookFor(const fs::path& path, const char* tag, const Logger& log) {
    std::error_code ec;
    const Presence presence = QueryPresence(path, ec);
    if (presence == Presence::kUnknown) {
        NoteSystemFailure(ec, FailureKind::kNotReadable, FailureKind::kNotReadable);
        LogFormatted(log, "%scannot check %s: %s\n", tag, platform::DisplayPath(path).c_str(),
                     platform::ErrorText(ec).c_str());
    }
    return presence;
}

bool ResolveWriteTarget(const fs::path& file, const fs::path& dir, const char* tag,
                        const Logger& log, fs::path& target) {
    std::error_code ec;
    target = file;
    if (!fs::is_symlink(fs::symlink_status(file, ec))) {
        return true;
    }
    bool sameOwner = false;
    target = fs::canonical(file, ec);
    if (!ec) {
        ec = platform::CheckSameOwner(dir, target, sameOwner);
    }
    if (ec) {
        NoteSystemFailure(ec, FailureKind::kNotReadable, FailureKind::kNotReadable);
        LogFormatted(log, "%scannot check %s: %s\n", tag, platform::DisplayPath(file).c_str(),
                     platform::ErrorText(ec).c_str());
        return false;
    }
    if (!sameOwner) {
        NoteFailure(FailureKind::kForeignLink);
        LogFormatted(log,
                     "%s%s links to %s, which belongs to another user than the directory "
                     "-- leaving alone\n",
                     tag, platform::DisplayPath(file).c_str(),
                     platform::DisplayPath(target).c_str());
        return false;
    }
    return true;
}

std::string OtherNamesWarning(const fs::path& target, const char* tag) {
    std::error_code ec;
    const std::uintmax_t names = fs::hard_link_count(target, ec);
    if (ec || names <= 1) {
        return {};
    }
    const std::string others =
        names == 2 ? "another name (a hard link), which keeps"
                   : std::to_string(names - 1) + " other names (hard links), which keep";
    return std::string(tag) + "warning: " + platform::DisplayPath(target) + " has " + others +
           " the old content\n";
}

bool MayReplace(const fs::path& target, std::string& cause) {
    if (std::error_code ec = platform::CheckMayReplace(target)) {
        NoteSystemFailure(ec, FailureKind::kReadOnly, FailureKind::kOther);
        cause = platform::ErrorText(ec);
        return false;
    }
    if (!platform::DirectoryLetsFilesBeReplaced(target)) {
        NoteFailure(FailureKind::kDirectoryAppendOnly);
        cause = "its directory is append-only or immutable, which lets no file in it be replaced";
        return false;
    }
    return true;
}

void LogAbandoned(const fs::path& target, const char* tag, const Logger& log) {
    LogFormatted(log, "%sstopped before replacing %s, as asked; it was not changed\n", tag,
                 platform::DisplayPath(target).c_str());
}

void LogRereadFailure(const ReplaceResult& result, const fs::path& target, const char* tag,
                      const Logger& log) {
    LogFormatted(log, "%scannot read %s again before replacing it: %s\n", tag,
                 platform::DisplayPath(target).c_str(), platform::ErrorText(result.error).c_str());
}

void WarnOfDroppedAttributes(const std::vector<std::string>& dropped, const fs::path& file,
                             const char* tag, const Logger& log) {
    for (const std::string& attribute : dropped) {
        LogFormatted(log, "%swarning: %s did not keep the attribute %s\n", tag,
                     platform::DisplayPath(file).c_str(), attribute.c_str());
    }
}

std::string AccessNotCarriedCause(const platform::CarriedOver& carried, const std::error_code& ec) {
    NoteFailure(FailureKind::kAccessNotCarried);
    return "cannot give the new file " + carried.refusedAccess + ": " + platform::ErrorText(ec);
}

void SetBeforeReplaceHookForTesting(std::function<void(const fs::path& target)> hook) {
    beforeReplaceHook() = std::move(hook);
}

ContentProducer ContentOf(std::string_view bytes) {
    return [bytes](const platform::ByteSink& sink, std::string&) { return sink(bytes); };
}

ReplaceResult ReplaceFileContents(const fs::path& target, std::string_view bytes,
                                  const std::string* readBytes) {
    return ReplaceFileContents(target, ContentOf(bytes), readBytes);
}

ReplaceResult ReplaceFileContents(const fs::path& target, const ContentProducer& content,
                                  const std::string* readBytes,
                                  const std::function<bool()>& beforeRename) {
    if (std::string cause; !MayReplace(target, cause)) {
        return {ReplaceStep::kRename,
                std::make_error_code(std::errc::operation_not_permitted),
                {},
                cause,
                {}};
    }
    if (AbandonRequested()) {
        return {ReplaceStep::kAbandoned, {}, {}, {}, {}};
    }
    const fs::path temp = SiblingPath(target, kTempSuffix);
    ReplaceResult result = writeTemporary(temp, content, target);
    if (result.failedStep == ReplaceStep::kNone) {
        std::vector<std::string> dropped = std::move(result.dropped);
        result = moveIntoPlace(temp, target, readBytes, beforeRename);
        result.dropped = std::move(dropped);
    }
    // Once renamed the temporary file is gone. The failure is what gets reported; a temporary
    // file that will not go away either is cleared by the next write anyway.
    if (!result.replaced()) {
        platform::RemoveFile(temp);
    }
    return result;
}

}  // namespace vexlor
