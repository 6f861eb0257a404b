#include "kept_files.h"

#include "failure.h"
#include "file_ops.h"
#include "log.h"
#include "names.h"
#include "platform/platform.h"

namespace vexlor {

namespace {

// Whether a kept file stands at `path`, or why what stands there may not be used. Anything at
// the name that is not a file of the directory's owner stands in the way.
bool keptFileAt(const fs::path& path, const fs::path& dir, std::string& problem) {
    std::error_code ec;
    const fs::file_status entry = fs::symlink_status(path, ec);
    if (entry.type() == fs::file_type::not_found) {
        return false;
    }
    const fs::file_status followed = ec ? entry : fs::status(path, ec);
    const std::string shown = platform::DisplayPath(path);
    bool sameOwner = true;
    if (!ec && fs::is_symlink(entry) && fs::exists(followed)) {
        ec = platform::CheckSameOwner(dir, path, sameOwner);
    }
    if (ec && !(fs::is_symlink(entry) && followed.type() == fs::file_type::not_found)) {
        problem = "cannot check " + shown + ": " + platform::ErrorText(ec);
    } else if (followed.type() == fs::file_type::not_found) {
        problem = shown + " is a symbolic link that leads nowhere";
    } else if (!sameOwner) {
        problem = shown + " links to a file of another user than the directory";
    } else if (!fs::is_regular_file(followed)) {
        problem = shown + " is not a file";
    }
    return problem.empty();
}

}  // namespace

fs::path GenerationPath(const fs::path& first, int number) {
    if (number <= 1) {
        return first;
    }
    fs::path path = first;
    path += std::string(kGenerationSeparator) + std::to_string(number);
    return path;
}

bool FindGenerations(const fs::path& first, const fs::path& dir, Generations& found,
                     std::string& problem) {
    found = Generations();
    // Every name is looked at, so that a generation someone removed by hand leaves no gap
    // through which an older one would pass for the newest.
    for (int number = 1; number <= kMaxGenerations; ++number) {
        const fs::path path = GenerationPath(first, number);
        if (keptFileAt(path, dir, problem)) {
            found.present.push_back(path);
            found.newest = number;
        } else if (!problem.empty()) {
            NoteFailure(FailureKind::kBackupFailed);
            return false;
        }
    }
    return true;
}

fs::path NextGeneration(const fs::path& first, const Generations& found, std::string& problem) {
    if (found.newest >= kMaxGenerations) {
        NoteFailure(FailureKind::kBackupFailed);
        problem = "all " + std::to_string(kMaxGenerations) + " generations of " +
                  platform::DisplayPath(first) +
                  " are kept already; move the older ones you no longer need elsewhere";
        return {};
    }
    return GenerationPath(first, found.newest + 1);
}

std::string KeepFile(const fs::path& path, const std::string& bytes, const fs::path& model,
                     FailureKind failed, const char* tag, const Logger& log) {
    const fs::path temp = SiblingPath(path, kTempSuffix);
    if (std::error_code ec = platform::RemoveStaleEntry(temp)) {
        NoteSystemFailure(ec, FailureKind::kDirectoryNotWritable, failed);
        return "cannot clear the stale temporary file " + platform::DisplayPath(temp) + ": " +
               platform::ErrorText(ec);
    }
    // A kept copy is no more open to others than the file it keeps.
    platform::CarriedOver carried;
    std::error_code ec = platform::WriteNewFileDurably(temp, bytes, model, &carried);
    if (ec && !carried.refusedAccess.empty()) {
        platform::RemoveFile(temp);
        return AccessNotCarriedCause(carried, ec);
    }
    if (!ec) {
        ec = platform::MoveNoReplace(temp, path);
    }
    // On success too: a move that had to link may leave the temporary name beside the file.
    platform::RemoveFile(temp);
    if (!ec) {
        WarnOfDroppedAttributes(carried.dropped, path, tag, log);
    }
    if (ec) {
        NoteSystemFailure(ec, FailureKind::kDirectoryNotWritable, failed);
        return platform::ErrorText(ec);
    }
    if (std::error_code syncError = platform::SyncDirectoryOf(path)) {
        NoteSystemFailure(syncError, failed, failed);
        return "could not flush " + platform::DisplayPath(path) +
               " to storage: " + platform::ErrorText(syncError);
    }
    return {};
}

void ClearKeptFileLeftover(const fs::path& path, const char* tag, const Logger& log) {
    const fs::path temp = SiblingPath(path, kTempSuffix);
    if (std::error_code leftover = platform::RemoveFile(temp)) {
        LogFormatted(log, "%scould not remove %s: %s\n", tag, platform::DisplayPath(temp).c_str(),
                     platform::ErrorText(leftover).c_str());
    }
}

}  // namespace vexlor
