// What only Windows does: wide-character paths, files held open without sharing, two kinds of
// directory separator, and the system's own message texts.
#include "vexlor/support/windows_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "console_output.h"
#include "platform/platform.h"
#include "run_process.h"
#include "test_support.h"
#include "vexlor/support/utf8.h"

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

constexpr std::size_t npos = std::string::npos;

// Text a reader can take: valid UTF-8, every line ended.
bool isWholeLines(const std::string& text) {
    return ValidUtf8(text) == text && (text.empty() || text.back() == '\n');
}

// Starts `program` with `line` (its first word standing for the program) and our handles.
PROCESS_INFORMATION startProcess(const fs::path& program, std::wstring line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    EXPECT_TRUE(::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 nullptr, &startup, &started));
    return started;
}

// Another program holds `file` open without sharing from now on, `milliseconds` at most.
struct HeldByAnotherProgram {
    PROCESS_INFORMATION holder_{};
    HeldByAnotherProgram(const fs::path& file, int milliseconds) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        const HANDLE held = ::CreateEventW(&inheritable, TRUE, FALSE, nullptr);
        holder_ =
            startProcess(VEXLOR_FILE_HOLDER_EXE,
                         L"holder \"" + file.native() + L"\" " + std::to_wstring(milliseconds) +
                             L" " + std::to_wstring(reinterpret_cast<std::uintptr_t>(held)));
        const HANDLE either[] = {held, holder_.hProcess};
        EXPECT_EQ(::WaitForMultipleObjects(2, either, FALSE, 10000), WAIT_OBJECT_0);
        ::CloseHandle(held);
    }
    ~HeldByAnotherProgram() {
        ::TerminateProcess(holder_.hProcess, 0);
        EXPECT_EQ(::WaitForSingleObject(holder_.hProcess, 30000), WAIT_OBJECT_0);
        ::CloseHandle(holder_.hProcess);
        ::CloseHandle(holder_.hThread);
    }
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

// Each half that is not paired with its neighbour becomes U+FFFD; a whole pair stays.
TEST(WindowsPaths, DisplayPathReplacesLoneSurrogates) {
    constexpr wchar_t kHigh = 0xD83D, kLow = 0xDE00;
    const std::string kFace = "\xF0\x9F\x98\x80", kReplaced = "\xEF\xBF\xBD";  // U+1F600
    const std::vector<std::pair<std::wstring, std::string>> cases = {
        {{L'a', kHigh, L'b'}, "a" + kReplaced + "b"},
        {{kHigh, kLow}, kFace},
        {{kLow, kHigh}, kReplaced + kReplaced},
        {{L'a', kHigh}, "a" + kReplaced},
        {{kLow, L'a'}, kReplaced + "a"},
        {{kHigh, kHigh, kLow}, kReplaced + kFace},
        {{kHigh, kLow, kLow}, kFace + kReplaced},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(platform::DisplayPath(fs::path(cases[i].first)), cases[i].second) << "case " << i;
    }
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

    ExclusiveLock briefly(temp / "from");  // as a scanner looks at a freshly written file
    std::thread releaser([&briefly] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        briefly.release();
    });
    EXPECT_FALSE(platform::MoveNoReplace(temp / "from", temp / "fresh"));
    releaser.join();
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

TEST(WindowsPlatform, NewFileReplacesWhateverStoodAtThePathOnceItIsCleared) {
    TempDir temp;
    WriteBytes(temp / "stale.tmp", "STALE_TMP_CONTENTS");
    ASSERT_TRUE(::SetFileAttributesW((temp / "stale.tmp").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(platform::RemoveStaleEntry(temp / "stale.tmp"));
    EXPECT_FALSE(platform::WriteNewFileDurably(temp / "stale.tmp", "fresh", temp / "absent"));
    EXPECT_EQ(ReadBytes(temp / "stale.tmp"), "fresh");
}

// Four folders of 45 three-byte characters: a path past MAX_PATH, and a message past the
// 1023-byte buffer, cut at a character's end and given its line end back by the tool.
TEST(WindowsPaths, LongPathsWithAndWithoutThePrefixAndCutMessagesStayValidText) {
    TempDir temp;
    const std::wstring folder(45, L'\u8A2D');
    const fs::path dir = temp / folder / folder / folder / folder;
    fs::create_directories(dir);
    WriteBytes(dir / kBindingsFile, kOriginal);
    for (const std::wstring& spelling : {dir.native(), L"\\\\?\\" + dir.native()}) {
        const std::string arg = fs::path(spelling).u8string();
        const ProcessResult patched = runTool({"patch", arg}), status = runTool({"status", arg});
        const ProcessResult unpatched = runTool({"unpatch", arg});
        EXPECT_EQ(patched.exitCode + status.exitCode + unpatched.exitCode, 0) << unpatched.err;
        EXPECT_NE(status.out.find("\nbindings file: patched ("), npos);
        // The folder as people know it, whatever spelling reached the system.
        EXPECT_EQ(status.out.rfind("directory: " + dir.u8string() + "\n", 0), 0u) << status.out;
        EXPECT_EQ(json::parse(runTool({"status", "--json", arg}).out)["directory"], dir.u8string());
        EXPECT_EQ(patched.err.find("\\\\?\\"), npos) << patched.err;
        EXPECT_TRUE(isWholeLines(patched.err + status.out + unpatched.err));
        // "restored X from X.vexlor_backup", cut, on one line
        EXPECT_TRUE(unpatched.err.size() >= 1021 &&
                    unpatched.err.find('\n') == unpatched.err.size() - 1);
        EXPECT_EQ(ReadBytes(dir / kBindingsFile), kOriginal);
    }
}

// A hold shorter than a second is waited out by the reads of the file and of the backup; a
// longer one is reported in plain words, with the file unchanged.
TEST(WindowsLocking, FileHeldByAnotherProgramIsWaitedForOrReportedAsInUse) {
    const std::string backup = std::string(kBindingsFile) + ".vexlor_backup";
    for (const auto& [command, held, milliseconds] :
         {std::tuple("patch", kBindingsFile, 700), std::tuple("unpatch", backup.c_str(), 700),
          std::tuple("patch", kBindingsFile, 60000)}) {
        TempDir temp;
        WriteBytes(temp / kBindingsFile, kOriginal);
        ASSERT_EQ(runTool({"patch", temp.path().u8string()}).exitCode, 0);
        WriteBytes(temp / kBindingsFile, kOriginal);  // to be patched again, or restored
        auto holder = std::make_unique<HeldByAnotherProgram>(temp / held, milliseconds);
        const ProcessResult result = runTool({command, temp.path().u8string()});
        holder.reset();
        const bool refused = milliseconds > 1000;
        EXPECT_EQ(result.exitCode, refused ? 1 : 0) << result.err;
        EXPECT_EQ(ReadBytes(temp / kBindingsFile) == kOriginal, refused != (command[0] == 'u'));
        EXPECT_EQ(result.err.find(": the file is in use by another program\n") != npos, refused);
        EXPECT_EQ(result.err.find("vexlor-bindings: patch failed: another program holds the "
                                  "file; the bindings file was not changed. Close the VR") != npos,
                  refused);
    }
}

// Hidden, system and not-content-indexed stay (wine keeps no "not content indexed"); stale
// temporary files are ours by name and replaced even when read-only.
TEST(WindowsAttributes, AttributesSurvivePatchAndUnpatchAndStaleTemporaryFilesGiveWay) {
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const auto kept = [](const fs::path& path) {
        return ::GetFileAttributesW(path.c_str()) & kKept;
    };
    const auto plantReadOnly = [](fs::path stale) {
        WriteBytes(stale += ".vexlor_tmp", "STALE_TMP_CONTENTS");
        return ::SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_READONLY);
    };
    TempDir temp;
    const fs::path file = temp / kBindingsFile, backup = fs::path(file) += ".vexlor_backup";
    WriteBytes(file, kOriginal);
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), kKept) && plantReadOnly(file) &&
                plantReadOnly(backup));
    const DWORD had = kept(file);
    CapturingLogger log;
    EXPECT_TRUE(PatchGenericHmdBindingsFile(temp.path(), log.logger()) && plantReadOnly(file) &&
                UnpatchGenericHmdBindingsFile(temp.path(), log.logger()))
        << log.joined();
    EXPECT_TRUE((had & FILE_ATTRIBUTE_HIDDEN) && kept(file) == had && kept(backup) == had);
    EXPECT_EQ(ListDir(temp.path()),
              (std::vector<std::string>{kBindingsFile, backup.filename().string()}));
}

TEST(WindowsText, Utf16FilesAndBytesThatAreNoTextAreReportedAsValidUtf8) {
    const std::string utf16 = "not JSON: the file is UTF-16 text; the runtime reads UTF-8";
    for (const auto& [bytes, cause] : std::vector<std::pair<std::string, std::string>>{
             {std::string("\xFF\xFE{\0}\0", 6), utf16},
             {std::string("\xFE\xFF\0{\0}", 6), utf16},
             {std::string("{\0}\0", 4), utf16},
             {"{\"a\xFF\": 1}", "'\"a\xEF\xBF\xBD'"}}) {
        TempDir temp;
        WriteBytes(temp / kBindingsFile, bytes);
        const std::string shown = runTool({"status", temp.path().u8string()}).out +
                                  runTool({"patch", temp.path().u8string()}).err;
        EXPECT_TRUE(isWholeLines(shown)) << shown;
        EXPECT_NE(shown.find(cause), npos) << shown;
    }
}

// "C:" is the current directory of drive C, for status and patch alike; a lone surrogate
// would become U+FFFD and name another directory, so it is refused as a wrong command line.
TEST(WindowsArguments, BareDriveIsItsCurrentDirectoryAndALoneSurrogateIsRefused) {
    TempDir temp;
    WriteBytes(temp / kBindingsFile, kOriginal);
    const std::string drive = temp.path().root_name().u8string();
    EXPECT_EQ(runTool({"status", drive}, temp.path()).out.find("bindings file: not patched"),
              std::string("directory: " + temp.path().u8string() + "\\\n").size());
    EXPECT_EQ(runTool({"patch", drive, "--quiet"}, temp.path()).exitCode, 0);
    EXPECT_EQ(patchedMarkerOf(temp / kBindingsFile), json(true));

    // A low half, then a high one, both alone: "a\uFFFD\uFFFD" once converted.
    const fs::path replaced = temp / L"a\uFFFD\uFFFD";
    fs::create_directory(replaced);
    WriteBytes(replaced / kBindingsFile, kOriginal);
    const PROCESS_INFORMATION tool = startProcess(
        VEXLOR_BINDINGS_EXE, L"tool patch \"" + (temp / L"a").native() + L"\xDC00\xD800\"");
    DWORD exitCode = 0;
    EXPECT_EQ(::WaitForSingleObject(tool.hProcess, 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(::GetExitCodeProcess(tool.hProcess, &exitCode) && exitCode == 2) << exitCode;
    EXPECT_TRUE(::CloseHandle(tool.hProcess) && ::CloseHandle(tool.hThread));
    EXPECT_EQ(ReadBytes(replaced / kBindingsFile), kOriginal);
}

// "C:\my bindings\" reaches the program as C:\my bindings" and swallows the words after it.
TEST(WindowsArguments, AQuoteKeptByATrailingBackslashIsExplained) {
    TempDir temp;
    const std::string swallowed = temp.path().u8string() + "\" --json";
    const ProcessResult r = runTool({"status", swallowed});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("vexlor-bindings: argument 2 is " + swallowed +
                              " -- a backslash just before a closing quote keeps the quote",
                          0),
              0u)
        << r.err;
    EXPECT_NE(r.err.find("or double it (\"C:\\my bindings\\\\\")\nusage: "), npos) << r.err;
}

// A console is given UTF-16, whole characters only, even when a flush falls inside one.
TEST(WindowsConsoleOutput, ConsoleShowsEveryCharacter) {
    ::FreeConsole();
    const HANDLE screen =
        ::AllocConsole() ? ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                       CONSOLE_TEXTMODE_BUFFER, nullptr)
                         : INVALID_HANDLE_VALUE;
    // Without a display wine hands out a console handle that takes no writes (its mode cannot
    // be read), unless it runs its null graphics driver; what the test would read back from
    // that is its own initial text.
    DWORD mode = 0;
    if (screen == INVALID_HANDLE_VALUE || !::GetConsoleMode(screen, &mode)) {
        GTEST_SKIP() << "no working console here (wine needs its null graphics driver for one)";
    }
    const std::string name = u8"C:\\Users\\Дмитрий\\bindings";
    cli::ConsoleAwareBuffer buffer(screen);
    std::ostream out(&buffer);
    out << name.substr(0, 10) << std::flush << name.substr(10) << "\n\xFF!" << std::flush;
    const std::wstring expected = fs::u8path(name).native() + L"\uFFFD!";
    std::wstring shown(expected.size(), L'.');
    DWORD firstRow = 0, secondRow = 0;
    ::ReadConsoleOutputCharacterW(screen, shown.data(), static_cast<DWORD>(shown.size() - 2),
                                  {0, 0}, &firstRow);
    ::ReadConsoleOutputCharacterW(screen, &shown[shown.size() - 2], 2, {0, 1}, &secondRow);
    EXPECT_TRUE(out.good() && ::CloseHandle(screen) && ::FreeConsole());
    EXPECT_EQ(firstRow + secondRow, shown.size());
    EXPECT_EQ(shown, expected);
}

}  // namespace
}  // namespace vexlor::testing
