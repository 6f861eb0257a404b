#include "file_ops.h"

#include <utility>

#include "json_file.h"
#include "platform/platform.h"

namespace vexlor {

namespace {

// Whether `target` still holds exactly `readBytes`; a read that fails says nothing about
// that, and its error is returned instead. The file is compared as it is read, never held.
std::error_code stillHolds(const fs::path& target, const std::string& readBytes, bool& same) {
    std::size_t compared = 0;
    bool differs = false;
    const std::error_code ec =
        platform::ReadFileInPieces(target, kMaxFileBytes, [&](std::string_view piece, std::size_t) {
            differs = piece.size() > readBytes.size() - compared ||
                      readBytes.compare(compared, piece.size(), piece) != 0;
            compared += piece.size();
            return !differs;
        });
    same = !ec && !differs && compared == readBytes.size();
    return ec;
}

// Writes the temporary file, completely and durably, clearing whatever stale entry an
// interrupted run left at its name first.
ReplaceResult writeTemporary(const fs::path& temp, const ContentProducer& content,
                             const fs::path& target) {
    if (std::error_code ec = platform::RemoveStaleEntry(temp)) {
        return {ReplaceStep::kWrite,
                Status::FromSystem(ec, FailureKind::kDirectoryNotWritable, FailureKind::kOther,
                                   platform::ErrorText(ec)),
                temp,
                {}};
    }
    Status refusal;
    const platform::ContentWriter writer = [&](const platform::ByteSink& sink) {
        return content(sink, refusal);
    };
    platform::CarriedOver carried;
    if (std::error_code ec = platform::WriteNewFileDurably(temp, writer, target, &carried)) {
        if (!carried.refusedAccess.empty()) {
            refusal = AccessNotCarried(carried, ec);
        } else if (refusal.ok()) {
            refusal = Status::FromSystem(ec, FailureKind::kDirectoryNotWritable,
                                         FailureKind::kOther, platform::ErrorText(ec));
        }
        return {ReplaceStep::kWrite, refusal, {}, {}};
    }
    ReplaceResult written;
    written.dropped = std::move(carried.dropped);
    return written;
}

// Renames the complete temporary file over `target`, unless the caller's last step or a
// change of the target since it was read stands in the way.
ReplaceResult moveIntoPlace(const fs::path& temp, const fs::path& target, const WhatWasRead& read,
                            const std::function<Status()>& beforeRename) {
    if (AbandonRequested()) {
        return {ReplaceStep::kAbandoned, {}, {}, {}};
    }
    if (beforeRename) {
        if (Status withdrawn = beforeRename(); !withdrawn.ok()) {
            return {ReplaceStep::kWithdrawn, withdrawn, {}, {}};
        }
    }
    // The backup the last step may have made stays; the file is not touched.
    if (AbandonRequested()) {
        return {ReplaceStep::kAbandoned, {}, {}, {}};
    }
    // As late as possible: what someone else writes after this check and before the
    // rename is the one window left, and it is as short as a read of the file.
    bool same = true;
    if (read.known()) {
        if (std::error_code ec = read.StillIn(target, same)) {
            return {ReplaceStep::kReread,
                    Status::FromSystem(ec, FailureKind::kNotReadable, FailureKind::kNotReadable,
                                       platform::ErrorText(ec)),
                    {},
                    {}};
        }
    }
    if (!same) {
        return {ReplaceStep::kChanged, Status::WrittenMeanwhile(), {}, {}};
    }
    if (std::error_code ec = platform::ReplaceFile(temp, target)) {
        return {ReplaceStep::kRename,
                Status::FromClass(platform::ClassifyReplaceError(ec), ec,
                                  FailureKind::kDirectoryNotWritable, FailureKind::kOther,
                                  platform::ErrorText(ec)),
                {},
                {}};
    }
    if (std::error_code syncError = platform::SyncDirectoryOf(target)) {
        return {ReplaceStep::kSync,
                Status::Failed(FailureKind::kOther, platform::ErrorText(syncError), syncError),
                {},
                {}};
    }
    return {};
}

}  // namespace

fs::path SiblingPath(const fs::path& file, const char* suffix) {
    fs::path sibling = file;
    sibling += suffix;
    return sibling;
}

FilePresence QueryPresence(const fs::path& path, std::error_code& ec) {
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        ec.clear();
        return FilePresence::kAbsent;
    }
    return ec ? FilePresence::kUnknown : FilePresence::kPresent;
}

namespace {

Status cannotCheck(const fs::path& path, const std::error_code& ec) {
    return Status::FromSystem(ec, FailureKind::kNotReadable, FailureKind::kNotReadable,
                              Format("cannot check %s: %s", platform::DisplayPath(path).c_str(),
                                     platform::ErrorText(ec).c_str()));
}

}  // namespace

Status LookFor(const fs::path& path, FilePresence& presence) {
    std::error_code ec;
    presence = QueryPresence(path, ec);
    return presence == FilePresence::kUnknown ? cannotCheck(path, ec) : Status();
}

Status ResolveWriteTarget(const fs::path& file, const fs::path& dir, fs::path& target) {
    std::error_code ec;
    target = file;
    if (!fs::is_symlink(fs::symlink_status(file, ec))) {
        return {};
    }
    bool sameOwner = false;
    target = fs::canonical(file, ec);
    if (!ec) {
        ec = platform::CheckSameOwner(dir, target, sameOwner);
    }
    if (ec) {
        return cannotCheck(file, ec);
    }
    if (!sameOwner) {
        return Status::Failed(
            FailureKind::kForeignLink,
            Format("%s links to %s, which belongs to another user than the "
                   "directory -- leaving alone",
                   platform::DisplayPath(file).c_str(), platform::DisplayPath(target).c_str()));
    }
    return {};
}

std::string OtherNamesWarning(const fs::path& target, const OperationLog& log) {
    std::error_code ec;
    const std::uintmax_t names = fs::hard_link_count(target, ec);
    if (ec || names <= 1) {
        return {};
    }
    const std::string others =
        names == 2 ? "another name (a hard link), which keeps"
                   : std::to_string(names - 1) + " other names (hard links), which keep";
    return log.Line("warning: " + platform::DisplayPath(target) + " has " + others +
                    " the old content");
}

Status MayReplace(const fs::path& target) {
    if (std::error_code ec = platform::CheckMayReplace(target)) {
        return Status::FromSystem(ec, FailureKind::kReadOnly, FailureKind::kOther,
                                  platform::ErrorText(ec));
    }
    if (!platform::DirectoryLetsFilesBeReplaced(target)) {
        return Status::Failed(
            FailureKind::kDirectoryAppendOnly,
            "its directory is append-only or immutable, which lets no file in it be replaced");
    }
    return {};
}

void WarnOfDroppedAttributes(const std::vector<std::string>& dropped, const fs::path& file,
                             const OperationLog& log) {
    for (const std::string& attribute : dropped) {
        log.Say("warning: %s did not keep the attribute %s\n", platform::DisplayPath(file).c_str(),
                attribute.c_str());
    }
}

Status AccessNotCarried(const platform::CarriedOver& carried, const std::error_code& ec) {
    return Status::Failed(
        FailureKind::kAccessNotCarried,
        "cannot give the new file " + carried.refusedAccess + ": " + platform::ErrorText(ec), ec);
}

Status CommonReplaceFailure(const ReplaceResult& result, const fs::path& target) {
    const std::string shown = platform::DisplayPath(target);
    switch (result.failedStep) {
        case ReplaceStep::kChanged:
        case ReplaceStep::kWithdrawn:
            return result.failure;
        case ReplaceStep::kAbandoned:
            return Status::Failed(
                FailureKind::kAbandoned,
                Format("stopped before replacing %s, as asked; it was not changed", shown.c_str()));
        case ReplaceStep::kReread:
            return result.failure.Prefixed("cannot read " + shown + " again before replacing it: ");
        case ReplaceStep::kNone:
        case ReplaceStep::kWrite:
        case ReplaceStep::kRename:
        case ReplaceStep::kSync:
            break;
    }
    return {};
}

ContentProducer ContentOf(std::string_view bytes) {
    return [bytes](const platform::ByteSink& sink, Status&) { return sink(bytes); };
}

ContentProducer HashedWhileWritten(ContentProducer content, DigestBuilder& digest) {
    return
        [content = std::move(content), &digest](const platform::ByteSink& sink, Status& refusal) {
            digest.Restart();
            const platform::ByteSink hashing = [&](std::string_view piece) {
                digest.Add(piece);
                return sink(piece);
            };
            return content(hashing, refusal);
        };
}

std::error_code HoldsDigest(const fs::path& file, const ContentDigest& digest, bool& same) {
    DigestBuilder read;
    bool sizeDiffers = false;
    const std::error_code ec = platform::ReadFileInPieces(
        file, kMaxFileBytes, [&](std::string_view piece, std::size_t openedSize) {
            sizeDiffers = openedSize != digest.size;
            read.Add(piece);
            return !sizeDiffers;
        });
    same = !ec && !sizeDiffers && read.Finish() == digest;
    return ec;
}

std::error_code WhatWasRead::StillIn(const fs::path& file, bool& same) const {
    return bytes_ != nullptr ? stillHolds(file, *bytes_, same) : HoldsDigest(file, digest_, same);
}

ReplaceResult ReplaceFileContents(const fs::path& target, std::string_view bytes,
                                  const WhatWasRead& read) {
    return ReplaceFileContents(target, ContentOf(bytes), read);
}

ReplaceResult ReplaceFileContents(const fs::path& target, const ContentProducer& content,
                                  const WhatWasRead& read,
                                  const std::function<Status()>& beforeRename) {
    if (Status refusal = MayReplace(target); !refusal.ok()) {
        return {ReplaceStep::kRename, refusal, {}, {}};
    }
    if (AbandonRequested()) {
        return {ReplaceStep::kAbandoned, {}, {}, {}};
    }
    const fs::path temp = SiblingPath(target, kTempSuffix);
    ReplaceResult result = writeTemporary(temp, content, target);
    if (result.failedStep == ReplaceStep::kNone) {
        std::vector<std::string> dropped = std::move(result.dropped);
        result = moveIntoPlace(temp, target, read, beforeRename);
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
