// Pathological bindings files: whatever their size, depth or shape, every operation ends in
// a message and a settled result, never a crash, a hang or a runaway write-back.
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>

#include <gtest/gtest.h>

#include "bindings_fixtures.h"
#include "json_file.h"
#include "legacy.h"
#include "os_traps.h"
#include "test_support.h"
#include "vexlor/bindings.h"

namespace vexlor::testing {
namespace {

namespace fs = std::filesystem;

// An object whose member "deep" nests arrays so that the whole document is `depth` levels
// deep, with `leaves` zeros in the innermost array.
std::string NestedObject(std::size_t depth, std::size_t leaves = 0) {
    std::string zeros;
    for (std::size_t i = 0; i < leaves; ++i) {
        zeros += i == 0 ? "0" : ",0";
    }
    return "{\"deep\":" + std::string(depth - 1, '[') + zeros + std::string(depth - 1, ']') + "}";
}

struct LimitsDir : BindingsDir {
    CapturingLogger log;

    bool patch() { return PatchGenericHmdBindingsFile(path(), log.logger()); }
    std::string parseFailurePrefix() const {
        return "Vexlor[patch]: failed to parse " + Shown(file) + ": ";
    }
    // The patch refused the file with a parse failure naming `cause`, and changed nothing.
    void expectRefused(const std::string& cause) {
        ASSERT_EQ(log.messages().size(), 1u);
        EXPECT_TRUE(HasCauseAfter(log.messages()[0], parseFailurePrefix()));
        EXPECT_NE(log.messages()[0].find(cause), std::string::npos) << log.messages()[0];
        EXPECT_EQ(entries(), std::vector<std::string>{NameOf(file)});
    }
};

TEST(LimitsDepth, DocumentAtTheDepthLimitIsPatched) {
    LimitsDir d;
    const std::string bytes = NestedObject(kMaxNestingDepth, 3);
    WriteBytes(d.file, bytes);
    EXPECT_TRUE(d.patch());
    EXPECT_EQ(json::parse(ReadBytes(d.file)), Patched(json::parse(bytes)));
}

TEST(LimitsDepth, DocumentOverTheDepthLimitIsRefusedByEveryOperation) {
    for (const std::size_t depth : {kMaxNestingDepth + 1, std::size_t{1000000}}) {
        SCOPED_TRACE(depth);
        LimitsDir d;
        const std::string bytes = NestedObject(depth);
        WriteBytes(d.file, bytes);
        EXPECT_FALSE(d.patch());
        d.expectRefused("nested deeper than 64 levels");
        EXPECT_EQ(ReadBytes(d.file), bytes);

        CapturingLogger unpatchLog;
        EXPECT_FALSE(UnpatchGenericHmdBindingsFile(d.path(), unpatchLog.logger()));
        ASSERT_EQ(unpatchLog.messages().size(), 1u);
        EXPECT_NE(unpatchLog.messages()[0].find("nested deeper than 64 levels"), std::string::npos);
    }
}

// A marker beside a subtree nested too deep must not make the cleanup take the file for
// ours: it cannot be read as a whole.
TEST(LimitsDepth, DeepLegacyFileIsNotTakenForOurs) {
    LimitsDir d;
    WriteBytes(d.lighthouseProfile, "{\"vexlor_patched_v1\":true,\"x\":" +
                                        std::string(100000, '[') + std::string(100000, ']') + "}");
    CleanupLegacyProfiles(d.path(), "lighthouse_hmd", d.log.logger());
    EXPECT_EQ(d.log.messages(),
              std::vector<std::string>{"Vexlor[unpatch]: " + Shown(d.lighthouseProfile) +
                                       " is not ours -- leaving alone\n"});
}

TEST(LimitsSize, FileOverTheSizeLimitIsRefusedWithoutReadingIt) {
    LimitsDir d;
    WriteBytes(d.file, "{}");
    fs::resize_file(d.file, kMaxFileBytes + 1);  // sparse: costs no disk and no time
    EXPECT_FALSE(d.patch());
    d.expectRefused("larger than 64 MiB");
    EXPECT_EQ(fs::file_size(d.file), kMaxFileBytes + 1);
}

// The size limit itself is still read: a marked legacy file padded to exactly the limit is
// recognised, one byte more is not.
TEST(LimitsSize, FileOfExactlyTheSizeLimitIsStillRead) {
    LimitsDir d;
    WriteBytes(d.lighthouseBindings, R"({"vexlor_patched_v1": true})");
    fs::resize_file(d.lighthouseBindings, kMaxFileBytes);
    WriteBytes(d.lighthouseProfile, R"({"vexlor_patched_v1": true})");
    fs::resize_file(d.lighthouseProfile, kMaxFileBytes + 1);
    CleanupLegacyProfiles(d.path(), "lighthouse_hmd", d.log.logger());
    EXPECT_EQ(
        d.log.messages(),
        (std::vector<std::string>{
            "Vexlor[unpatch]: removed " + Shown(d.lighthouseBindings) + "\n",
            "Vexlor[unpatch]: " + Shown(d.lighthouseProfile) + " is not ours -- leaving alone\n"}));
}

std::size_t WriteBudgetFor(std::size_t inputBytes) {
    return kWriteGrowthAllowance + kMaxWriteGrowthFactor * inputBytes;
}

// Compact input nested 60 levels deep costs four spaces per level on every line when
// pretty-printed: a small file would become a huge one.
TEST(LimitsGrowth, CompactDeepDocumentWhoseWriteBackWouldExplodeIsRefused) {
    LimitsDir d;
    const std::string bytes = NestedObject(60, 100000);
    ASSERT_GT(json::parse(bytes).dump(4).size(), WriteBudgetFor(bytes.size()));
    WriteBytes(d.file, bytes);
    EXPECT_FALSE(d.patch());
    d.expectRefused("grow out of proportion");
    EXPECT_EQ(ReadBytes(d.file), bytes);
}

// A minified file of realistic shape (many action sets) grows only a few times over.
TEST(LimitsGrowth, LargeMinifiedRealisticFileIsPatchedWithinTheBudget) {
    LimitsDir d;
    json doc = json::parse(kFixtureBytes);
    const json systemSet = InjectedActionSets()["/actions/system"];
    for (int i = 0; i < 2000; ++i) {
        const std::string set = "/actions/app" + std::to_string(i);
        doc["bindings"][set] = systemSet;
        doc["bindings"][set]["sources"][0]["path"] = "/user/hand/left/input/" + std::to_string(i);
    }
    const std::string bytes = doc.dump();
    WriteBytes(d.file, bytes);
    EXPECT_TRUE(d.patch());
    EXPECT_LE(fs::file_size(d.file), WriteBudgetFor(bytes.size()));
    EXPECT_EQ(json::parse(ReadBytes(d.file)), Patched(doc));
}

TEST(LimitsNumbers, OverflowingNumbersAreRefused) {
    for (const char* number : {"1e400", "-1e400", "123123e100000"}) {
        SCOPED_TRACE(number);
        LimitsDir d;
        WriteBytes(d.file, std::string("{\"n\": ") + number + "}");
        EXPECT_FALSE(d.patch());
        d.expectRefused("number overflow");
    }
}

TEST(LimitsNumbers, ExtremeButRepresentableNumbersSurviveThePatch) {
    LimitsDir d;
    WriteBytes(
        d.file,
        R"({"big": 18446744073709551615, "small": -9223372036854775808,)"
        R"( "huge": 123456789012345678901234567890, "tiny": 1e-320, "max": 1.7976931348623157e308})");
    ASSERT_TRUE(d.patch());
    const json result = json::parse(ReadBytes(d.file));
    EXPECT_EQ(result.at("big").get<std::uint64_t>(), 18446744073709551615u);
    EXPECT_EQ(result.at("small").get<std::int64_t>(), INT64_MIN);
    EXPECT_DOUBLE_EQ(result.at("huge").get<double>(), 1.2345678901234568e29);
    EXPECT_GT(result.at("tiny").get<double>(), 0.0);
    EXPECT_DOUBLE_EQ(result.at("max").get<double>(), 1.7976931348623157e308);
}

TEST(LimitsStrings, LongStringsArePatchedAndRoundTrip) {
    LimitsDir d;
    json doc = json::parse(kFixtureBytes);
    doc["name"] = std::string(2 << 20, 'x');
    doc["bindings"][std::string(100000, 'k')] = "v";
    WriteBytes(d.file, doc.dump());
    ASSERT_TRUE(d.patch());
    EXPECT_EQ(json::parse(ReadBytes(d.file)), Patched(doc));
}

TEST(LimitsStrings, ManyDuplicateKeysKeepTheLastValue) {
    LimitsDir d;
    std::string bytes = "{";
    for (int i = 0; i < 50000; ++i) {
        bytes += "\"bindings\":{\"/actions/main\":" + std::to_string(i) + "},";
    }
    bytes += "\"name\":\"n\"}";
    WriteBytes(d.file, bytes);
    ASSERT_TRUE(d.patch());
    const json result = json::parse(ReadBytes(d.file));
    EXPECT_EQ(result.at("bindings").at("/actions/main"), 49999);
    EXPECT_EQ(result.size(), 3u);
}

// Every prefix of a real bindings file is what a crash or a full disk during someone else's
// write would leave: none of them may be patched or changed.
TEST(LimitsTruncated, EveryTruncationOfAPatchedFileIsRefusedUntouched) {
    for (std::size_t length = 0; length < kPatchedFixtureBytes.size(); ++length) {
        const std::string bytes = kPatchedFixtureBytes.substr(0, length);
        BindingsDir d;
        WriteBytes(d.file, bytes);
        EXPECT_FALSE(PatchGenericHmdBindingsFile(d.path(), Logger{})) << length;
        EXPECT_FALSE(UnpatchGenericHmdBindingsFile(d.path(), Logger{})) << length;
        EXPECT_EQ(ReadBytes(d.file), bytes) << length;
        EXPECT_EQ(d.entries().size(), 1u) << length;
    }
}

// A FIFO with no writer would block a plain open for ever. The call runs aside; should it
// hang, the FIFO's readers are released until it returns, so that the test fails instead of
// hanging: a call that opens the FIFO again is released again.
bool FinishesPromptly(const fs::path& fifo, const std::function<void()>& call) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
        return true;
    }
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        ReleaseFifoReaders(fifo);
    }
    return false;
}

TEST(LimitsSpecialFiles, FifoAsBindingsFileFailsWithoutHanging) {
    LimitsDir d;
    if (!MakeFifo(d.file)) {
        GTEST_SKIP() << "no FIFOs on this system";
    }
    bool patched = true;
    bool unpatched = true;
    EXPECT_TRUE(FinishesPromptly(d.file, [&] { patched = d.patch(); }));
    EXPECT_FALSE(patched);
    ASSERT_EQ(d.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0], d.parseFailurePrefix()));
    EXPECT_TRUE(FinishesPromptly(
        d.file, [&] { unpatched = UnpatchGenericHmdBindingsFile(d.path(), Logger{}); }));
    EXPECT_FALSE(unpatched);
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
}

TEST(LimitsSpecialFiles, FifoAsLegacyProfileIsNotOursAndDoesNotHang) {
    LimitsDir d;
    if (!MakeFifo(d.lighthouseProfile)) {
        GTEST_SKIP() << "no FIFOs on this system";
    }
    EXPECT_TRUE(FinishesPromptly(d.lighthouseProfile, [&] {
        CleanupLegacyProfiles(d.path(), "lighthouse_hmd", d.log.logger());
    }));
    EXPECT_EQ(d.log.messages(),
              std::vector<std::string>{"Vexlor[unpatch]: " + Shown(d.lighthouseProfile) +
                                       " is not ours -- leaving alone\n"});
}

// An endless device read would exhaust memory; the size limit stops it.
TEST(LimitsSpecialFiles, EndlessDeviceAsBindingsFileIsRefusedBySize) {
    if (!HavePosixFiles() || !fs::exists("/dev/zero")) {
        GTEST_SKIP() << "no /dev/zero on this system";
    }
    LimitsDir d;
    fs::create_symlink("/dev/zero", d.file);
    EXPECT_FALSE(d.patch());
    d.expectRefused("larger than 64 MiB");
}

// The write limit is the read limit, to the byte: a document whose written form is exactly
// the largest file the patcher reads is written; one byte more writes nothing at all.
TEST(LimitsWrite, TheWriteLimitIsTheReadLimitToTheByte) {
    if (const char* why = WhyNoLargeFilesHere()) {
        GTEST_SKIP() << why;
    }
    for (const std::size_t written : {kMaxFileBytes, kMaxFileBytes + 1}) {
        LimitsDir d;
        WriteBytes(d.file, "{}");
        // A JSON string is written as its text between two quotes.
        const bool fits =
            AtomicWriteJson(d.file, json(std::string(written - 2, 'a')), d.log.logger());
        EXPECT_EQ(fits, written == kMaxFileBytes) << written;
        EXPECT_EQ(fs::file_size(d.file), fits ? written : 2u);
        EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
    }
}

}  // namespace
}  // namespace vexlor::testing
