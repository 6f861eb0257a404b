#include "file_ops.h"

#include <utility>

#include "failure.h"
#include "json_file.h"
#include "log.h"
#include "names.h"
#include "platform.h"

namespace vexlor {

namespace {

std::function<void(const fs::path&)>& beforeReplaceHook() {
    static std::function<void(const fs::path&)> hook;
    return hook;
}

// Whether `target` still holds exactly `readBytes`. A target that cannot be read any more
// has changed too, as far as a replacement is concerned.
bool stillHolds(const fs::path& target, const std::string& readBytes) {
    std::string now;
    return !platform::ReadWholeFile(target, kMaxFileBytes, now) && now == readBytes;
}

// Writes the temporary file, completely and durably, clearing whatever stale entry an
// interrupted run left at its name first.
ReplaceResult writeTemporary(const fs::path& temp, const ContentProducer& content,
                             const fs::path& target) {
    if (std::error_code ec = platform::RemoveStaleEntry(temp)) {
        NoteSystemFailure(ec, FailureKind::kDirectoryNotWritable, FailureKind::kOther);
        return {ReplaceStep::kWrite, ec, temp, {}};
    }
    std::string cause;
    const platform::ContentWriter writer = [&](const platform::ByteSink& sink) {
        return content(sink, cause);
    };
    if (std::error_code ec = platform::WriteNewFileDurably(temp, writer, target)) {
        // A document refused while it was written has noted why already.
        if (cause.empty()) {
            NoteSystemFailure(ec, FailureKind::kDirectoryNotWritable, FailureKind::kOther);
        }
        return {ReplaceStep::kWrite, ec, {}, cause};
    }
    return {};
}

// Renames the complete temporary file over `target`, unless the caller's last step or a
// change of the target since it was read stands in the way.
ReplaceResult moveIntoPlace(const fs::path& temp, const fs::path& target,
                            const std::string* readBytes,
                            const std::function<bool()>& beforeRename) {
    if (beforeRename && !beforeRename()) {
        return {ReplaceStep::kWithdrawn, {}, {}, {}};
    }
    if (beforeReplaceHook()) {
        beforeReplaceHook()(target);
    }
    // As late as possible: what someone else writes after this check and before the
    // rename is the one window left, and it is as short as a read of the file.
    if (readBytes != nullptr && !stillHolds(target, *readBytes)) {
        return {ReplaceStep::kChanged, {}, {}, {}};
    }
    if (std::error_code ec = platform::ReplaceFile(temp, target)) {
        NoteErrorClass(platform::ClassifyReplaceError(ec), FailureKind::kDirectoryNotWritable,
                       FailureKind::kOther);
        return {ReplaceStep::kRename, ec, {}, {}};
    }
    if (std::error_code syncError = platform::SyncDirectoryOf(target)) {
        return {ReplaceStep::kSync, syncError, {}, {}};
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
    if (std::error_code ec = platform::CheckMayReplace(target)) {
        NoteSystemFailure(ec, FailureKind::kReadOnly, FailureKind::kOther);
        return {ReplaceStep::kRename, ec, {}, {}};
    }
    const fs::path temp = SiblingPath(target, kTempSuffix);
    ReplaceResult result = writeTemporary(temp, content, target);
    if (result.failedStep == ReplaceStep::kNone) {
        result = moveIntoPlace(temp, target, readBytes, beforeRename);
    }
    // Once renamed the temporary file is gone. The failure is what gets reported; a temporary
    // file that will not go away either is cleared by the next write anyway.
    if (!result.replaced()) {
        platform::RemoveFile(temp);
    }
    return result;
}

}  // namespace vexlor
