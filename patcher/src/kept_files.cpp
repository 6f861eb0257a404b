#include "kept_files.h"

#include "file_ops.h"
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

Status FindGenerations(const fs::path& first, const fs::path& dir, FailureKind failed,
                       Generations& found) {
    found = Generations();
    std::string problem;
    // Every name is looked at, so that a generation someone removed by hand leaves no gap
    // through which an older one would pass for the newest.
    for (int number = 1; number <= kMaxGenerations; ++number) {
        const fs::path path = GenerationPath(first, number);
        if (keptFileAt(path, dir, problem)) {
            found.present.push_back(path);
            found.newest = number;
        } else if (!problem.empty()) {
            return Status::Failed(failed, problem);
        }
    }
    return {};
}

Status NextGeneration(const fs::path& first, const Generations& found, FailureKind failed,
                      fs::path& next) {
    next.clear();
    if (found.newest >= kMaxGenerations) {
        return Status::Failed(failed, "all " + std::to_string(kMaxGenerations) +
                                          " generations of " + platform::DisplayPath(first) +
                                          " are kept already; move the older ones you no "
                                          "longer need elsewhere");
    }
    next = GenerationPath(first, found.newest + 1);
    return {};
}

namespace {

// The note goes on the complete file before it is moved into place, so that the kept file
// never stands without the note it was made with. It only saves later work: a file system that
// keeps no notes goes without, and any other failure is said and changes nothing else.
void writeNote(const fs::path& temp, const fs::path& path, std::string_view note,
               const OperationLog& log) {
    const std::error_code ec = platform::WriteFileNote(temp, note);
    if (ec && ec != std::errc::not_supported && ec != std::errc::operation_not_supported) {
        log.Say("could not keep a note of what the patch wrote with %s: %s\n",
                platform::DisplayPath(path).c_str(), platform::ErrorText(ec).c_str());
    }
}

}  // namespace

Status KeepFile(const fs::path& path, const std::string& bytes, const fs::path& model,
                FailureKind failed, const OperationLog& log, std::string_view note) {
    const fs::path temp = SiblingPath(path, kTempSuffix);
    if (std::error_code ec = platform::RemoveStaleEntry(temp)) {
        return Status::FromSystem(ec, FailureKind::kDirectoryNotWritable, failed,
                                  "cannot clear the stale temporary file " +
                                      platform::DisplayPath(temp) + ": " + platform::ErrorText(ec));
    }
    // A kept copy is no more open to others than the file it keeps.
    platform::CarriedOver carried;
    std::error_code ec = platform::WriteNewFileDurably(temp, bytes, model, &carried);
    if (ec && !carried.refusedAccess.empty()) {
        platform::RemoveFile(temp);
        return AccessNotCarried(carried, ec);
    }
    if (!ec && !note.empty()) {
        writeNote(temp, path, note, log);
    }
    if (!ec) {
        ec = platform::MoveNoReplace(temp, path);
    }
    // On success too: a move that had to link may leave the temporary name beside the file.
    platform::RemoveFile(temp);
    if (ec) {
        return Status::FromSystem(ec, FailureKind::kDirectoryNotWritable, failed,
                                  platform::ErrorText(ec));
    }
    WarnOfDroppedAttributes(carried.dropped, path, log);
    if (std::error_code syncError = platform::SyncDirectoryOf(path)) {
        return Status::FromSystem(syncError, failed, failed,
                                  "could not flush " + platform::DisplayPath(path) +
                                      " to storage: " + platform::ErrorText(syncError));
    }
    return {};
}

void ClearKeptFileLeftover(const fs::path& path, const OperationLog& log) {
    const fs::path temp = SiblingPath(path, kTempSuffix);
    if (std::error_code leftover = platform::RemoveFile(temp)) {
        log.Say("could not remove %s: %s\n", platform::DisplayPath(temp).c_str(),
                platform::ErrorText(leftover).c_str());
    }
}

}  // namespace vexlor
