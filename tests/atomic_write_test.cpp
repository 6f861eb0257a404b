#include <gtest/gtest.h>

#include "bindings_fixtures.h"
#include "os_traps.h"
#include "run_process.h"
#include "test_support.h"
#include "vexlor/bindings.h"

namespace vexlor::testing {
namespace {

namespace fs = std::filesystem;

struct AtomicTarget {
    TempDir dir;
    fs::path target = dir / "crashsafe_target.json";
    fs::path temp = dir / "crashsafe_target.json.vexlor_tmp";
    CapturingLogger log;

    bool write(const json& j) { return AtomicWriteJson(target, j, log.logger()); }
};

json HelloDocument() {
    json j;
    j["hello"] = "world";
    j["n"] = 42;
    return j;
}

// The on-disk form is what the compositor and every later run read back, so it is pinned
// byte for byte.
TEST(AtomicWriteJsonForm, HelloDocumentIsFourLinesWithoutFinalNewline) {
    AtomicTarget t;
    ASSERT_TRUE(t.write(HelloDocument()));
    const std::string bytes = ReadBytes(t.target);
    EXPECT_EQ(bytes, "{\n    \"hello\": \"world\",\n    \"n\": 42\n}");
    EXPECT_EQ(bytes.size(), 37u);
    EXPECT_EQ(json::parse(bytes), HelloDocument());
    EXPECT_TRUE(t.log.messages().empty());
    EXPECT_EQ(ListDir(t.dir.path()), std::vector<std::string>{"crashsafe_target.json"});
}

TEST(AtomicWriteJsonForm, EmptyObjectIsTwoCharacters) {
    AtomicTarget t;
    ASSERT_TRUE(t.write(json::object()));
    EXPECT_EQ(ReadBytes(t.target), "{}");
}

TEST(AtomicWriteJsonForm, KeysAreSortedByteWiseWhateverTheInsertionOrder) {
    AtomicTarget t;
    json j = json::object();
    j["zeta"] = 1;
    j["alpha"] = 2;
    j["_under"] = 3;
    j["Mid"] = 4;
    ASSERT_TRUE(t.write(j));
    EXPECT_EQ(ReadBytes(t.target),
              "{\n    \"Mid\": 4,\n    \"_under\": 3,\n    \"alpha\": 2,\n    \"zeta\": 1\n}");
}

TEST(AtomicWriteJsonForm, NestingIndentsFourSpacesPerLevelAndEmptyArraysStayShort) {
    AtomicTarget t;
    ASSERT_TRUE(t.write(json::parse(R"({"a": [], "b": [1, {"c": null}]})")));
    EXPECT_EQ(ReadBytes(t.target),
              "{\n"
              "    \"a\": [],\n"
              "    \"b\": [\n"
              "        1,\n"
              "        {\n"
              "            \"c\": null\n"
              "        }\n"
              "    ]\n"
              "}");
}

TEST(AtomicWriteJsonForm, NonAsciiTextIsWrittenAsRawUtf8) {
    AtomicTarget t;
    json j;
    j["name"] = "Gr\xC3\xBC\xC3\x9F\x65 \xE2\x9C\x93 \xF0\x9F\x8E\xAE";
    ASSERT_TRUE(t.write(j));
    EXPECT_EQ(ReadBytes(t.target),
              "{\n    \"name\": \"Gr\xC3\xBC\xC3\x9F\x65 \xE2\x9C\x93 \xF0\x9F\x8E\xAE\"\n}");
}

// Written through a fixed-size buffer: a document of many buffers' worth, ending mid-buffer,
// arrives byte for byte as the serializer makes it.
TEST(AtomicWriteJsonForm, DocumentOfManyBuffersIsWrittenWhole) {
    AtomicTarget t;
    json j;
    for (int i = 0; i < 30000; ++i) {
        j["set" + std::to_string(i)] = {{"path", "/user/hand/" + std::to_string(i)}, {"n", i}};
    }
    ASSERT_TRUE(t.write(j));
    EXPECT_EQ(ReadBytes(t.target), j.dump(4));
}

TEST(AtomicWriteJsonReplace, ReplacesAnExistingLongerTargetWhole) {
    AtomicTarget t;
    WriteBytes(t.target, std::string(5000, 'x'));
    ASSERT_TRUE(t.write(json::object()));
    EXPECT_EQ(ReadBytes(t.target), "{}");
}

TEST(AtomicWriteJsonReplace, StaleTemporaryFileIsReplacedAndConsumed) {
    AtomicTarget t;
    WriteBytes(t.temp, "STALE_TMP_CONTENTS");
    ASSERT_TRUE(t.write(HelloDocument()));
    EXPECT_EQ(ReadBytes(t.target), "{\n    \"hello\": \"world\",\n    \"n\": 42\n}");
    EXPECT_EQ(ListDir(t.dir.path()), std::vector<std::string>{"crashsafe_target.json"});
    EXPECT_TRUE(t.log.messages().empty());
}

// A link planted at the fixed temporary name must not make a (privileged) writer overwrite
// the file it points to.
TEST(AtomicWriteJsonReplace, SymlinkAtTheTemporaryPathLeavesItsTargetUntouched) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "symbolic links need privileges on Windows";
    }
    AtomicTarget t;
    const fs::path victim = t.dir / "victim";
    WriteBytes(victim, "precious");
    fs::create_symlink(victim, t.temp);
    ASSERT_TRUE(t.write(HelloDocument()));
    EXPECT_EQ(ReadBytes(victim), "precious");
    EXPECT_EQ(ReadBytes(t.target), "{\n    \"hello\": \"world\",\n    \"n\": 42\n}");
    EXPECT_FALSE(fs::exists(fs::symlink_status(t.temp)));
}

// The same link planted again between the clearing of the name and the open, as another
// process could: strace makes the clearing report success and leave the link, so only the
// open's own refusal to follow or reuse a name keeps the victim whole.
TEST(AtomicWriteJsonReplace, SymlinkPlantedAfterTheTemporaryPathIsClearedIsNotFollowed) {
    if (!HavePosixFiles() || !fs::exists("/usr/bin/strace")) {
        GTEST_SKIP() << "needs POSIX links and strace";
    }
    AtomicTarget t;
    const fs::path file = t.dir / kBindingsFileName;
    WriteBytes(file, "{}");
    const fs::path victim = t.dir / "victim";
    WriteBytes(victim, "precious");
    fs::create_symlink(victim, fs::path(file) += kTempSuffix);
    const ProcessResult r = RunProcess(
        "/usr/bin/strace", {"-f", "-qq", "-o", "/dev/null", "-e", "inject=unlink,unlinkat:retval=0",
                            VEXLOR_BINDINGS_EXE, "patch", t.dir.path().u8string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(ReadBytes(victim), "precious");
    EXPECT_EQ(ReadBytes(file), "{}");
}

TEST(AtomicWriteJsonReplace, DanglingSymlinkAtTheTemporaryPathCreatesNothingThroughIt) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "symbolic links need privileges on Windows";
    }
    AtomicTarget t;
    const fs::path wouldBeCreated = t.dir / "created_through_link";
    fs::create_symlink(wouldBeCreated, t.temp);
    ASSERT_TRUE(t.write(json::object()));
    EXPECT_FALSE(fs::exists(wouldBeCreated));
    EXPECT_EQ(ListDir(t.dir.path()), std::vector<std::string>{"crashsafe_target.json"});
}

// Replacing a private file must not make it world-readable.
TEST(AtomicWriteJsonReplace, TargetPermissionBitsAreKept) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "POSIX permission bits do not exist on Windows";
    }
    for (const fs::perms mode :
         {fs::perms::owner_read | fs::perms::owner_write,
          fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read}) {
        AtomicTarget t;
        WriteBytes(t.target, "{}");
        fs::permissions(t.target, mode);
        ASSERT_TRUE(t.write(HelloDocument()));
        EXPECT_EQ(PermissionBits(t.target), mode);
    }
}

TEST(AtomicWriteJsonFailure, MissingParentDirectoryFailsAtTheTemporaryFileAndCreatesNothing) {
    AtomicTarget t;
    const fs::path target = t.dir / "missing" / "target.json";
    EXPECT_FALSE(AtomicWriteJson(target, HelloDocument(), t.log.logger()));
    ASSERT_EQ(t.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(t.log.messages()[0],
                              "Vexlor[patch]: tmp write failed for " + Shown(target) + ": "));
    EXPECT_TRUE(ListDir(t.dir.path()).empty());
}

TEST(AtomicWriteJsonFailure, DirectoryAsTargetFailsAtTheRenameAndLeavesNoTemporaryFile) {
    AtomicTarget t;
    fs::create_directory(t.target);
    WriteBytes(t.target / "inside", "kept");
    EXPECT_FALSE(t.write(HelloDocument()));
    ASSERT_EQ(t.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(t.log.messages()[0],
                              "Vexlor[patch]: rename to " + Shown(t.target) + " failed: "));
    EXPECT_EQ(t.log.messages()[0].find(".vexlor_tmp"), std::string::npos);
    EXPECT_EQ(ListDir(t.dir.path()), std::vector<std::string>{"crashsafe_target.json"});
    EXPECT_EQ(ReadBytes(t.target / "inside"), "kept");
}

// Strict serialization refuses a string that is not UTF-8 before anything reaches the disk.
TEST(AtomicWriteJsonFailure, InvalidUtf8StringFailsAsATemporaryWriteAndKeepsTheTarget) {
    AtomicTarget t;
    WriteBytes(t.target, "old");
    WriteBytes(t.temp, "STALE_TMP_CONTENTS");
    json j;
    j["bad"] = "\xFF\xFE";
    EXPECT_FALSE(t.write(j));
    ASSERT_EQ(t.log.messages().size(), 1u);
    const std::string& message = t.log.messages()[0];
    EXPECT_TRUE(
        HasCauseAfter(message, "Vexlor[patch]: tmp write failed for " + Shown(t.target) + ": "));
    EXPECT_NE(message.find("type_error.316"), std::string::npos) << message;
    EXPECT_EQ(ReadBytes(t.target), "old");
    EXPECT_EQ(ListDir(t.dir.path()), std::vector<std::string>{"crashsafe_target.json"});
}

// An entry at the temporary name that cannot be removed must stop the write, not be
// written through.
TEST(AtomicWriteJsonFailure, DirectoryAtTheTemporaryPathFailsAndKeepsTheTarget) {
    AtomicTarget t;
    WriteBytes(t.target, "old");
    fs::create_directory(t.temp);
    WriteBytes(t.temp / "inside", "x");
    EXPECT_FALSE(t.write(HelloDocument()));
    ASSERT_EQ(t.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(t.log.messages()[0],
                              "Vexlor[patch]: tmp write failed for " + Shown(t.target) + ": "));
    EXPECT_EQ(ReadBytes(t.target), "old");
}

TEST(AtomicWriteJsonFailure, EmptyLoggerReportsTheSameResults) {
    AtomicTarget t;
    EXPECT_TRUE(AtomicWriteJson(t.target, HelloDocument(), Logger{}));
    EXPECT_FALSE(AtomicWriteJson(t.dir / "missing" / "x.json", HelloDocument(), Logger{}));
    fs::create_directory(t.dir / "dir_target");
    EXPECT_FALSE(AtomicWriteJson(t.dir / "dir_target", HelloDocument(), Logger{}));
    EXPECT_EQ(ListDir(t.dir.path()),
              (std::vector<std::string>{"crashsafe_target.json", "dir_target"}));
}

}  // namespace
}  // namespace vexlor::testing
