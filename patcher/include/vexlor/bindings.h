// Vexlor bindings patcher: safely patches the VR compositor's generic-HMD input-binding file.
//
// Every operation reports a plain success flag and tells the detail, one line per event, to the
// caller's Logger. No operation keeps state between calls: what it knows lies on disk, in the
// marker inside the bindings file and in the backup beside it. Operations that write in the
// same directory take turns: each holds the directory's lock, waiting for it a bounded time.
#ifndef VEXLOR_BINDINGS_H_
#define VEXLOR_BINDINGS_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The operations only take JSON documents by reference; callers who build one include
// <nlohmann/json.hpp> themselves.
#include <nlohmann/json_fwd.hpp>

// The release: the one place the project's version is set (CMakeLists.txt reads it here).
#define VEXLOR_BINDINGS_VERSION_MAJOR 1
#define VEXLOR_BINDINGS_VERSION_MINOR 0
#define VEXLOR_BINDINGS_VERSION_PATCH 0
// "MAJOR.MINOR.PATCH", e.g. "1.0.0".
// clang-format off
#define VEXLOR_BINDINGS_VERSION_STRING                       \
    VEXLOR_BINDINGS_TEXT_(VEXLOR_BINDINGS_VERSION_MAJOR) "." \
    VEXLOR_BINDINGS_TEXT_(VEXLOR_BINDINGS_VERSION_MINOR) "." \
    VEXLOR_BINDINGS_TEXT_(VEXLOR_BINDINGS_VERSION_PATCH)
// clang-format on
#define VEXLOR_BINDINGS_TEXT_(number) VEXLOR_BINDINGS_QUOTE_(number)
#define VEXLOR_BINDINGS_QUOTE_(text) #text

namespace vexlor {

// The names the patcher shares with the compositor, with older releases and with itself
// across runs: everything it knows between calls is kept under these names on disk.

// Set to true at the top level of a file this release patched.
inline constexpr const char* kMarkerKey = "vexlor_patched_v2";
// The same, as an older release wrote it; still recognised, replaced by kMarkerKey on patch.
inline constexpr const char* kLegacyMarkerKey = "vexlor_patched_v1";

// The file the operations work on, in the bindings directory.
inline constexpr const char* kBindingsFileName = "vrcompositor_bindings_generic_hmd.json";
// "<bindings file><kBackupSuffix>" holds the original bytes, saved before the first change.
inline constexpr const char* kBackupSuffix = ".vexlor_backup";
// "<file><kTempSuffix>" is where a write goes before it is renamed over <file>.
inline constexpr const char* kTempSuffix = ".vexlor_tmp";
// Kept files come in generations: "<name>" is the first, then "<name>.2", "<name>.3", ... up to
// "<name>.<kMaxGenerations>", each newer than the one before; none is ever overwritten. When
// the runtime rewrites the file, the next patch keeps the new original as the next generation
// of the backup, and unpatch goes back to the newest.
inline constexpr const char* kGenerationSeparator = ".";
inline constexpr int kMaxGenerations = 10;
// "<bindings file><kBeforeUndoSuffix>" (and its generations) holds the file's bytes from just
// before an unpatch replaced edits someone had made inside the injected action sets.
inline constexpr const char* kBeforeUndoSuffix = ".vexlor_before_undo";
// "<bindings file><kCleanupOwedSuffix>" stands beside the file from just before an undo until
// the older release's profile files it owes are removed: the undo takes the marker out, and
// without the marker nothing else would tell the next unpatch that a cleanup cut short by a
// crash is still owed.
inline constexpr const char* kCleanupOwedSuffix = ".vexlor_cleanup";
// Where a directory cannot be locked itself (Windows), an operation holds this file in the
// bindings directory open, unshared, for as long as it runs; it goes when the holder does.
inline constexpr const char* kLockFileName = ".vexlor_lock";

// The patch sets these action sets, each whole, in the document's "bindings" object.
inline constexpr const char* kBindingsKey = "bindings";
inline constexpr const char* kInjectedActionSets[] = {
    "/actions/lasermouse",
    "/actions/lasermouse_secondary",
    "/actions/system",
};

// The controller type an older release wrote profile files for, and those files' names in the
// bindings directory; unpatch removes them when they carry either marker.
inline constexpr const char* kLegacyControllerType = "lighthouse_hmd";
inline constexpr const char* kLegacyProfileFileNames[] = {
    "vrcompositor_bindings_lighthouse_hmd.json",
    "lighthouse_hmd_profile.json",
};

// Receives one message; the pointer is valid only during the call. May be empty.
using Logger = std::function<void(const char* message)>;

// Writes `j` to `target` so that a reader sees either the old content or the complete new
// document, never a half-written file, even across a crash or a power loss. The document goes
// to the sibling "<target>.vexlor_tmp", is flushed to storage and renamed over `target`.
// Returns false, after exactly one message, on any failure; `target` is then unchanged.
bool AtomicWriteJson(const std::filesystem::path& target, const nlohmann::json& j, Logger log);

// Brings "vrcompositor_bindings_generic_hmd.json" in `bindingsDir` into the patched state,
// saving its original bytes to "<file>.vexlor_backup" before the first change, and a new
// original the runtime wrote since to the backup's next generation. A file that holds the
// patch without its marker gets the marker back and no backup. True when the file is now
// patched (by this call or an earlier one).
bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log);

// Undoes the patch: restores the newest backup where the file is still what the patch made,
// otherwise erases what the patch added from a file that carries a Vexlor marker or the
// patch's action sets, keeping the file's bytes first where that replaces someone's edits.
// No patch of either release is left, even one the backup itself carries. Then removes the
// legacy "lighthouse_hmd" profile files an older release wrote. True when a settled state was
// reached, including "nothing to do" and "not ours".
bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log);

// Why PatchGenericHmdBindingsFile or UnpatchGenericHmdBindingsFile failed, for a caller that
// explains it in its own words; the detail still goes to the Logger.
enum class FailureKind {
    kNone,                  // the operation succeeded
    kMissing,               // patch: there is no bindings file
    kReadOnly,              // the bindings file may not be written (permission, read-only mount)
    kDirectoryNotWritable,  // no new file may be made in the directory
    kNoSpace,               // the disk or the quota is full
    kInUse,                 // another program holds the file open and shares it with nobody
    kNotReadable,           // a file could not be read or examined
    kEmpty,                 // the bindings file is empty
    kNotJson,               // the bindings file does not parse
    kNotObject,             // patch: the bindings file holds JSON, but not an object
    kTooLarge,              // beyond any real bindings file: too large or too deeply nested
    kBusy,                  // another operation held the directory for the whole wait
    kKeptChanging,          // another program kept writing the file
    kForeignLink,           // a link leads to a file of another user than the directory's
    kBackupFailed,          // patch: the backup of the original could not be made
    kBackupUnparsable,      // unpatch: the backup does not parse, so the undo has no original
    kAccessNotCarried,      // who may use the file (group, ACL, label) cannot be given to its
                            // replacement or backup
    kDirectoryNotReadable,  // the directory cannot be read, which its lock and flush need
    kDirectoryAppendOnly,   // the directory lets files be made but not replaced (chattr +a, +i)
    kReadOnlyMount,         // the file system is mounted read-only
    kAbandoned,             // the caller asked the operation to stop (OperationControl)
    kCopyFailed,            // unpatch: the copy kept before an undo replaces edits was not made
    kOther,
};

// As the two-argument forms; on failure `failure` says why (kNone on success).
bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                 FailureKind& failure);
bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                   FailureKind& failure);

// How a writing operation waits for another one on the same directory, and when it stops.
struct OperationControl {
    // How long to wait for another operation on the directory to finish; zero: do not wait.
    // The two-argument forms wait 10 s.
    std::chrono::milliseconds lockWait = std::chrono::seconds(10);
    // Asked while waiting and before each step that writes a file; true stops the operation
    // there (kAbandoned). The steps already done stay done; a step begun is finished or
    // undone, so no temporary file is left. Called on the operation's thread; may be empty.
    std::function<bool()> abandon;
};

// As the three-argument forms, waiting and stopping as `control` says.
bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                 FailureKind& failure, const OperationControl& control);
bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                   FailureKind& failure, const OperationControl& control);

// What a patch would do now, found without changing anything and without taking the lock; the
// patch itself decides by the same rules, and a directory whose lock could not be taken fails
// the plan too. Texts are UTF-8.
enum class PatchDecision {
    kPatch,           // the file would be patched
    kAlreadyPatched,  // nothing to do
    kWouldFail,       // the patch would fail: `failure` and `detail` say why
};

struct PatchPlan {
    PatchDecision decision = PatchDecision::kWouldFail;
    FailureKind failure = FailureKind::kNone;
    std::string detail;
    std::string bindingsFile;  // the file as named in the directory
    std::string backupToMake;  // kPatch: where the original would be saved; "" when kept already
    // kPatch, when the file changed since its newest backup: that backup, kept as it is while
    // the new original goes to backupToMake, the next generation
    std::string backupKept;
    bool markerMissing = false;  // kPatch: the file holds the patch without its marker
    std::vector<std::string> addedActionSets;     // kPatch: action sets the file lacks
    std::vector<std::string> replacedActionSets;  // kPatch: action sets it holds, replaced whole
    std::vector<std::string> removedMarkers;      // kPatch: kLegacyMarkerKey when it is there
    // Warning lines the patch would log, as it would log them: other names (hard links) of
    // the file, which keep the old content; another operation holding the directory now.
    std::vector<std::string> warnings;
};

PatchPlan PlanPatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir);

enum class UnpatchDecision {
    kRestore,      // the backup's bytes would be copied back
    kUndoInPlace,  // the patch's action sets and markers would be taken out, the rest kept
    kLeaveAlone,   // the file carries no marker: not ours
    kNothingToDo,  // there is no bindings file
    kWouldFail,    // the unpatch would fail: `failure` and `detail` say why
};

struct UnpatchPlan {
    UnpatchDecision decision = UnpatchDecision::kWouldFail;
    FailureKind failure = FailureKind::kNone;
    std::string detail;
    std::string bindingsFile;
    std::string backup;  // kRestore, and kUndoInPlace with a backup: the newest backup, used
    std::vector<std::string> olderBackups;  // the older generations of the backup, all kept
    std::string backupMarker;    // kRestore: the backup itself carries this marker; undone too
    bool markerMissing = false;  // kUndoInPlace: the file holds the patch without its marker
    // kUndoInPlace: injected sets someone edited since the patch, whose edits the undo
    // replaces, and where the file's bytes are kept first
    std::vector<std::string> editedActionSets;
    std::string copyBeforeUndo;
    std::vector<std::string> restoredActionSets;     // kUndoInPlace: given the backup's value again
    std::vector<std::string> removedActionSets;      // kUndoInPlace: taken out
    std::vector<std::string> removedMarkers;         // kUndoInPlace
    std::vector<std::string> removedLegacyProfiles;  // file names, after a restore or an undo
    std::vector<std::string> warnings;               // as PatchPlan's
};

UnpatchPlan PlanUnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir);

// What InspectGenericHmdBindingsFile finds. Texts (paths, causes) are UTF-8; a cause is the
// system's or the JSON parser's message.
enum class DirectoryState { kDirectory, kMissing, kNotDirectory, kUnknown };

enum class BindingsFileState {
    kMissing,
    kNotReadable,
    kNotJson,
    kEmpty,          // nothing but white space, which the operations refuse as "empty"
    kNotObject,      // JSON other than an object or null, which the patch refuses
    kPatched,        // carries kMarkerKey
    kPatchedLegacy,  // carries kLegacyMarkerKey only
    kNotPatched,
    // carries neither marker, yet holds the three injected action sets exactly as the patch
    // writes them: patched, with its marker lost; unpatch undoes it, patch puts the marker back
    kPatchedMarkerMissing,
};

struct BindingsFileReport {
    BindingsFileState state = BindingsFileState::kMissing;
    std::string marker;  // kPatched, kPatchedLegacy: the marker key found
    // kNotObject: "array", "string", "number" or "boolean"; kNotPatched: "null" for a file that
    // holds null, which the patch makes an object
    std::string jsonType;
    std::string detail;  // kNotReadable, kNotJson: the cause
};

// The backup and the temporary files.
enum class FilePresence { kAbsent, kPresent, kUnknown };

struct FileReport {
    FilePresence state = FilePresence::kAbsent;
    std::optional<std::uintmax_t> size;  // kPresent, when the size could be read
    std::string detail;                  // kUnknown, or kPresent without a size: the cause
};

enum class LegacyProfileState {
    kAbsent,
    kOurs,     // carries either marker set to true, so unpatch removes it
    kNotOurs,  // anything else, including a file that cannot be read or parsed
    kUnknown,  // whether it exists could not be checked
};

struct LegacyProfileReport {
    std::string fileName;  // one of kLegacyProfileFileNames
    LegacyProfileState state = LegacyProfileState::kAbsent;
    std::string marker;  // kOurs: the marker key found
    std::string detail;  // kUnknown: the cause
    // kOurs: whether an unpatch run now would remove it. Unpatch removes legacy profiles only
    // after it restores or undoes the bindings file.
    bool removedByUnpatch = false;
};

// A kept file of which there may be several generations, named by its file name.
struct KeptFileReport {
    std::string fileName;
    FileReport file;
};

struct BindingsInspection {
    std::string directory;  // bindingsDir as given, for display
    DirectoryState directoryState = DirectoryState::kDirectory;
    std::string directoryDetail;  // kUnknown: the cause
    // Whether another operation holds the directory now; operationDetail says why that could
    // not be checked, when it could not.
    bool operationInProgress = false;
    std::string operationDetail;
    // The rest is examined only when directoryState is kDirectory.
    BindingsFileReport bindingsFile;
    FileReport backup;  // "<bindings file><kBackupSuffix>"
    // The newer generations of the backup that are present, oldest first; unpatch uses the
    // newest.
    std::vector<KeptFileReport> newerBackups;
    // "<bindings file><kBeforeUndoSuffix>" and its generations, those present, oldest first.
    std::vector<KeptFileReport> copiesBeforeUndo;
    FileReport temporaryFile;        // "<bindings file><kTempSuffix>"
    FileReport backupTemporaryFile;  // "<backup><kTempSuffix>"
    // "<bindings file><kCleanupOwedSuffix>": an undo cut short still owes the removal of the
    // legacy profiles, which the next unpatch carries out.
    FileReport cleanupOwed;
    std::vector<LegacyProfileReport> legacyProfiles;  // in the order of kLegacyProfileFileNames
};

// Reports the state of `bindingsDir` without writing anything in it: every file is only
// examined and read. Access times stay as they were where the system lets a reader ask for
// that (the files' owner, root, an administrator); for anyone else the system records the
// read. The bindings file is read exactly as the patch and unpatch operations read it, so
// kNotJson means they would refuse it too. Takes no hold on the directory and may run while
// another operation does; it then sees that operation's files as they are at that moment.
//
// With InspectionScope::kDirectoryOnly it checks only that `bindingsDir` is a directory and
// reads no file: `directory`, `directoryState` and `directoryDetail` are filled, the rest keep
// their defaults. A caller about to patch or unpatch checks that much first, cheaply.
enum class InspectionScope { kEverything, kDirectoryOnly };

BindingsInspection InspectGenericHmdBindingsFile(
    const std::filesystem::path& bindingsDir, InspectionScope scope = InspectionScope::kEverything);

// Reports for installers and scripts: each a JSON object with stable snake_case keys and a
// "format_version", the same whether the tool prints it or the C interface returns it.
nlohmann::json StatusToJson(const BindingsInspection& status);
nlohmann::json PatchPlanToJson(const PatchPlan& plan);
nlohmann::json UnpatchPlanToJson(const UnpatchPlan& plan);
// `report` on one line; bytes that are not UTF-8 (a directory's name) become U+FFFD rather
// than failing the whole report.
std::string JsonText(const nlohmann::json& report);

// The word for `kind` in JSON results: "none", "missing", "read_only", ...
const char* FailureKindName(FailureKind kind);

// What a plain sentence about a failure knows besides its kind: the disk after the run.
struct FailureCircumstances {
    bool dryRun = false;                  // "would fail", and nothing to say about what changed
    bool hasBackup = false;               // whether the original is kept beside the file
    bool backupMade = false;              // the run made the backup before it failed
    std::vector<std::string> leftBehind;  // temporary files on disk after the run
    // The patcher's last message, when nobody was shown it: the sentence then says it.
    std::string unshownCause;
    std::string newestBackup = "vrcompositor_bindings_generic_hmd.json.vexlor_backup";
    // Whether the bindings file, looked at after the failure, still does not parse as a
    // bindings document: it may have been caught while another program wrote it.
    bool fileStillBroken = true;
};

// How many generations of the backup stand in `bindingsDir`; taken before a run, so that the
// circumstances after it tell whether the run made one.
int BackupsPresent(const std::filesystem::path& bindingsDir);
// Looks at `bindingsDir` after a run that did not succeed.
FailureCircumstances FailureCircumstancesAfter(const std::filesystem::path& bindingsDir,
                                               int backupsBefore, bool dryRun);

// The plain words for a failure, the same for every caller: "<what went wrong>; <what is on
// disk now>. <what to do>." (a dry run: "<what would go wrong>. <what to do>.").
std::string FailureSentence(FailureKind kind, const FailureCircumstances& circumstances);
// What is on disk after a run that stopped before it wrote anything, or after the files it
// left behind: "nothing was changed", ...
std::string UnchangedText(const FailureCircumstances& circumstances);

// Why there is nothing to patch, unpatch or report in the inspected directory (it is missing,
// not a directory, or could not be checked), or "" when it is a directory.
std::string DirectoryProblem(const BindingsInspection& inspection);

// A logger that keeps only the last message, without its tag and line end: the cause a
// failure sentence says (FailureCircumstances::unshownCause) where nobody saw the messages.
Logger KeepLastCause(std::string& cause);

// One patch or unpatch with everything a caller outside C++ needs to know afterwards.
enum class Operation { kPatch, kUnpatch };

struct OperationResult {
    Operation operation = Operation::kPatch;
    std::string directory;  // UTF-8, for display
    // patch: "patched", "already_patched"; unpatch: "restored", "undone_in_place",
    // "left_alone", "nothing_to_do"; either: "failed", or "interrupted" when stopped
    std::string outcome;
    std::vector<std::string> filesWritten;  // made or replaced, as displayed paths
    std::vector<std::string> filesRemoved;  // legacy profiles an unpatch took away
    FailureKind failure = FailureKind::kNone;
    std::string message;                 // FailureSentence on failure, "" on success
    FailureCircumstances circumstances;  // on failure: what `message` was made from
};

// The result of an operation refused before it began: `inspection`, at least
// InspectionScope::kDirectoryOnly, found no directory (failure kMissing where nothing stands
// at the name, kOther otherwise; the message is DirectoryProblem's).
OperationResult DirectoryFailure(Operation operation, const BindingsInspection& inspection);

// Runs the operation as the two-argument forms do, waiting and stopping as `control` says,
// after the check DirectoryFailure reports.
// What was done is recorded by the operation as it does it, under its lock; with an empty
// `log` the last message the operation would have logged goes into the failure sentence
// instead.
OperationResult RunOperation(Operation operation, const std::filesystem::path& bindingsDir,
                             Logger log, const OperationControl& control);
nlohmann::json OperationResultToJson(const OperationResult& result);

}  // namespace vexlor

#endif  // VEXLOR_BINDINGS_H_
