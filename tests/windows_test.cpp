// What only Windows does: wide-character paths, files held open without sharing, two kinds of
// directory separator, and the system's own message texts.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The header's ANSI/wide switch would rename the platform layer's ReplaceFile.
#undef ReplaceFile

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform.h"
#include "run_process.h"
#include "test_support.h"

namespace vexlor::testing {
namespace {

using nlohmann::json;

constexpr const char* kBindingsFile = "vrcompositor_bindings_generic_hmd.json";
const std::string kOriginal = R"({"bindings": {"/actions/main": {"sources": []}}})";

// Opens `file` the way a scanner or the compositor might, refusing every kind of sharing
// while the handle is open.
class ExclusiveLock {
  public:
    explicit ExclusiveLock(const fs::path& file)
        : handle_(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ~ExclusiveLock() { release(); }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void release() {
        if (held()) {
            ::CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

  private:
    HANDLE handle_;
};

// wine reimplements the Win32 API on Linux files, and a few of Windows' refusals are not part
// of it.
bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string systemText(DWORD code) {
    return platform::ErrorText(std::error_code(static_cast<int>(code), std::system_category()));
}

// `path` spelled with `separator` between all its parts.
fs::path withSeparators(const fs::path& path, wchar_t separator) {
    std::wstring text = path.native();
    std::replace(text.begin(), text.end(), L'\\', separator);
    std::replace(text.begin(), text.end(), L'/', separator);
    return fs::path(text);
}

json patchedMarkerOf(const fs::path& file) {
    return json::parse(ReadBytes(file)).value("vexlor_patched_v2", json());
}

TEST(WindowsPaths, NonAsciiBindingsDirectoryIsPatchedUnpatchedAndShownAsUtf8) {
    TempDir temp;
    const std::string dirName = u8"Bindungen-äöü-日本";
    const fs::path dir = temp / fs::u8path(dirName);
    fs::create_directory(dir);
    const fs::path file = dir / kBindingsFile;
    WriteBytes(file, kOriginal);
    const std::string fileText =
        temp.path().u8string() + "\\" + dirName + "\\" + std::string(kBindingsFile);

    CapturingLogger patchLog;
    ASSERT_TRUE(PatchGenericHmdBindingsFile(dir, patchLog.logger())) << patchLog.joined();
    EXPECT_EQ(Shown(file), fileText);
    EXPECT_EQ(patchLog.joined(), "Vexlor[patch]: backed up original to " + fileText +
                                     ".vexlor_backup\n" + "Vexlor[patch]: patched " + fileText +
                                     "\n");
    EXPECT_EQ(patchedMarkerOf(file), json(true));
    EXPECT_EQ(ReadBytes(dir / (std::string(kBindingsFile) + ".vexlor_backup")), kOriginal);

    CapturingLogger unpatchLog;
    ASSERT_TRUE(UnpatchGenericHmdBindingsFile(dir, unpatchLog.logger())) << unpatchLog.joined();
    EXPECT_EQ(unpatchLog.joined(),
              "Vexlor[unpatch]: restored " + fileText + " from " + fileText + ".vexlor_backup\n");
    EXPECT_EQ(ReadBytes(file), kOriginal);
}

TEST(WindowsPaths, MissingFileInNonAsciiDirectoryIsReportedAsUtf8) {
    TempDir temp;
    const fs::path dir = temp / fs::u8path(u8"Профиль-ß");
    fs::create_directory(dir);
    CapturingLogger log;
    EXPECT_FALSE(PatchGenericHmdBindingsFile(dir, log.logger()));
    EXPECT_EQ(log.joined(), "Vexlor[patch]: generic_hmd bindings missing at " +
                                temp.path().u8string() + u8"\\Профиль-ß\\" + kBindingsFile + "\n");
}

TEST(WindowsPaths, BackslashAndForwardSlashDirectoriesBothWork) {
    for (const wchar_t separator : {L'\\', L'/'}) {
        SCOPED_TRACE(separator == L'\\' ? "backslashes" : "forward slashes");
        TempDir temp;
        const fs::path dir = withSeparators(temp / "nested" / "bindings", separator);
        fs::create_directories(dir);
        WriteBytes(dir / kBindingsFile, kOriginal);

        CapturingLogger log;
        ASSERT_TRUE(PatchGenericHmdBindingsFile(dir, log.logger())) << log.joined();
        EXPECT_EQ(patchedMarkerOf(temp / "nested" / "bindings" / kBindingsFile), json(true));
        ASSERT_TRUE(UnpatchGenericHmdBindingsFile(dir, log.logger())) << log.joined();
        EXPECT_EQ(ReadBytes(temp / "nested" / "bindings" / kBindingsFile), kOriginal);
    }
}

// Through a real command line: a directory argument with a space and a trailing separator
// must reach the program intact, whichever separator it is spelled with.
TEST(WindowsPaths, CommandLineDirectoryArgumentsWithSpacesAndTrailingSeparators) {
    for (const wchar_t separator : {L'\\', L'/'}) {
        SCOPED_TRACE(separator == L'\\' ? "backslashes" : "forward slashes");
        TempDir temp;
        const fs::path dir = temp / "with space";
        fs::create_directory(dir);
        WriteBytes(dir / kBindingsFile, kOriginal);
        const std::string arg =
            withSeparators(dir, separator).u8string() + (separator == L'/' ? "/" : "\\");

        const ProcessResult patched = RunProcess(VEXLOR_BINDINGS_EXE, {"patch", arg, "--quiet"});
        EXPECT_EQ(patched.exitCode, 0) << patched.err;
        EXPECT_EQ(patchedMarkerOf(dir / kBindingsFile), json(true));
        const ProcessResult unpatched =
            RunProcess(VEXLOR_BINDINGS_EXE, {"unpatch", arg, "--quiet"});
        EXPECT_EQ(unpatched.exitCode, 0) << unpatched.err;
        EXPECT_EQ(ReadBytes(dir / kBindingsFile), kOriginal);
    }
}

TEST(WindowsPaths, DisplayPathReplacesLoneSurrogates) {
    const std::wstring broken = {L'a', static_cast<wchar_t>(0xD800), L'b'};
    EXPECT_EQ(platform::DisplayPath(fs::path(broken)),
              "a\xEF\xBF\xBD"
              "b");
    const std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(platform::DisplayPath(fs::path(pair)), "\xF0\x9F\x98\x80");  // U+1F600
}

TEST(WindowsLocking, TargetHeldOpenWithoutSharingFailsTheRenameAndStaysUnchanged) {
    TempDir temp;
    const fs::path target = temp / "locked.json";
    WriteBytes(target, kOriginal);
    ExclusiveLock lock(target);
    ASSERT_TRUE(lock.held());

    CapturingLogger log;
    EXPECT_FALSE(AtomicWriteJson(target, json{{"n", 1}}, log.logger()));
    const std::string prefix = "Vexlor[patch]: rename to " + Shown(target) + " failed: ";
    const std::string sharing = prefix + systemText(ERROR_SHARING_VIOLATION) + "\n";
    const std::string denied = prefix + systemText(ERROR_ACCESS_DENIED) + "\n";
    EXPECT_TRUE(log.joined() == sharing || log.joined() == denied) << log.joined();
    EXPECT_EQ(log.messages().size(), 1u);

    lock.release();
    EXPECT_EQ(ReadBytes(target), kOriginal);
    EXPECT_EQ(ListDir(temp.path()), std::vector<std::string>{"locked.json"});
}

TEST(WindowsLocking, LockReleasedWhileRetryingLetsTheWriteSucceed) {
    TempDir temp;
    const fs::path target = temp / "briefly_locked.json";
    WriteBytes(target, kOriginal);
    ExclusiveLock lock(target);
    ASSERT_TRUE(lock.held());
    std::thread releaser([&lock] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        lock.release();
    });

    CapturingLogger log;
    const bool written = AtomicWriteJson(target, json{{"n", 1}}, log.logger());
    releaser.join();
    EXPECT_TRUE(written) << log.joined();
    EXPECT_EQ(log.joined(), "");
    EXPECT_EQ(ReadBytes(target), "{\n    \"n\": 1\n}");
    EXPECT_EQ(ListDir(temp.path()), std::vector<std::string>{"briefly_locked.json"});
}

TEST(WindowsLocking, ReadOnlyTargetIsRefusedWithoutChange) {
    if (runningUnderWine()) {
        GTEST_SKIP() << "wine renames over a read-only file, which Windows refuses";
    }
    TempDir temp;
    const fs::path target = temp / "readonly.json";
    WriteBytes(target, kOriginal);
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));

    CapturingLogger log;
    EXPECT_FALSE(AtomicWriteJson(target, json{{"n", 1}}, log.logger()));
    EXPECT_EQ(log.joined(), "Vexlor[patch]: rename to " + Shown(target) +
                                " failed: " + systemText(ERROR_ACCESS_DENIED) + "\n");
    EXPECT_EQ(ReadBytes(target), kOriginal);
    EXPECT_EQ(ListDir(temp.path()), std::vector<std::string>{"readonly.json"});
}

TEST(WindowsPlatform, ErrorTextIsTheSystemMessageWithoutLineEndOrFinalPeriod) {
    const std::string text = systemText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), '.') << text;
    EXPECT_NE(text, systemText(ERROR_ACCESS_DENIED));
}

TEST(WindowsPlatform, ErrorTextOfOtherCategoriesIsTheirMessage) {
    const std::error_code ec = std::make_error_code(std::errc::file_exists);
    EXPECT_EQ(platform::ErrorText(ec), ec.message());
}

TEST(WindowsPlatform, MoveNoReplaceRefusesAnExistingTargetAsFileExists) {
    TempDir temp;
    WriteBytes(temp / "from", "new");
    WriteBytes(temp / "to", "old");
    EXPECT_EQ(platform::MoveNoReplace(temp / "from", temp / "to"), std::errc::file_exists);
    EXPECT_EQ(ReadBytes(temp / "from"), "new");
    EXPECT_EQ(ReadBytes(temp / "to"), "old");

    EXPECT_FALSE(platform::MoveNoReplace(temp / "from", temp / "fresh"));
    EXPECT_EQ(ReadBytes(temp / "fresh"), "new");
    EXPECT_EQ(ListDir(temp.path()), (std::vector<std::string>{"fresh", "to"}));
}

TEST(WindowsPlatform, ReadWholeFileRefusesADirectoryClearly) {
    TempDir temp;
    std::string bytes;
    const std::error_code ec = platform::ReadWholeFile(temp.path(), 1024, bytes);
    EXPECT_EQ(ec, std::errc::is_a_directory);
    EXPECT_EQ(bytes, "");
}

TEST(WindowsPlatform, ReadWholeFileHoldsTheSizeLimit) {
    TempDir temp;
    WriteBytes(temp / "eleven", "0123456789A");
    std::string bytes;
    EXPECT_EQ(platform::ReadWholeFile(temp / "eleven", 10, bytes), std::errc::file_too_large);
    bytes.clear();
    EXPECT_FALSE(platform::ReadWholeFile(temp / "eleven", 11, bytes));
    EXPECT_EQ(bytes, "0123456789A");
}

TEST(WindowsPlatform, MissingFileIsReportedWithTheSystemMessage) {
    TempDir temp;
    std::string bytes;
    const std::error_code ec = platform::ReadWholeFile(temp / "absent", 10, bytes);
    EXPECT_EQ(ec.value(), static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(platform::ErrorText(ec), systemText(ERROR_FILE_NOT_FOUND));
}

TEST(WindowsPlatform, NewFileReplacesWhateverStoodAtThePath) {
    TempDir temp;
    WriteBytes(temp / "stale.tmp", "STALE_TMP_CONTENTS");
    EXPECT_FALSE(platform::WriteNewFileDurably(temp / "stale.tmp", "fresh", temp / "absent"));
    EXPECT_EQ(ReadBytes(temp / "stale.tmp"), "fresh");
}

}  // namespace
}  // namespace vexlor::testing
