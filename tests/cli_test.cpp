// vexlor-bindings as its users run it: a real process on real directories.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "run_process.h"
#include "test_support.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace vexlor::testing {
namespace {

using json = nlohmann::json;

const char* const kBindingsName = "vrcompositor_bindings_generic_hmd.json";
const char* const kBackupName = "vrcompositor_bindings_generic_hmd.json.vexlor_backup";
const char* const kLegacyBindingsName = "vrcompositor_bindings_lighthouse_hmd.json";
const char* const kLegacyProfileName = "lighthouse_hmd_profile.json";

const std::string kOriginal =
    "{\n"
    "    \"bindings\": {\n"
    "        \"/actions/main\": {\n"
    "            \"sources\": []\n"
    "        }\n"
    "    },\n"
    "    \"controller_type\": \"generic_hmd\"\n"
    "}";

ProcessResult Tool(const std::vector<std::string>& args, const fs::path& workingDir = {}) {
    return RunProcess(VEXLOR_BINDINGS_EXE, args, workingDir);
}

std::string Arg(const fs::path& path) {
    return path.u8string();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
    const std::vector<std::string> lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The status line that describes `what`, e.g. "backup" -> "backup: absent".
std::string LineAbout(const std::string& text, const std::string& what) {
    for (const std::string& line : Lines(text)) {
        if (line.rfind(what + ": ", 0) == 0) {
            return line;
        }
    }
    return "(no line about " + what + ")";
}

json StatusJson(const fs::path& dir) {
    const ProcessResult r = Tool({"status", Arg(dir), "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return json::parse(r.out);
}

// stat's timestamps to the nanosecond, which std::filesystem does not offer; ctime moves on
// every change to an entry, even one that puts the old mtime back. Empty where the system
// has no such times.
std::string PreciseTimes(const fs::path& path) {
#if !defined(_WIN32)
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return "stat failed";
    }
    std::ostringstream times;
    times << " atime " << st.st_atim.tv_sec << "." << st.st_atim.tv_nsec << " mtime "
          << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec << " ctime " << st.st_ctim.tv_sec << "."
          << st.st_ctim.tv_nsec;
    return times.str();
#else
    (void)path;
    return "";
#endif
}

std::string EntryPicture(const fs::path& path) {
    std::ostringstream picture;
    const fs::file_status status = fs::symlink_status(path);
    picture << path.filename().u8string() << " type " << static_cast<int>(status.type());
    if (fs::is_regular_file(status)) {
        picture << " size " << fs::file_size(path);
    }
    picture << " written " << fs::last_write_time(path).time_since_epoch().count()
            << PreciseTimes(path);
    return picture.str();
}

// The type, size and timestamps of `dir` and of each of `names` in it, found without
// reading any content or listing the directory (either could itself move an access time).
std::vector<std::string> MetadataPicture(const fs::path& dir,
                                         const std::vector<std::string>& names) {
    std::vector<std::string> pictures{EntryPicture(dir)};
    for (const std::string& name : names) {
        pictures.push_back(EntryPicture(dir / fs::u8path(name)));
    }
    return pictures;
}

std::string Patched(const fs::path& dir) {
    const ProcessResult r = Tool({"patch", Arg(dir), "--quiet"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ReadBytes(dir / kBindingsName);
}

TEST(CliPatch, PatchesAndTellsTheLibraryMessagesOnStandardErrorOnly) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, kOriginal);

    const ProcessResult r = Tool({"patch", Arg(dir.path())});

    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Vexlor[patch]: backed up original to " + Shown(dir / kBackupName) +
                         "\nVexlor[patch]: patched " + Shown(dir / kBindingsName) + "\n");
    EXPECT_EQ(ReadBytes(dir / kBackupName), kOriginal);
    EXPECT_TRUE(json::parse(ReadBytes(dir / kBindingsName)).value("vexlor_patched_v2", false));

    const ProcessResult again = Tool({"patch", Arg(dir.path())});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.err, "Vexlor[patch]: generic_hmd bindings already patched\n");
}

TEST(CliPatch, QuietAnywhereSilencesTheMessagesButNotTheOutcome) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, kOriginal);

    const ProcessResult patched = Tool({"--quiet", "patch", Arg(dir.path())});
    EXPECT_EQ(patched.exitCode, 0);
    EXPECT_EQ(patched.out, "");
    EXPECT_EQ(patched.err, "");
    EXPECT_TRUE(fs::exists(dir / kBackupName));

    const ProcessResult unpatched = Tool({"unpatch", "--quiet", Arg(dir.path())});
    EXPECT_EQ(unpatched.exitCode, 0);
    EXPECT_EQ(unpatched.err, "");
    EXPECT_EQ(ReadBytes(dir / kBindingsName), kOriginal);

    TempDir empty;
    const ProcessResult failed = Tool({"patch", Arg(empty.path()), "--quiet"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(Lines(failed.err).size(), 1u) << failed.err;
    EXPECT_EQ(failed.err.rfind("vexlor-bindings: patch failed: there is no ", 0), 0u) << failed.err;
}

// The tool as an unprivileged user, who meets the permission failures root never does.
ProcessResult ToolAsNobody(const std::vector<std::string>& args) {
    std::vector<std::string> line = {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                     VEXLOR_BINDINGS_EXE};
    line.insert(line.end(), args.begin(), args.end());
    return RunProcess("/usr/bin/setpriv", line);
}

// After the library's own line, unchanged, a failure ends with one plain line.
TEST(CliFailures, EndWithOnePlainLineAfterTheLibrarysOwn) {
    struct Case {
        const char* command;
        const char* bytes;  // nullptr: no bindings file
        fs::perms file, dir;
        bool asNobody;
        const char* what;
    };
    const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write;
    const fs::perms all = fs::perms::all,
                    open = fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write;
    const std::string deep = std::string(100, '[') + std::string(100, ']');
    const Case cases[] = {
        {"patch", nullptr, rw, open, false,
         "there is no vrcompositor_bindings_generic_hmd.json in the directory"},
        {"patch", "[1, 2]", rw, open, false, "the bindings file holds JSON, but not an object"},
        {"patch", " \n", rw, open, false, "the bindings file is empty"},
        {"patch", "{\"a\":", rw, open, false, "the bindings file is not JSON"},
        {"patch", deep.c_str(), rw, open, false,
         "the file is too large or too deeply nested for a bindings file"},
        {"patch", "{}", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, all,
         true, "the bindings file is read-only"},
        {"patch", "{}", all, open, true, "the bindings directory is not writable"},
        {"unpatch", "{\"vexlor_patched_v2\": true}",
         fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, all, true,
         "the bindings file is read-only"},
    };
#if defined(_WIN32)
    const bool setprivThere = false;  // wine would find the build machine's
#else
    const bool setprivThere = fs::exists("/usr/bin/setpriv");
#endif
    for (const Case& c : cases) {
        if (c.asNobody && !setprivThere) {
            continue;  // Windows, or a system without setpriv
        }
        TempDir dir;
        if (c.bytes != nullptr) {
            WriteBytes(dir / kBindingsName, c.bytes);
            fs::permissions(dir / kBindingsName, c.file);
        }
        fs::permissions(dir.path(), c.dir);
        const std::vector<std::string> args = {c.command, Arg(dir.path())};
        const ProcessResult r = c.asNobody ? ToolAsNobody(args) : Tool(args);
        fs::permissions(dir.path(), fs::perms::all);
        const std::vector<std::string> lines = Lines(r.err);
        EXPECT_EQ(r.exitCode, 1) << c.what << r.err;
        ASSERT_EQ(lines.size(), 2u) << c.what << r.err;
        EXPECT_EQ(lines[0].rfind(std::string("Vexlor["), 0), 0u) << r.err;
        EXPECT_EQ(lines[1].rfind(std::string("vexlor-bindings: ") + c.command +
                                     " failed: " + c.what + "; nothing was changed. ",
                                 0),
                  0u)
            << r.err;
        EXPECT_EQ(ListDir(dir.path()).size(), c.bytes != nullptr ? 1u : 0u) << c.what;
        if (c.bytes != nullptr) {
            EXPECT_EQ(ReadBytes(dir / kBindingsName), c.bytes) << c.what;
        }
    }
}

// A full disk, met for real on a small file system of its own.
TEST(CliFailures, AFullDiskIsSaidInPlainWords) {
    TempDir mountPoint;
    const std::string where = Arg(mountPoint.path());
    if (std::system(("mount -t tmpfs -o size=64k vexlor-full " + where + " 2>/dev/null").c_str())) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights)";
    }
    WriteBytes(mountPoint / kBindingsName, "{\"pad\": \"" + std::string(40000, 'x') + "\"}");
    const ProcessResult r = Tool({"patch", where, "--quiet"});
    std::system(("umount " + where).c_str());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("vexlor-bindings: patch failed: the disk is full; the bindings file was "
                          "not changed. Free some space and try again.\n",
                          0),
              0u)
        << r.err;
}

TEST(CliFailures, AnUnparsableBackupStopsTheUndoInPlace) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, "{\"vexlor_patched_v2\": true, \"mine\": 1}");
    WriteBytes(dir / kBackupName, "{");
    const ProcessResult r = Tool({"unpatch", Arg(dir.path()), "--quiet"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "vexlor-bindings: unpatch failed: the backup does not parse, so there is no "
              "original to go back to; nothing was changed. Repair or remove the backup, "
              "then run unpatch again.\n");
}

TEST(CliUnpatch, RestoresTheOriginalAndExitsZeroWhenThereIsNothingToDo) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, kOriginal);
    Patched(dir.path());

    const ProcessResult r = Tool({"unpatch", Arg(dir.path())});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Vexlor[unpatch]: restored " + Shown(dir / kBindingsName) + " from " +
                         Shown(dir / kBackupName) + "\n");
    EXPECT_EQ(ReadBytes(dir / kBindingsName), kOriginal);

    TempDir empty;
    const ProcessResult nothing = Tool({"unpatch", Arg(empty.path())});
    EXPECT_EQ(nothing.exitCode, 0);
    EXPECT_EQ(nothing.err, "Vexlor[unpatch]: target missing at " + Shown(empty / kBindingsName) +
                               " (nothing to do)\n");
}

TEST(CliUnpatch, ExitsOneWhenTheFileCannotBeParsed) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, "{ not json");
    const ProcessResult r = Tool({"unpatch", Arg(dir.path())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Vexlor[unpatch]: failed to parse " + Shown(dir / kBindingsName), 0), 0u)
        << r.err;
    EXPECT_EQ(ReadBytes(dir / kBindingsName), "{ not json");
}

TEST(CliStatus, FollowsAPatchAndAnUnpatch) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, kOriginal);
    const std::string original =
        "directory: " + Shown(dir.path()) +
        "\n"
        "bindings file: not patched\n"
        "backup: absent\n"
        "temporary file: absent\n"
        "backup temporary file: absent\n"
        "legacy profile vrcompositor_bindings_lighthouse_hmd.json: absent\n"
        "legacy profile lighthouse_hmd_profile.json: absent\n";
    const ProcessResult before = Tool({"status", Arg(dir.path())});
    EXPECT_EQ(before.exitCode, 0);
    EXPECT_EQ(before.out, original);
    EXPECT_EQ(before.err, "");

    Patched(dir.path());
    const ProcessResult patched = Tool({"status", Arg(dir.path())});
    EXPECT_EQ(patched.exitCode, 0);
    EXPECT_EQ(LineAbout(patched.out, "bindings file"),
              "bindings file: patched (vexlor_patched_v2)");
    EXPECT_EQ(LineAbout(patched.out, "backup"),
              "backup: present, " + std::to_string(kOriginal.size()) + " bytes");

    ASSERT_EQ(Tool({"unpatch", Arg(dir.path()), "--quiet"}).exitCode, 0);
    const ProcessResult unpatched = Tool({"status", Arg(dir.path())});
    EXPECT_EQ(unpatched.exitCode, 0);
    EXPECT_EQ(LineAbout(unpatched.out, "bindings file"), "bindings file: not patched");
    // The backup stays: it is the only copy of the original that no write ever touches.
    EXPECT_EQ(LineAbout(unpatched.out, "backup"),
              "backup: present, " + std::to_string(kOriginal.size()) + " bytes");
}

TEST(CliStatus, NamesEveryStateOfTheBindingsFile) {
    struct Case {
        std::string content;
        std::string expectedLine;
        std::string expectedState;
    };
    const Case cases[] = {
        {"{\"vexlor_patched_v1\": true}",
         "bindings file: patched by an older release "
         "(vexlor_patched_v1)",
         "patched_legacy"},
        {"{\"vexlor_patched_v2\": \"yes\"}", "bindings file: not patched", "not_patched"},
        {"[1, 2]", "bindings file: not a JSON object (array)", "not_object"},
        {"\"text\"", "bindings file: not a JSON object (string)", "not_object"},
        {"null", "bindings file: not patched (null, which the patch makes an object)",
         "not_patched"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / kBindingsName, c.content);
        const ProcessResult r = Tool({"status", Arg(dir.path())});
        EXPECT_EQ(r.exitCode, 0) << c.content;
        EXPECT_EQ(LineAbout(r.out, "bindings file"), c.expectedLine) << c.content;
        EXPECT_EQ(StatusJson(dir.path())["bindings_file"]["state"], c.expectedState) << c.content;
    }
    TempDir holdsNull;  // named patchable because the patch does take it
    WriteBytes(holdsNull / kBindingsName, "null");
    EXPECT_EQ(StatusJson(holdsNull.path())["bindings_file"]["type"], "null");
    EXPECT_EQ(Tool({"patch", Arg(holdsNull.path())}).exitCode, 0);
}

TEST(CliStatus, TellsUnreadableFromNotJson) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, "{\"a\": 1 // comment\n}");
    const ProcessResult notJson = Tool({"status", Arg(dir.path())});
    EXPECT_EQ(notJson.exitCode, 0);
    EXPECT_EQ(LineAbout(notJson.out, "bindings file").rfind("bindings file: not JSON: ", 0), 0u)
        << notJson.out;
    const json notJsonFacts = StatusJson(dir.path())["bindings_file"];
    EXPECT_EQ(notJsonFacts["state"], "not_json");
    EXPECT_NE(notJsonFacts.value("detail", ""), "");

    // A directory where the file should be cannot be read as one.
    fs::remove(dir / kBindingsName);
    fs::create_directory(dir / kBindingsName);
    const ProcessResult directory = Tool({"status", Arg(dir.path())});
    EXPECT_EQ(directory.exitCode, 0);
    EXPECT_EQ(LineAbout(directory.out, "bindings file").rfind("bindings file: not readable: ", 0),
              0u)
        << directory.out;
    EXPECT_EQ(StatusJson(dir.path())["bindings_file"]["state"], "not_readable");

    // Over the size limit: refused before a byte is read, so a sparse file is enough.
    fs::remove(dir / kBindingsName);
    WriteBytes(dir / kBindingsName, "");
    fs::resize_file(dir / kBindingsName, (std::uintmax_t{64} << 20) + 1);
    const ProcessResult huge = Tool({"status", Arg(dir.path())});
    EXPECT_EQ(LineAbout(huge.out, "bindings file"),
              "bindings file: not readable: larger than 64 MiB, more than any bindings file holds");
}

TEST(CliStatus, ReportsAFileItMayNotOpenAsNotReadable) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, kOriginal);
    fs::permissions(dir / kBindingsName, fs::perms::none);
    if (std::ifstream(dir / kBindingsName).is_open()) {
        GTEST_SKIP() << "file permissions do not keep this user out (privileged user or a "
                        "system without them)";
    }
    const ProcessResult r = Tool({"status", Arg(dir.path())});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(LineAbout(r.out, "bindings file").rfind("bindings file: not readable: ", 0), 0u)
        << r.out;
}

TEST(CliStatus, ReportsLeftoverTemporaryFilesAndLegacyProfiles) {
    TempDir dir;
    WriteBytes(dir / (std::string(kBindingsName) + ".vexlor_tmp"), "{\"half");
    WriteBytes(dir / (std::string(kBackupName) + ".vexlor_tmp"), "x");
    WriteBytes(dir / (std::string(kBindingsName) + ".vexlor_cleanup"), "");
    WriteBytes(dir / kLegacyBindingsName, "{\"vexlor_patched_v1\": true}");
    WriteBytes(dir / kLegacyProfileName, "{\"vexlor_patched_v1\": false}");

    const ProcessResult r = Tool({"status", Arg(dir.path())});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "directory: " + Shown(dir.path()) +
                         "\n"
                         "bindings file: missing\n"
                         "backup: absent\n"
                         "temporary file: present, 6 bytes\n"
                         "backup temporary file: present, 1 byte\n"
                         "cleanup owed: present, 0 bytes\n"
                         "legacy profile vrcompositor_bindings_lighthouse_hmd.json: ours "
                         "(vexlor_patched_v1); unpatch leaves it now: it removes legacy profiles "
                         "only after it restores or undoes the bindings file\n"
                         "legacy profile lighthouse_hmd_profile.json: not ours\n");

    WriteBytes(dir / kLegacyProfileName, "{\"vexlor_patched_v2\": true}");
    EXPECT_TRUE(HasLine(Tool({"status", Arg(dir.path())}).out,
                        "legacy profile lighthouse_hmd_profile.json: ours (vexlor_patched_v2); "
                        "unpatch leaves it now: it removes legacy profiles only after it restores "
                        "or undoes the bindings file"));
}

TEST(CliStatus, JsonHoldsTheSameFacts) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, kOriginal);
    Patched(dir.path());
    WriteBytes(dir / kLegacyProfileName, "{}");

    const ProcessResult r = Tool({"status", "--json", Arg(dir.path())});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one object on one line";
    const json facts = json::parse(r.out);
    EXPECT_EQ(facts["format_version"], 1);
    EXPECT_EQ(facts["directory"], Arg(dir.path()));
    EXPECT_EQ(facts["directory_state"], "directory");
    EXPECT_EQ(facts["bindings_file"],
              json({{"state", "patched"}, {"marker", "vexlor_patched_v2"}}));
    EXPECT_EQ(facts["backup"], json({{"state", "present"}, {"size", kOriginal.size()}}));
    EXPECT_EQ(facts["temporary_file"], json({{"state", "absent"}}));
    EXPECT_EQ(facts["backup_temporary_file"], json({{"state", "absent"}}));
    EXPECT_FALSE(facts.contains("cleanup_owed")) << "said only when there";
    EXPECT_EQ(facts["legacy_profiles"], json({{kLegacyBindingsName, {{"state", "absent"}}},
                                              {kLegacyProfileName, {{"state", "not_ours"}}}}));
}

#if !defined(_WIN32)
// A POSIX name is any bytes; what status prints about it must still be text a parser takes.
TEST(CliStatus, JsonShowsANameThatIsNotUtf8AsValidText) {
    TempDir parent;
    const fs::path dir = parent / "bindings\xFF";
    fs::create_directory(dir);
    const ProcessResult r = Tool({"status", "--json", dir.native()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["directory"], parent.path().native() + "/bindings\uFFFD");
}
#endif

TEST(CliStatus, ChangesNothingInTheDirectory) {
    TempDir dir;
    const std::map<std::string, std::string> files = {
        {kBindingsName, "{\"vexlor_patched_v2\": true, \"bindings\": {}}"},
        {kBackupName, kOriginal},
        {std::string(kBindingsName) + ".vexlor_tmp", "{\"half"},
        {std::string(kBackupName) + ".vexlor_tmp", "{"},
        {kLegacyBindingsName, "{\"vexlor_patched_v1\": true}"},
        {kLegacyProfileName, "not json"},
        {"unrelated.json", "{}"},
    };
    for (const auto& [name, bytes] : files) {
        WriteBytes(dir / name, bytes);
    }
    fs::create_directory(dir / "subdir");
    const std::vector<std::string> names = ListDir(dir.path());
    const std::vector<std::string> before = MetadataPicture(dir.path(), names);

    EXPECT_EQ(Tool({"status", Arg(dir.path())}).exitCode, 0);
    EXPECT_EQ(Tool({"status", Arg(dir.path()), "--json"}).exitCode, 0);

    EXPECT_EQ(MetadataPicture(dir.path(), names), before);
    EXPECT_EQ(ListDir(dir.path()), names);
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(ReadBytes(dir / name), bytes) << name;
    }
}

TEST(CliStatus, EveryCommandExitsOneForADirectoryThatIsNotThere) {
    TempDir dir;
    const fs::path missing = dir / "missing";
    WriteBytes(dir / "plain", "");
    for (const char* command : {"status", "patch", "unpatch"}) {
        const ProcessResult r = Tool({command, Arg(missing)});
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "vexlor-bindings: error: no such directory: " + Shown(missing) + "\n");
        EXPECT_FALSE(fs::exists(missing));

        const ProcessResult file = Tool({command, Arg(dir / "plain"), "--dry-run"});
        EXPECT_EQ(file.exitCode, std::string(command) == "status" ? 2 : 1) << command;
        const ProcessResult plain = Tool({command, Arg(dir / "plain")});
        EXPECT_EQ(plain.exitCode, 1) << command;
        EXPECT_EQ(plain.err, "vexlor-bindings: error: not a directory: " + Shown(dir / "plain") +
                                 "; name the folder that holds " + kBindingsName + "\n");
    }
    for (const auto& [path, state] :
         {std::pair{missing, "missing"}, {dir / "plain", "not_directory"}}) {
        const ProcessResult r = Tool({"status", "--json", Arg(path)});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(
            json::parse(r.out),
            json({{"format_version", 1}, {"directory", Shown(path)}, {"directory_state", state}}));
    }
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"plain"});
}

// The bindings file named instead of its folder means that folder, and the tool says so.
TEST(CliPaths, TakesTheBindingsFileForItsFolder) {
    TempDir parent;
    fs::create_directory(parent / "vr");
    WriteBytes(parent / "vr" / kBindingsName, kOriginal);
    const std::string given = Arg(fs::path("vr") / kBindingsName);
    const std::string note =
        "vexlor-bindings: " + given + " is the bindings file; using its folder vr\n";
    const ProcessResult status = Tool({"status", given, "--json"}, parent.path());
    EXPECT_EQ(status.err, note);
    EXPECT_EQ(json::parse(status.out)["directory"], "vr");
    const ProcessResult patched = Tool({"patch", given}, parent.path());
    EXPECT_EQ(patched.exitCode, 0);
    EXPECT_EQ(patched.err.rfind(note + "Vexlor[patch]: backed up original", 0), 0u) << patched.err;
    EXPECT_EQ(Tool({"unpatch", "-q", given}, parent.path()).err, "");
    EXPECT_EQ(ReadBytes(parent / "vr" / kBindingsName), kOriginal);
}

// Runs once platform::TryLockDirectory takes a real hold; skipped while it is a stub.
TEST(CliStatus, SaysWhenAnotherOperationHoldsTheDirectory) {
    TempDir dir;
    platform::DirectoryLock lock;
    ASSERT_FALSE(platform::TryLockDirectory(dir.path(), lock));
    if (!lock.held()) {
        GTEST_SKIP() << "the directory lock takes no hold yet";
    }
    EXPECT_TRUE(InspectGenericHmdBindingsFile(dir.path()).operationInProgress);
    const std::vector<std::string> lines = Lines(Tool({"status", Arg(dir.path())}).out);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1], "another operation: running");
    EXPECT_EQ(StatusJson(dir.path()).value("operation_in_progress", false), true);
}

TEST(CliPaths, AcceptsADirectoryRelativeToTheWorkingDirectory) {
    TempDir parent;
    fs::create_directory(parent / "bindings");
    WriteBytes(parent / "bindings" / kBindingsName, kOriginal);

    const ProcessResult patched = Tool({"patch", "bindings", "--quiet"}, parent.path());
    EXPECT_EQ(patched.exitCode, 0) << patched.err;
    EXPECT_TRUE(fs::exists(parent / "bindings" / kBackupName));

    const ProcessResult status = Tool({"status", "."}, parent / "bindings");
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(HasLine(status.out, "directory: .")) << status.out;
    EXPECT_TRUE(HasLine(status.out, "bindings file: patched (vexlor_patched_v2)")) << status.out;
}

TEST(CliPaths, HandlesANonAsciiDirectoryName) {
    TempDir parent;
    const fs::path dir = parent / fs::u8path(u8"R\u00e9glages \u65e5\u672c");
    fs::create_directory(dir);
    WriteBytes(dir / kBindingsName, kOriginal);

    const ProcessResult patched = Tool({"patch", Arg(dir)});
    EXPECT_EQ(patched.exitCode, 0) << patched.err;
    EXPECT_NE(patched.err.find(Shown(dir / kBindingsName)), std::string::npos) << patched.err;
    EXPECT_EQ(ReadBytes(dir / kBackupName), kOriginal);

    EXPECT_TRUE(HasLine(Tool({"status", Arg(dir)}).out, "directory: " + Arg(dir)));
    EXPECT_EQ(StatusJson(dir)["directory"], Arg(dir));
    EXPECT_EQ(Tool({"unpatch", Arg(dir), "--quiet"}).exitCode, 0);
    EXPECT_EQ(ReadBytes(dir / kBindingsName), kOriginal);
}

TEST(CliUsage, BadCommandLinesExitTwoWithTheUsageOnStandardError) {
    TempDir dir;
    const std::vector<std::vector<std::string>> badLines = {
        {},
        {"frobnicate", Arg(dir.path())},
        {"patch"},
        {"status", Arg(dir.path()), "extra"},
        {"patch", Arg(dir.path()), "--force"},
        {"status", Arg(dir.path()), "--wait", "1"},
        {"status", Arg(dir.path()), "--dry-run"},
        {"help", "frobnicate"},
        {"help", "patch", "extra"},
        {"--quiet"},
    };
    for (const std::vector<std::string>& args : badLines) {
        const ProcessResult r = Tool(args);
        const std::string shown = args.empty() ? "(no arguments)" : args[0];
        EXPECT_EQ(r.exitCode, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(r.err.rfind("vexlor-bindings: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("\nusage: vexlor-bindings patch   BINDINGS_DIR"), std::string::npos)
            << r.err;
    }
    EXPECT_TRUE(ListDir(dir.path()).empty());
}

TEST(CliUsage, DoubleDashLetsADirectoryStartWithADash) {
    TempDir parent;
    fs::create_directory(parent / "-odd");
    const ProcessResult r = Tool({"status", "--", "-odd"}, parent.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(HasLine(r.out, "directory: -odd"));
}

TEST(CliUsage, HelpAndVersionGoToStandardOutput) {
    const ProcessResult help = Tool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("usage: vexlor-bindings patch   BINDINGS_DIR", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
    for (const std::vector<std::string>& same : {std::vector<std::string>{"-h"}, {"help"}}) {
        EXPECT_EQ(Tool(same).out, help.out) << same[0];
    }
    for (const std::string command : {"patch", "unpatch", "status"}) {
        const ProcessResult own = Tool({"help", command});
        EXPECT_EQ(own.exitCode, 0);
        EXPECT_EQ(own.out.rfind("usage: vexlor-bindings " + command + " BINDINGS_DIR", 0), 0u);
        for (const std::vector<std::string>& form : {std::vector<std::string>{command, "--help"},
                                                     {command, "-h"},
                                                     {command, "/home/me/bindings", "-h"}}) {
            EXPECT_EQ(Tool(form).out, own.out) << command;
        }
    }

    const ProcessResult version = Tool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.err, "");
    const std::vector<std::string> lines = Lines(version.out);
    ASSERT_EQ(lines.size(), 1u) << version.out;
    EXPECT_EQ(lines[0].rfind("vexlor-bindings ", 0), 0u);
    const std::string number = lines[0].substr(std::string("vexlor-bindings ").size());
    EXPECT_FALSE(number.empty());
    EXPECT_EQ(number.find_first_not_of("0123456789."), std::string::npos) << number;
}

// Each short option does what its long form does; "help" explains itself too.
TEST(CliUsage, ShortOptionsAndHelpHelpMeanTheirLongForms) {
    TempDir dir;
    WriteBytes(dir / kBindingsName, kOriginal);
    const std::string d = Arg(dir.path());
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> pairs = {
        {{"-V"}, {"--version"}},
        {{"patch", "-n", d}, {"patch", "--dry-run", d}},
        {{"unpatch", d, "-n"}, {"unpatch", d, "--dry-run"}},
        {{"patch", "-q", d}, {"patch", "--quiet", d}},  // the second finds it already patched
    };
    for (const auto& [shortForm, longForm] : pairs) {
        const ProcessResult a = Tool(shortForm), b = Tool(longForm);
        EXPECT_EQ(a.exitCode, 0) << shortForm[0] << a.err;
        EXPECT_EQ(std::tie(a.exitCode, a.out, a.err), std::tie(b.exitCode, b.out, b.err))
            << shortForm[0];
    }
    EXPECT_EQ(ReadBytes(dir / kBackupName), kOriginal);
    EXPECT_EQ(Tool({"help", "help"}).out.rfind("usage: vexlor-bindings help [COMMAND]\n", 0), 0u);
}

// Replaces each "FILE" and "BACKUP" in `lines` with that file of `dir`, as the tool shows it.
std::string PlanText(const std::vector<std::string>& lines, const fs::path& dir) {
    std::string text;
    for (std::string line : lines) {
        for (const auto& [word, name] :
             {std::pair{"BACKUP", kBackupName}, {"FILE", kBindingsName}}) {
            if (const auto at = line.find(word); at != std::string::npos) {
                line.replace(at, std::string(word).size(), Shown(dir / name));
            }
        }
        text += line + "\n";
    }
    return text;
}

// A dry run holds no lock, changes no byte or timestamp, and names what the real run does.
TEST(CliDryRun, SaysWhatTheRealRunDoesAndChangesNothing) {
    struct Case {
        const char* command;
        const char* prepare;  // "patch": patched first; "edit": then changed by hand
        std::vector<std::string> plan;
        const char* realRunSays;
    };
    const Case cases[] = {
        {"patch",
         "",
         {"would save the original as BACKUP", "would add /actions/lasermouse",
          "would add /actions/lasermouse_secondary", "would add /actions/system",
          "would set vexlor_patched_v2", "would write FILE"},
         "Vexlor[patch]: patched "},
        {"patch", "patch", {"nothing to do: already patched"}, "already patched"},
        {"unpatch", "patch", {"would restore FILE from BACKUP"}, "Vexlor[unpatch]: restored "},
        {"unpatch",
         "edit",
         {"would undo the patch in place in FILE", "would restore /actions/system from the backup",
          "would remove /actions/lasermouse", "would remove /actions/lasermouse_secondary",
          "would remove vexlor_patched_v2", "would keep the backup BACKUP",
          "would remove legacy profile lighthouse_hmd_profile.json"},
         "undid the patch in place"},
        {"unpatch", "", {"nothing to do: FILE carries no Vexlor marker"}, "leaving alone"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / kBindingsName, kOriginal);
        if (std::string(c.prepare) != "") {
            Patched(dir.path());
        }
        if (std::string(c.prepare) == "edit") {
            json edited = json::parse(ReadBytes(dir / kBindingsName));
            edited["mine"] = 1;
            WriteBytes(dir / kBindingsName, edited.dump());
            WriteBytes(dir / kLegacyProfileName, "{\"vexlor_patched_v1\": true}");
            // A backup that had a set the patch replaced: the undo gives it that value again.
            WriteBytes(dir / kBackupName, R"({"bindings": {"/actions/system": {}}})");
        }
        const std::string bytes = ReadBytes(dir / kBindingsName);
        // Held before the picture: on Windows the lock is a file in the directory.
        platform::DirectoryLock lock;  // a dry run does not wait for it
        ASSERT_FALSE(platform::TryLockDirectory(dir.path(), lock));
        const std::vector<std::string> names = ListDir(dir.path());
        const std::vector<std::string> before = MetadataPicture(dir.path(), names);
        const ProcessResult dry = Tool({c.command, "--dry-run", Arg(dir.path())});
        EXPECT_EQ(dry.exitCode, 0) << dry.err;
        EXPECT_EQ(dry.out, PlanText(c.plan, dir.path()));
        EXPECT_EQ(MetadataPicture(dir.path(), names), before) << c.command << c.prepare;
        EXPECT_EQ(ReadBytes(dir / kBindingsName), bytes);
        lock = platform::DirectoryLock();

        const ProcessResult real = Tool({c.command, Arg(dir.path())});
        EXPECT_EQ(real.exitCode, 0) << real.err;
        EXPECT_NE(real.err.find(c.realRunSays), std::string::npos) << real.err;
    }
}

// Runs one step of a sequence in `dir`: a command of the tool, or what the runtime or a person
// does to the bindings file. `edited` learns the bytes an "edit" wrote.
ProcessResult RunStep(const std::string& step, const fs::path& dir, std::string& edited) {
    const fs::path file = dir / kBindingsName;
    if (step.rfind("write ", 0) == 0) {
        WriteBytes(file, step.substr(6));
    } else if (step == "drop marker" || step == "edit") {
        json doc = json::parse(ReadBytes(file));
        doc.erase("vexlor_patched_v2");
        if (step == "edit") {
            doc["vexlor_patched_v2"] = true;
            doc["bindings"]["/actions/system"]["sources"].push_back({{"path", "/user/mine"}});
        }
        WriteBytes(file, edited = doc.dump(4));
    } else if (step == "truncate") {
        WriteBytes(file, "");
    } else if (step == "legacy") {
        WriteBytes(dir / kLegacyProfileName, "{\"vexlor_patched_v1\": true}");
    } else if (step == "truncate, rewrite soon") {
        // A runtime that writes the file in place: empty for a moment, then whole again.
        const std::string whole = ReadBytes(file);
        WriteBytes(file, "");
        std::thread([file, whole] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            WriteBytes(file, whole);
        }).detach();
    } else {
        return Tool({step, Arg(dir)});
    }
    return {};
}

// What a runtime update, a lost marker, the older release, an edit inside the injected sets, a
// runtime caught writing and a legacy profile lead to: each sequence, run through the tool,
// ends with the right bindings file, the right kept files, exit status and closing words.
TEST(CliSequences, EndWithTheRightFilesStatusAndWords) {
    const std::string second = std::string(kBackupName) + ".2";
    const std::string copy = std::string(kBindingsName) + ".vexlor_before_undo";
    const std::string oldBytes = R"({"bindings": {"/actions/system": {"sources": ["OLD"]}}})";
    const std::string newBytes = R"({"bindings": {"/actions/system": {"sources": ["NEW"]}}})";
    const std::string olderRelease =
        R"({"bindings": {"/actions/system": 1}, "vexlor_patched_v1": true})";
    const std::string marked = "{\"vexlor_patched_v1\": true}";
    const std::string olderReleaseEdited =
        R"({"bindings": {}, "mine": 1, "vexlor_patched_v1": true})";
    struct Case {
        std::vector<std::string> steps;
        int exit;           // of the last step
        const char* bytes;  // the bindings file at the end ("EDITED": as edited); nullptr: none
        std::map<std::string, std::string>
            kept;          // every other file at the end ("EDITED": the edit)
        std::string says;  // a line of the last step's output, or part of one
    };
    const Case cases[] = {
        {{"write " + oldBytes, "patch", "write " + newBytes, "patch", "unpatch"},
         0,
         newBytes.c_str(),
         {{kBackupName, oldBytes}, {second, newBytes}},
         "restored "},
        {{"write " + kOriginal, "patch", "drop marker", "patch", "drop marker", "status"},
         0,
         "EDITED",
         {{kBackupName, kOriginal}},
         "bindings file: patched, marker missing (it holds the patch's action sets without "
         "vexlor_patched_v2)"},
        {{"write " + kOriginal, "patch", "drop marker", "unpatch"},
         0,
         kOriginal.c_str(),
         {{kBackupName, kOriginal}},
         "holds the patch's action sets without its marker; undoing it"},
        {{"write " + olderRelease, "patch", "unpatch", "unpatch", "status"},
         0,
         "{\n    \"bindings\": {}\n}",
         {{kBackupName, olderRelease}},
         "bindings file: not patched"},
        // Changed since the patch, with only the older release's marker: still undone.
        {{"write " + kOriginal, "patch", "write " + olderReleaseEdited, "unpatch"},
         0,
         "{\n    \"bindings\": {},\n    \"mine\": 1\n}",
         {{kBackupName, kOriginal}},
         "undid the patch in place"},
        {{"write " + kOriginal, "patch", "edit", "unpatch"},
         0,
         kOriginal.c_str(),
         {{kBackupName, kOriginal}, {copy, "EDITED"}},
         "the undo replaces the edits in /actions/system"},
        {{"write " + kOriginal, "patch", "truncate, rewrite soon", "unpatch"},
         0,
         kOriginal.c_str(),
         {{kBackupName, kOriginal}},
         "restored "},
        {{"write " + kOriginal, "patch", "truncate", "unpatch"},
         1,
         "",
         {{kBackupName, kOriginal}},
         "nothing was changed. Close the VR runtime first; if the file is then still empty or "
         "broken, "
         "the backup vrcompositor_bindings_generic_hmd.json.vexlor_backup holds the original: copy "
         "it back over the file."},
        {{"legacy", "status"},
         0,
         nullptr,
         {{kLegacyProfileName, marked}},
         "legacy profile lighthouse_hmd_profile.json: ours (vexlor_patched_v1); unpatch leaves it "
         "now: it removes legacy profiles only after it restores or undoes the bindings file"},
        {{"legacy", "unpatch"}, 0, nullptr, {{kLegacyProfileName, marked}}, "(nothing to do)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps.back() + " after " + c.steps[c.steps.size() - 2]);
        TempDir dir;
        std::string edited;
        ProcessResult last;
        for (const std::string& step : c.steps) {
            last = RunStep(step, dir.path(), edited);
        }
        EXPECT_EQ(last.exitCode, c.exit) << last.err;
        EXPECT_TRUE(HasLine(last.out, c.says) || last.err.find(c.says) != std::string::npos)
            << last.out << last.err;
        std::vector<std::string> expected;
        if (c.bytes != nullptr) {
            expected.push_back(kBindingsName);
            EXPECT_EQ(ReadBytes(dir / kBindingsName),
                      std::string(c.bytes) == "EDITED" ? edited : c.bytes);
        }
        for (const auto& [name, bytes] : c.kept) {
            expected.push_back(name);
            EXPECT_EQ(ReadBytes(dir / name), bytes == "EDITED" ? edited : bytes) << name;
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ListDir(dir.path()), expected);
    }
}

#if !defined(_WIN32)
// The help, the man page and the completion name the same commands and options.
TEST(CliDocs, ManPagesAndCompletionLoadAndKeepInStepWithTheHelp) {
    const fs::path source = VEXLOR_SOURCE_DIR;
    for (const char* page : {"man/vexlor-bindings.1", "man/vexlor-verify.1"}) {
        const ProcessResult man = RunProcess(
            "/usr/bin/man", {"--warnings", "-E", "UTF-8", "-l", "-Tutf8", Arg(source / page)});
        EXPECT_EQ(man.exitCode, 0) << page;
        EXPECT_EQ(man.err, "") << page;
        EXPECT_NE(man.out.find("User Commands"), std::string::npos) << page;
    }
    std::string manText = ReadBytes(source / "man/vexlor-bindings.1");
    manText.erase(std::remove(manText.begin(), manText.end(), '\\'), manText.end());
    const std::string completion = ReadBytes(source / "completion/vexlor-bindings.bash");
    const std::string help = Tool({"--help"}).out;
    std::istringstream words(help);
    for (std::string word; words >> word;) {
        const bool option = word.rfind("-", 0) == 0 && word.size() > 1 && word != "--";
        if (option || word == "patch" || word == "unpatch" || word == "status" || word == "help") {
            word.erase(word.find_last_not_of(",|") + 1);
            EXPECT_NE(manText.find(word), std::string::npos) << word;
            EXPECT_NE(completion.find(word), std::string::npos) << word;
        }
    }
    const ProcessResult loaded =
        RunProcess("/bin/bash", {"-c", "source \"$0\" && complete -p vexlor-bindings",
                                 Arg(source / "completion/vexlor-bindings.bash")});
    EXPECT_EQ(loaded.out, "complete -F _vexlor_bindings vexlor-bindings\n") << loaded.err;
}
#endif

// Memory running out mid-read is the one failure a user can provoke from outside; it must
// end in one line and status 1, never an abort.
TEST(CliErrors, AnExceptionEndsInOneLineAndStatusOne) {
    const fs::path shell = "/bin/sh";
    if (!fs::exists(shell)) {
        GTEST_SKIP() << "needs a POSIX shell to limit the program's memory";
    }
    const std::string limit = "ulimit -v 49152 && exec \"$0\" \"$@\"";
    const ProcessResult baseline =
        RunProcess(shell, {"-c", limit, VEXLOR_BINDINGS_EXE, "--version"});
    if (baseline.exitCode != 0) {
        GTEST_SKIP() << "the program cannot run under a memory limit here: " << baseline.err;
    }
    TempDir dir;
    WriteBytes(dir / kBindingsName, "");
    fs::resize_file(dir / kBindingsName, std::uintmax_t{60} << 20);

    const ProcessResult r =
        RunProcess(shell, {"-c", limit, VEXLOR_BINDINGS_EXE, "status", Arg(dir.path())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("vexlor-bindings: error: ", 0), 0u) << r.err;
}

}  // namespace
}  // namespace vexlor::testing
