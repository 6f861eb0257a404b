// Times every operation of the library, and the floors no crash-safe JSON rewrite can go
// below, on the same bytes: the I/O floor (read, write a sibling, flush it, rename) and the
// JSON floor (parse and serialize in memory). Each row also reports the most heap memory the
// operation held at once.
//
// Every iteration starts from the same files, laid down and flushed to storage outside the
// timed region, so that no timed operation pays for the setup's write-back. The timed region
// is measured by hand (UseManualTime) around the one call.
//
//   vexlor_bench --vexlor_dir=DIR [benchmark flags]    runs the cases in DIR
//   vexlor_bench --vexlor_write_documents=DIR          writes the documents to DIR and exits
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <vexlor/bindings.h>
#include <nlohmann/json.hpp>

#include "documents.h"
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
};

struct CaseFiles {
    fs::path dir;
    fs::path bindings;
    fs::path backup;
};

fs::path workRoot;

CaseFiles freshCaseFiles(const std::string& operation, const std::string& size) {
    CaseFiles files;
    files.dir = workRoot / (operation + "-" + size);
    fs::remove_all(files.dir);
    fs::create_directories(files.dir);
    files.bindings = files.dir / vexlor::kBindingsFileName;
    files.backup = files.bindings;
    files.backup += vexlor::kBackupSuffix;
    return files;
}

// Lays down `bytes` as the bindings file and flushes it and its directory, so the journal
// is clean when the timed call starts.
void layDown(const CaseFiles& files, std::string_view bytes) {
    bench::WriteFileDurably(files.bindings, bytes);
    bench::SyncDirectory(files.dir);
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
    const CaseFiles files = freshCaseFiles("prepare", size);
    layDown(files, bytes);
    if (!patch(files)) {
        throw std::runtime_error("cannot patch the " + size + " document");
    }
    std::string patched = bench::ReadFile(files.bindings);
    fs::remove_all(files.dir);
    return patched;
}

void prepare(Case& c) {
    if (c.bytes.empty()) {
        c.bytes = bench::MakeDocument(c.size);
        c.patchedBytes = patchedForm(c.size, c.bytes);
    }
}

// Times one call per iteration and keeps the largest heap peak of any of them.
class Meter {
  public:
    Meter(benchmark::State& state, std::size_t fileBytes) : state_(state), fileBytes_(fileBytes) {}

    template <typename Operation>
    void measure(const char* what, Operation&& operation) {
        bench::BeginPeakWindow();
        const Clock::time_point start = Clock::now();
        const bool succeeded = operation();
        const Clock::time_point stop = Clock::now();
        peakHeap_ = std::max(peakHeap_, bench::PeakInWindow());
        if (!succeeded) {
            throw std::runtime_error(std::string(what) + " reported failure");
        }
        state_.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }

    void report() {
        state_.SetBytesProcessed(static_cast<int64_t>(state_.iterations() * fileBytes_));
        state_.counters["file_bytes"] = static_cast<double>(fileBytes_);
        state_.counters["peak_heap_bytes"] = static_cast<double>(peakHeap_);
        state_.counters["peak_heap_per_file_byte"] =
            static_cast<double>(peakHeap_) / static_cast<double>(fileBytes_);
    }

  private:
    benchmark::State& state_;
    std::size_t fileBytes_;
    std::size_t peakHeap_ = 0;
};

using CaseBody = void (*)(benchmark::State&, const Case&, const CaseFiles&, Meter&);

void runCase(benchmark::State& state, Case* testCase, const std::string& operation, CaseBody body) {
    try {
        prepare(*testCase);
        const CaseFiles files = freshCaseFiles(operation, testCase->size);
        Meter meter(state, testCase->bytes.size());
        body(state, *testCase, files, meter);
        meter.report();
        // A memory file system may be small; only one case's files are kept at a time.
        fs::remove_all(files.dir);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

void atomicWrite(benchmark::State& state, const Case& c, const CaseFiles& files, Meter& meter) {
    const json document = json::parse(c.bytes);
    layDown(files, c.bytes);
    for (auto _ : state) {
        meter.measure("AtomicWriteJson",
                      [&] { return vexlor::AtomicWriteJson(files.bindings, document, quietLog); });
        bench::SyncDirectory(files.dir);
    }
    expectContent(files.bindings, c.bytes);
}

void patchFirst(benchmark::State& state, const Case& c, const CaseFiles& files, Meter& meter) {
    for (auto _ : state) {
        bench::RemoveIfPresent(files.backup);
        layDown(files, c.bytes);
        meter.measure("PatchGenericHmdBindingsFile", [&] { return patch(files); });
    }
    expectContent(files.bindings, c.patchedBytes);
    expectContent(files.backup, c.bytes);
}

void patchAlreadyPatched(benchmark::State& state, const Case& c, const CaseFiles& files,
                         Meter& meter) {
    layDown(files, c.patchedBytes);
    for (auto _ : state) {
        meter.measure("PatchGenericHmdBindingsFile", [&] { return patch(files); });
    }
    expectContent(files.bindings, c.patchedBytes);
}

void unpatchByRestore(benchmark::State& state, const Case& c, const CaseFiles& files,
                      Meter& meter) {
    bench::WriteFileDurably(files.backup, c.bytes);
    for (auto _ : state) {
        layDown(files, c.patchedBytes);
        meter.measure("UnpatchGenericHmdBindingsFile", [&] { return unpatch(files); });
    }
    expectContent(files.bindings, c.bytes);
}

void unpatchByErase(benchmark::State& state, const Case& c, const CaseFiles& files, Meter& meter) {
    for (auto _ : state) {
        layDown(files, c.patchedBytes);
        meter.measure("UnpatchGenericHmdBindingsFile", [&] { return unpatch(files); });
    }
    // The documents are in the on-disk form, so erasing what the patch added gives back the
    // very bytes the patch started from.
    expectContent(files.bindings, c.bytes);
}

void ioFloor(benchmark::State& state, const Case& c, const CaseFiles& files, Meter& meter) {
    layDown(files, c.bytes);
    for (auto _ : state) {
        meter.measure("the I/O floor", [&] {
            return bench::RewriteThroughSibling(files.bindings) == c.bytes.size();
        });
        bench::SyncDirectory(files.dir);
    }
}

void jsonFloor(benchmark::State& state, const Case& c, const CaseFiles& /*files*/, Meter& meter) {
    for (auto _ : state) {
        meter.measure("the JSON floor", [&] {
            const std::string serialized = json::parse(c.bytes).dump(4);
            benchmark::DoNotOptimize(serialized.data());
            return serialized.size() == c.bytes.size();
        });
    }
}

void registerCases(std::vector<Case>& cases) {
    struct Operation {
        const char* name;
        CaseBody body;
    };
    static const Operation kOperations[] = {
        {"atomic_write", atomicWrite},
        {"patch_first", patchFirst},
        {"patch_already_patched", patchAlreadyPatched},
        {"unpatch_restore", unpatchByRestore},
        {"unpatch_erase", unpatchByErase},
        {"floor_io", ioFloor},
        {"floor_json", jsonFloor},
    };
    for (Case& testCase : cases) {
        for (const Operation& operation : kOperations) {
            const std::string name = std::string(operation.name) + "/" + testCase.size;
            benchmark::RegisterBenchmark(name.c_str(), runCase, &testCase,
                                         std::string(operation.name), operation.body)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
        }
    }
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
};

OwnFlags takeOwnFlags(int& argc, char** argv) {
    const std::string_view kWorkDir = "--vexlor_dir=";
    const std::string_view kDocuments = "--vexlor_write_documents=";
    OwnFlags flags;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, kWorkDir.size()) == kWorkDir) {
            flags.workDir = std::string(arg.substr(kWorkDir.size()));
        } else if (arg.substr(0, kDocuments.size()) == kDocuments) {
            flags.documentsDir = std::string(arg.substr(kDocuments.size()));
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
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
            return 2;
        }
        workRoot = flags.workDir;
        fs::create_directories(workRoot);
        std::vector<Case> cases;
        for (const std::string& size : bench::DocumentSizes()) {
            cases.push_back({size, {}, {}});
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
