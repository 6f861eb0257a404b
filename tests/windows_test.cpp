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

#include "console_output.h"
#include "platform.h"
#include "run_process.h"
#include "test_support.h"
#include "utf8.h"

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

ProcessResult runTool(const std::vector<std::string>& args, const fs::path& workingDir = {}) {
    return RunProcess(VEXLOR_BINDINGS_EXE, args, workingDir);
}

// Text a reader can take: valid UTF-8, every line ended.
void expectWholeLines(const std::string& text) {
    EXPECT_EQ(ValidUtf8(text), text);
    EXPECT_TRUE(text.empty() || text.back() == '\n') << text;
}

// Another program holds `file` open without sharing for `milliseconds` from now on.
class HeldByAnotherProgram {
  public:
    HeldByAnotherProgram(const fs::path& file, int milliseconds) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        const HANDLE held = ::CreateEventW(&inheritable, TRUE, FALSE, nullptr);
        std::wstring line = L"\"" + fs::path(VEXLOR_FILE_HOLDER_EXE).native() + L"\" \"" +
                            file.native() + L"\" " + std::to_wstring(milliseconds) + L" " +
                            std::to_wstring(reinterpret_cast<std::uintptr_t>(held));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        EXPECT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &startup, &holder_));
        const HANDLE either[] = {held, holder_.hProcess};
        EXPECT_EQ(::WaitForMultipleObjects(2, either, FALSE, 10000), WAIT_OBJECT_0);
        ::CloseHandle(held);
    }
    ~HeldByAnotherProgram() {
        EXPECT_EQ(::WaitForSingleObject(holder_.hProcess, 30000), WAIT_OBJECT_0);
        ::CloseHandle(holder_.hProcess);
        ::CloseHandle(holder_.hThread);
    }

  private:
    PROCESS_INFORMATION holder_{};
};

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

TEST(WindowsPlatform, StaleEntryIsClearedEvenReadOnlyAndNeverWrittenOver) {
    TempDir temp;
    const fs::path stale = temp / "stale.tmp";
    WriteBytes(stale, "STALE_TMP_CONTENTS");
    ASSERT_TRUE(::SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(platform::WriteNewFileDurably(stale, "fresh", temp / "absent"));
    EXPECT_FALSE(platform::RemoveStaleEntry(stale));
    EXPECT_FALSE(platform::WriteNewFileDurably(stale, "fresh", temp / "absent"));
    EXPECT_EQ(ReadBytes(stale), "fresh");
}

// Four folders of 45 three-byte characters: a path past MAX_PATH, and messages past the
// 1023-byte buffer, cut at a character's end and given back their line end by the tool.
TEST(WindowsPaths, LongPathsWithAndWithoutThePrefixAndCutMessagesStayValidText) {
    TempDir temp;
    fs::path dir = temp.path();
    for (int level = 0; level < 4; ++level) {
        dir /= std::wstring(45, L'\u8A2D');
    }
    fs::create_directories(dir);
    WriteBytes(dir / kBindingsFile, kOriginal);
    for (const std::wstring& spelling : {dir.native(), L"\\\\?\\" + dir.native()}) {
        const std::string arg = fs::path(spelling).u8string();
        const ProcessResult patched = runTool({"patch", arg});
        const ProcessResult status = runTool({"status", arg});
        const ProcessResult unpatched = runTool({"unpatch", arg});
        EXPECT_EQ(patched.exitCode + status.exitCode + unpatched.exitCode, 0) << unpatched.err;
        EXPECT_NE(status.out.find("\nbindings file: patched (vexlor_patched_v2)\n"),
                  std::string::npos);
        // "restored X from X.vexlor_backup", cut within the last character that fits, one line
        EXPECT_GE(unpatched.err.size(), 1021u);
        EXPECT_EQ(unpatched.err.find('\n'), unpatched.err.size() - 1);
        for (const std::string& text : {patched.err, status.out, unpatched.err}) {
            expectWholeLines(text);
        }
        EXPECT_EQ(ReadBytes(dir / kBindingsFile), kOriginal);
    }
}

TEST(WindowsManifest, BothProgramsAskForLongPathsAndKeepTheUsersCodePage) {
    for (const fs::path program : {VEXLOR_BINDINGS_EXE, VEXLOR_VERIFY_EXE}) {
        const HMODULE image = ::LoadLibraryExW(
            program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(image, nullptr) << program;
        const HRSRC resource = ::FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        ASSERT_NE(resource, nullptr) << program;
        const std::string manifest(
            static_cast<const char*>(::LockResource(::LoadResource(image, resource))),
            ::SizeofResource(image, resource));
        EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                                "WindowsSettings\">true</longPathAware>"),
                  std::string::npos);
        EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);
        ::FreeLibrary(image);
    }
}

// A hold of half a second is waited out, by every read and by the backup's move; a longer one
// is reported in plain words, with the file unchanged.
TEST(WindowsLocking, FileHeldByAnotherProgramIsWaitedForOrReportedAsInUse) {
    struct Case {
        const char* command;
        std::string held;
        int milliseconds;
        int exitCode;
    };
    for (const Case& c : {Case{"patch", kBindingsFile, 500, 0},
                          Case{"unpatch", std::string(kBindingsFile) + ".vexlor_backup", 500, 0},
                          Case{"patch", kBindingsFile, 3000, 1}}) {
        SCOPED_TRACE(c.held);
        TempDir temp;
        WriteBytes(temp / kBindingsFile, kOriginal);
        if (std::string(c.command) == "unpatch") {
            ASSERT_EQ(runTool({"patch", temp.path().u8string()}).exitCode, 0);
        }
        const std::string before = ReadBytes(temp / kBindingsFile);
        ProcessResult result;
        {
            HeldByAnotherProgram holder(temp / c.held, c.milliseconds);
            result = runTool({c.command, temp.path().u8string()});
        }
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(ReadBytes(temp / kBindingsFile) == before, c.exitCode != 0);
        if (c.exitCode != 0) {
            EXPECT_EQ(result.err, "Vexlor[patch]: failed to parse " + Shown(temp / kBindingsFile) +
                                      ": the file is in use by another program\n");
        }
    }
}

TEST(WindowsPlatform, MoveNoReplaceWaitsForABriefHoldOnTheSource) {
    TempDir temp;
    WriteBytes(temp / "from", "new");
    ExclusiveLock lock(temp / "from");
    std::thread releaser([&lock] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        lock.release();
    });
    EXPECT_FALSE(platform::MoveNoReplace(temp / "from", temp / "to"));
    releaser.join();
    EXPECT_EQ(ListDir(temp.path()), std::vector<std::string>{"to"});
}

// wine keeps hidden and system, but not "not content indexed"; what the file had, it keeps.
TEST(WindowsAttributes, HiddenSystemAndNotIndexedSurvivePatchAndUnpatch) {
    constexpr DWORD kKeptByUs =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const auto kept = [](const fs::path& path) {
        return ::GetFileAttributesW(path.c_str()) & kKeptByUs;
    };
    TempDir temp;
    const fs::path file = temp / kBindingsFile;
    WriteBytes(file, kOriginal);
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), kKeptByUs));
    const DWORD had = kept(file);
    ASSERT_EQ(had & FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN);
    CapturingLogger log;
    ASSERT_TRUE(PatchGenericHmdBindingsFile(temp.path(), log.logger())) << log.joined();
    EXPECT_EQ(kept(file), had);
    EXPECT_EQ(kept(temp / (std::string(kBindingsFile) + ".vexlor_backup")), had);
    ASSERT_TRUE(UnpatchGenericHmdBindingsFile(temp.path(), log.logger())) << log.joined();
    EXPECT_EQ(kept(file), had);
    EXPECT_EQ(ReadBytes(file), kOriginal);
}

// A stale temporary file is ours by name: read-only, it is replaced all the same; held by
// another program, the message names it.
TEST(WindowsStaleFiles, ReadOnlyStaleTemporaryFilesAreReplacedAndAHeldOneIsNamed) {
    TempDir temp;
    const fs::path file = temp / kBindingsFile;
    const fs::path backup = temp / (std::string(kBindingsFile) + ".vexlor_backup");
    const auto plantReadOnly = [](const fs::path& stale) {
        WriteBytes(stale, "STALE_TMP_CONTENTS");
        ASSERT_TRUE(::SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_READONLY));
    };
    WriteBytes(file, kOriginal);
    plantReadOnly(fs::path(file) += ".vexlor_tmp");
    plantReadOnly(fs::path(backup) += ".vexlor_tmp");
    CapturingLogger log;
    EXPECT_TRUE(PatchGenericHmdBindingsFile(temp.path(), log.logger())) << log.joined();
    plantReadOnly(fs::path(file) += ".vexlor_tmp");
    EXPECT_TRUE(UnpatchGenericHmdBindingsFile(temp.path(), log.logger())) << log.joined();
    EXPECT_EQ(ListDir(temp.path()),
              (std::vector<std::string>{kBindingsFile, backup.filename().string()}));

    fs::remove(backup);
    WriteBytes(fs::path(backup) += ".vexlor_tmp", "STALE_TMP_CONTENTS");
    ExclusiveLock held(fs::path(backup) += ".vexlor_tmp");
    CapturingLogger refused;
    EXPECT_FALSE(PatchGenericHmdBindingsFile(temp.path(), refused.logger()));
    EXPECT_NE(refused.joined().find(Shown(fs::path(backup) += ".vexlor_tmp") +
                                    ": the file is in use by another program\n"),
              std::string::npos)
        << refused.joined();
}

TEST(WindowsText, Utf16FilesAndBytesThatAreNoTextAreReportedAsValidUtf8) {
    const std::string utf16 = "the file is UTF-16 text; the runtime reads UTF-8";
    for (const auto& [bytes, cause] :
         std::vector<std::pair<std::string, std::string>>{{std::string("\xFF\xFE{\0}\0", 6), utf16},
                                                          {std::string("\xFE\xFF\0{\0}", 6), utf16},
                                                          {std::string("{\0}\0", 4), utf16},
                                                          {"{\"a\xFF\": 1}", "\xEF\xBF\xBD"}}) {
        TempDir temp;
        WriteBytes(temp / kBindingsFile, bytes);
        const ProcessResult status = runTool({"status", temp.path().u8string()});
        const ProcessResult patched = runTool({"patch", temp.path().u8string()});
        EXPECT_NE(status.out.find("\nbindings file: not JSON: "), std::string::npos) << status.out;
        for (const std::string& text : {status.out, patched.err}) {
            expectWholeLines(text);
            EXPECT_NE(text.find(cause), std::string::npos) << text;
        }
    }
}

// Windows defines "C:" as the current directory of drive C; status and patch both take it so.
TEST(WindowsPaths, BareDriveNamesThatDrivesCurrentDirectory) {
    TempDir temp;
    WriteBytes(temp / kBindingsFile, kOriginal);
    const std::string drive = temp.path().root_name().u8string();
    ASSERT_EQ(drive.size(), 2u) << "the temporary directory is not on a drive";
    const ProcessResult status = runTool({"status", drive}, temp.path());
    EXPECT_EQ(status.out.substr(0, status.out.find('\n')),
              "directory: " + temp.path().u8string() + "\\");
    EXPECT_NE(status.out.find("\nbindings file: not patched\n"), std::string::npos) << status.out;
    EXPECT_EQ(runTool({"patch", drive, "--quiet"}, temp.path()).exitCode, 0);
    EXPECT_EQ(patchedMarkerOf(temp / kBindingsFile), json(true));
}

// The conversion would make U+FFFD of it, and so name another directory.
TEST(WindowsArguments, LoneSurrogateIsRefusedAsAWrongCommandLine) {
    TempDir temp;
    const fs::path replaced = temp / std::wstring(L"a\uFFFD");
    fs::create_directory(replaced);
    WriteBytes(replaced / kBindingsFile, kOriginal);
    for (const wchar_t half : {L'\xD800', L'\xDC00'}) {
        const std::wstring arg = (temp / L"a").native() + half;
        const ProcessResult result = RunProcessWide(VEXLOR_BINDINGS_EXE, {L"patch", arg});
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err.rfind("vexlor-bindings: argument 2 is not valid text: it holds half "
                                   "of a UTF-16 surrogate pair\nusage",
                                   0),
                  0u)
            << result.err;
    }
    EXPECT_EQ(ReadBytes(replaced / kBindingsFile), kOriginal);
}

// A console is given UTF-16, whole characters only, even when a flush falls inside one; a file
// is given the bytes as they are.
TEST(WindowsConsoleOutput, ConsoleShowsEveryCharacterAndAFileGetsTheBytes) {
    const std::string name = u8"C:\\Users\\Дмитрий\\bindings";
    const auto writeInTwoFlushes = [&name](HANDLE handle) {
        cli::ConsoleAwareBuffer buffer(handle);
        std::ostream out(&buffer);
        out << name.substr(0, 10) << std::flush << name.substr(10) << "\n\xFF" << std::flush;
        return out.good();
    };
    TempDir temp;
    const HANDLE file = ::CreateFileW((temp / "out").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_TRUE(writeInTwoFlushes(file));
    ::CloseHandle(file);
    EXPECT_EQ(ReadBytes(temp / "out"), name + "\n\xFF");

    ::FreeConsole();
    const HANDLE screen =
        ::AllocConsole() ? ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                       CONSOLE_TEXTMODE_BUFFER, nullptr)
                         : INVALID_HANDLE_VALUE;
    if (screen == INVALID_HANDLE_VALUE) {
        GTEST_SKIP() << "no console here (wine needs its null graphics driver for one)";
    }
    EXPECT_TRUE(writeInTwoFlushes(screen));
    std::wstring shown = fs::u8path(name).native() + L"?";
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(screen, shown.data(), static_cast<DWORD>(shown.size() - 1),
                                  {0, 0}, &read);
    ::ReadConsoleOutputCharacterW(screen, &shown.back(), 1, {0, 1}, &read);
    ::CloseHandle(screen);
    ::FreeConsole();
    EXPECT_EQ(shown, fs::u8path(name).native() + L"\uFFFD");
}

}  // namespace
}  // namespace vexlor::testing
