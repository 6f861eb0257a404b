// Times every operation of the library against its floor: the least any program must do for
// the same result with the same guarantees, on the same bytes, in the same run. Each
// iteration times the operation and its floor one after the other, in alternating order, so
// that both meet the same load; the paired ratio is the median of the per-iteration ratios.
// Each row also reports the most heap memory the operation held at once.
//
// The floors, each writing the very bytes its operation writes (checked after the run) with
// the same durability: a first patch reads, makes the backup a durable replacement, parses,
// adds what the patch adds, serializes and makes a second durable replacement; an already
// patched file and the status read and scan for the marker without building anything; a
// restore reads the backup and the file and makes one durable replacement; an undo in place
// reads and parses the file and the backup, takes out what the patch added, serializes and
// makes one (without a backup it reads and parses the file only); an atomic write serializes
// and makes one; the dry runs read and scan (the patch's) or read both files (the unpatch's).
// A durable replacement writes a temporary sibling, flushes it, renames it over the file and
// flushes the directory.
//
// Every iteration starts from the same files, laid down and flushed to storage outside the
// timed region, so that no timed call pays for the setup's write-back.
//
//   vexlor_bench --vexlor_dir=DIR [benchmark flags]    runs the cases in DIR
//   vexlor_bench --vexlor_dir=DIR --vexlor_once=OP/SIZE
//                       runs the operation and its floor once each, each between callgrind
//                       toggles and dumped as "operation" and "floor"
//   vexlor_bench --vexlor_write_documents=DIR          writes the documents to DIR and exits
#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <vexlor/bindings.h>
#include <nlohmann/json.hpp>

#include "documents.h"
#include "floors.h"
#include "heap_counter.h"
#include "posix_io.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

const vexlor::Logger quietLog;  // empty: the library formats no message at all

// One document size. Its bytes are made when a case of that size first runs, so a filtered
// run (or one under a profiler) makes only the documents it needs.
struct Case {
    std::string size;
    std::string bytes;
    std::string patchedBytes;  // the document as the library's patch writes it
    std::string changedBytes;  // the patched document, then changed by its user
    std::string undoneBytes;   // what an undo in place must make of changedBytes
    bench::PatchContent patchContent;
};

// A change a user made after the patch; an undo in place keeps it.
constexpr const char* kUserChangeKey = "user_setting_after_patch";

struct CaseFiles {
    fs::path dir;
    fs::path bindings;
    fs::path backup;
};

fs::path workRoot;

CaseFiles freshCaseFiles(const std::string& name) {
    CaseFiles files;
    files.dir = workRoot / name;
    fs::remove_all(files.dir);
    fs::create_directories(files.dir);
    files.bindings = files.dir / vexlor::kBindingsFileName;
    files.backup = files.bindings;
    files.backup += vexlor::kBackupSuffix;
    return files;
}

// Lays down `bytes` at `file` and flushes it and its directory, so the journal is clean when
// the timed call starts.
void layDown(const fs::path& file, std::string_view bytes) {
    bench::WriteFileDurably(file, bytes);
    bench::SyncDirectory(file.parent_path());
}

void expectContent(const fs::path& file, const std::string& expected) {
    if (bench::ReadFile(file) != expected) {
        throw std::runtime_error(file.string() + " does not hold what the operation promises");
    }
}

bool patch(const CaseFiles& files) {
    return vexlor::PatchGenericHmdBindingsFile(files.dir, quietLog);
}

bool unpatch(const CaseFiles& files) {
    return vexlor::UnpatchGenericHmdBindingsFile(files.dir, quietLog);
}

// The bytes the library's patch makes of a document, found by letting it patch a copy.
std::string patchedForm(const std::string& size, const std::string& bytes) {
    const CaseFiles files = freshCaseFiles("prepare-" + size);
    layDown(files.bindings, bytes);
    if (!patch(files)) {
        throw std::runtime_error("cannot patch the " + size + " document");
    }
    std::string patched = bench::ReadFile(files.bindings);
    fs::remove_all(files.dir);
    return patched;
}

std::string withUserChange(const std::string& bytes) {
    json document = json::parse(bytes);
    document[kUserChangeKey] = "kept by an undo in place";
    return bench::OnDiskForm(document);
}

void prepare(Case& c) {
    if (c.bytes.empty()) {
        c.bytes = bench::MakeDocument(c.size);
        c.patchedBytes = patchedForm(c.size, c.bytes);
        c.changedBytes = withUserChange(c.patchedBytes);
        c.undoneBytes = withUserChange(c.bytes);
        c.patchContent = bench::FindPatchContent(c.bytes, c.patchedBytes);
    }
}

// What one side of a contest does: its setup, outside the timed region, and the timed call.
struct Side {
    std::function<void()> setUp;
    std::function<bool()> run;
};

// An operation and its floor, each on files of its own, and the check of the operation's
// result once all iterations are done.
struct Contest {
    Side operation;
    Side floor;
    std::function<void()> check;
};

using ContestMaker = Contest (*)(const Case&, const CaseFiles& op, const CaseFiles& floor);

// Both sides must leave `which` holding `bytes`: the operation as it promises, the floor
// because a floor that wrote other bytes would not be doing the operation's job.
void expectBoth(const CaseFiles& op, const CaseFiles& floor, fs::path CaseFiles::*which,
                const std::string& bytes) {
    expectContent(op.*which, bytes);
    expectContent(floor.*which, bytes);
}

// The floors' building blocks, in plain calls: nothing an operation could do less of.
bool scanFindsMarker(const CaseFiles& f, bool& valid) {
    return bench::CarriesMarker(bench::ReadFile(f.bindings), vexlor::kMarkerKey, valid);
}

bool readAndFindMarker(const CaseFiles& f) {
    bool valid = false;
    return scanFindsMarker(f, valid);
}

// An undo in place: `original` is the backup's document, or null without a backup.
void undoInPlace(const CaseFiles& f, const json& original, const bench::PatchContent& content) {
    json document = json::parse(bench::ReadFile(f.bindings));
    bench::UndoPatch(document, original, content);
    bench::ReplaceDurably(f.bindings, bench::OnDiskForm(document));
}

Contest atomicWrite(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    auto document = std::make_shared<json>(json::parse(c.bytes));
    layDown(op.bindings, c.bytes);
    layDown(floor.bindings, c.bytes);
    return {{[] {}, [=] { return vexlor::AtomicWriteJson(op.bindings, *document, quietLog); }},
            {[] {},
             [=] {
                 bench::ReplaceDurably(floor.bindings, bench::OnDiskForm(*document));
                 return true;
             }},
            [=, &c] { expectBoth(op, floor, &CaseFiles::bindings, c.bytes); }};
}

Contest patchFirst(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    return {{[=, &c] {
                 bench::RemoveIfPresent(op.backup);
                 layDown(op.bindings, c.bytes);
             },
             [=] { return patch(op); }},
            {[=, &c] {
                 bench::RemoveIfPresent(floor.backup);
                 layDown(floor.bindings, c.bytes);
             },
             [=, &c] {
                 const std::string original = bench::ReadFile(floor.bindings);
                 bench::ReplaceDurably(floor.backup, original);
                 json document = json::parse(original);
                 bench::ApplyPatch(document, c.patchContent);
                 bench::ReplaceDurably(floor.bindings, bench::OnDiskForm(document));
                 return true;
             }},
            [=, &c] {
                expectBoth(op, floor, &CaseFiles::bindings, c.patchedBytes);
                expectBoth(op, floor, &CaseFiles::backup, c.bytes);
            }};
}

Contest patchAlreadyPatched(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    layDown(op.bindings, c.patchedBytes);
    layDown(floor.bindings, c.patchedBytes);
    return {{[] {}, [=] { return patch(op); }},
            {[] {}, [=] { return readAndFindMarker(floor); }},
            [=, &c] { expectBoth(op, floor, &CaseFiles::bindings, c.patchedBytes); }};
}

Contest status(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    layDown(op.bindings, c.patchedBytes);
    layDown(floor.bindings, c.patchedBytes);
    return {{[] {},
             [=] {
                 return vexlor::InspectGenericHmdBindingsFile(op.dir).bindingsFile.state ==
                        vexlor::BindingsFileState::kPatched;
             }},
            {[] {}, [=] { return readAndFindMarker(floor); }},
            [=, &c] { expectBoth(op, floor, &CaseFiles::bindings, c.patchedBytes); }};
}

// The backup as users have it: made by the library's own patch, with the note it keeps of
// what it wrote. The floor's backup is only laid down: it needs no note.
void backUpByPatch(const Case& c, const CaseFiles& op) {
    layDown(op.bindings, c.bytes);
    if (!patch(op)) {
        throw std::runtime_error("the patch that makes the backup failed");
    }
    expectContent(op.backup, c.bytes);
}

Contest unpatchRestore(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    backUpByPatch(c, op);
    layDown(floor.backup, c.bytes);
    return {{[=, &c] { layDown(op.bindings, c.patchedBytes); }, [=] { return unpatch(op); }},
            {[=, &c] { layDown(floor.bindings, c.patchedBytes); },
             [=] {
                 const std::string original = bench::ReadFile(floor.backup);
                 // Read though not compared: the least a restore that must see the file can do.
                 const std::string current = bench::ReadFile(floor.bindings);
                 bench::ReplaceDurably(floor.bindings, original);
                 return !current.empty();
             }},
            [=, &c] {
                expectBoth(op, floor, &CaseFiles::bindings, c.bytes);
                expectBoth(op, floor, &CaseFiles::backup, c.bytes);
            }};
}

// The file changed after the patch and still carries the marker, so the backup may not come
// back whole: the patch's action sets take the backup's values and the user's change stays.
Contest unpatchUndo(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    backUpByPatch(c, op);
    layDown(floor.backup, c.bytes);
    return {{[=, &c] { layDown(op.bindings, c.changedBytes); }, [=] { return unpatch(op); }},
            {[=, &c] { layDown(floor.bindings, c.changedBytes); },
             [=, &c] {
                 undoInPlace(floor, json::parse(bench::ReadFile(floor.backup)), c.patchContent);
                 return true;
             }},
            [=, &c] {
                expectBoth(op, floor, &CaseFiles::bindings, c.undoneBytes);
                expectBoth(op, floor, &CaseFiles::backup, c.bytes);
            }};
}

Contest unpatchErase(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    // The documents are in the on-disk form, so erasing what the patch added gives back the
    // very bytes the patch started from.
    return {{[=, &c] { layDown(op.bindings, c.patchedBytes); }, [=] { return unpatch(op); }},
            {[=, &c] { layDown(floor.bindings, c.patchedBytes); },
             [=, &c] {
                 undoInPlace(floor, json(), c.patchContent);
                 return true;
             }},
            [=, &c] { expectBoth(op, floor, &CaseFiles::bindings, c.bytes); }};
}

void expectAbsent(const fs::path& file) {
    if (fs::exists(fs::symlink_status(file))) {
        throw std::runtime_error(file.string() + " was made by a dry run");
    }
}

Contest dryRunPatch(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    layDown(op.bindings, c.bytes);
    layDown(floor.bindings, c.bytes);
    return {{[] {},
             [=] {
                 return vexlor::PlanPatchGenericHmdBindingsFile(op.dir).decision ==
                        vexlor::PatchDecision::kPatch;
             }},
            {[] {},
             [=] {
                 bool valid = false;
                 return !scanFindsMarker(floor, valid) && valid;
             }},
            [=, &c] {
                expectBoth(op, floor, &CaseFiles::bindings, c.bytes);
                expectAbsent(op.backup);
            }};
}

Contest dryRunUnpatch(const Case& c, const CaseFiles& op, const CaseFiles& floor) {
    backUpByPatch(c, op);
    layDown(op.bindings, c.patchedBytes);
    layDown(floor.bindings, c.patchedBytes);
    layDown(floor.backup, c.bytes);
    return {{[] {},
             [=] {
                 return vexlor::PlanUnpatchGenericHmdBindingsFile(op.dir).decision ==
                        vexlor::UnpatchDecision::kRestore;
             }},
            {[] {},
             [=] {
                 const std::string original = bench::ReadFile(floor.backup);
                 return !original.empty() && !bench::ReadFile(floor.bindings).empty();
             }},
            [=, &c] { expectBoth(op, floor, &CaseFiles::bindings, c.patchedBytes); }};
}

struct Operation {
    const char* name;
    ContestMaker make;
};

const Operation kOperations[] = {
    {"atomic_write", atomicWrite},
    {"patch_first", patchFirst},
    {"patch_already_patched", patchAlreadyPatched},
    {"status", status},
    {"unpatch_restore", unpatchRestore},
    {"unpatch_undo", unpatchUndo},
    {"unpatch_erase", unpatchErase},
    {"dry_run_patch", dryRunPatch},
    {"dry_run_unpatch", dryRunUnpatch},
};

double timed(const Side& side, std::size_t* peakHeap) {
    side.setUp();
    bench::BeginPeakWindow();
    const Clock::time_point start = Clock::now();
    const bool succeeded = side.run();
    const Clock::time_point stop = Clock::now();
    if (peakHeap != nullptr) {
        *peakHeap = std::max(*peakHeap, bench::PeakInWindow());
    }
    if (!succeeded) {
        throw std::runtime_error("a timed call reported failure");
    }
    return std::chrono::duration<double>(stop - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One timing of each side is one load's accident; a verdict needs the median of several.
constexpr std::size_t kMinimumPairs = 5;

struct Pairs {
    std::vector<double> floorSeconds, ratios;
    std::size_t peakHeap = 0;
};

// Times the two sides one after the other, the first of them alternating from pair to pair.
double timePair(const Contest& contest, Pairs& pairs) {
    const bool operationFirst = pairs.ratios.size() % 2 == 0;
    double operation = 0, floor = 0;
    if (operationFirst) {
        operation = timed(contest.operation, &pairs.peakHeap);
        floor = timed(contest.floor, nullptr);
    } else {
        floor = timed(contest.floor, nullptr);
        operation = timed(contest.operation, &pairs.peakHeap);
    }
    pairs.floorSeconds.push_back(floor);
    pairs.ratios.push_back(operation / floor);
    return operation;
}

void runContest(benchmark::State& state, const Contest& contest, std::size_t fileBytes) {
    Pairs pairs;
    for (auto _ : state) {
        state.SetIterationTime(timePair(contest, pairs));
    }
    // A short run (the smoke run's) still gets its verdict from enough pairs.
    while (pairs.ratios.size() < kMinimumPairs) {
        timePair(contest, pairs);
    }
    contest.check();
    const std::vector<double>& floorSeconds = pairs.floorSeconds;
    const std::vector<double>& ratios = pairs.ratios;
    const std::size_t peakHeap = pairs.peakHeap;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileBytes));
    state.counters["file_bytes"] = static_cast<double>(fileBytes);
    state.counters["floor_seconds"] = median(floorSeconds);
    state.counters["paired_ratio"] = median(ratios);
    state.counters["pairs"] = static_cast<double>(ratios.size());
    state.counters["peak_heap_bytes"] = static_cast<double>(peakHeap);
}

void runCase(benchmark::State& state, Case* testCase, const Operation* operation) {
    try {
        prepare(*testCase);
        const std::string name = std::string(operation->name) + "-" + testCase->size;
        const CaseFiles op = freshCaseFiles(name);
        const CaseFiles floor = freshCaseFiles(name + "-floor");
        runContest(state, operation->make(*testCase, op, floor), testCase->bytes.size());
        // A memory file system may be small; only one case's files are kept at a time.
        fs::remove_all(op.dir);
        fs::remove_all(floor.dir);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

void registerCases(std::vector<Case>& cases) {
    for (Case& testCase : cases) {
        for (const Operation& operation : kOperations) {
            const std::string name = std::string(operation.name) + "/" + testCase.size;
            benchmark::RegisterBenchmark(name.c_str(), runCase, &testCase, &operation)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

// One side between callgrind toggles, dumped under `label`; a warm-up call first, so that
// neither side pays for first-call costs (lazy binding, first page faults).
void countOnce(const Side& side, const char* label) {
    side.setUp();
    side.run();
    side.setUp();
    CALLGRIND_TOGGLE_COLLECT;
    const bool succeeded = side.run();
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT(label);
    if (!succeeded) {
        throw std::runtime_error(std::string(label) + " reported failure");
    }
}

int runOnce(std::vector<Case>& cases, const std::string& which) {
    for (Case& testCase : cases) {
        for (const Operation& operation : kOperations) {
            if (which != std::string(operation.name) + "/" + testCase.size) {
                continue;
            }
            prepare(testCase);
            const CaseFiles op = freshCaseFiles(which.substr(0, which.find('/')));
            const CaseFiles floor = freshCaseFiles("floor");
            const Contest contest = operation.make(testCase, op, floor);
            countOnce(contest.operation, "operation");
            countOnce(contest.floor, "floor");
            fs::remove_all(op.dir);
            fs::remove_all(floor.dir);
            return 0;
        }
    }
    std::fprintf(stderr, "no case named %s\n", which.c_str());
    return 2;
}

void writeDocuments(const fs::path& dir) {
    fs::create_directories(dir);
    for (const std::string& size : bench::DocumentSizes()) {
        bench::WriteFileDurably(dir / (size + ".json"), bench::MakeDocument(size));
    }
}

// Takes this program's own flags out of argv, leaving the rest for Google Benchmark.
struct OwnFlags {
    fs::path workDir;
    fs::path documentsDir;
    std::string once;
};

OwnFlags takeOwnFlags(int& argc, char** argv) {
    const std::string_view kWorkDir = "--vexlor_dir=";
    const std::string_view kDocuments = "--vexlor_write_documents=";
    const std::string_view kOnce = "--vexlor_once=";
    OwnFlags flags;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, kWorkDir.size()) == kWorkDir) {
            flags.workDir = std::string(arg.substr(kWorkDir.size()));
        } else if (arg.substr(0, kDocuments.size()) == kDocuments) {
            flags.documentsDir = std::string(arg.substr(kDocuments.size()));
        } else if (arg.substr(0, kOnce.size()) == kOnce) {
            flags.once = std::string(arg.substr(kOnce.size()));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return flags;
}

}  // namespace

int main(int argc, char** argv) {
    const OwnFlags flags = takeOwnFlags(argc, argv);
    try {
        if (!flags.documentsDir.empty()) {
            writeDocuments(flags.documentsDir);
            return 0;
        }
        if (flags.workDir.empty()) {
            std::fprintf(stderr, "usage: %s --vexlor_dir=DIR [benchmark flags]\n", argv[0]);
            return 2;
        }
        workRoot = flags.workDir;
        fs::create_directories(workRoot);
        std::vector<Case> cases;
        for (const std::string& size : bench::DocumentSizes()) {
            Case testCase;
            testCase.size = size;
            cases.push_back(std::move(testCase));
        }
        if (!flags.once.empty()) {
            return runOnce(cases, flags.once);
        }
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
            return 2;
        }
        registerCases(cases);
        benchmark::AddCustomContext("vexlor_dir", workRoot.string());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vexlor_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
