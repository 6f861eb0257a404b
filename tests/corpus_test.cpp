// The JSON conformance corpus fed to every operation as the file it reads: whatever a
// bindings file holds, the outcome is a correct patch or a clear refusal that changes nothing.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "bindings_fixtures.h"
#include "json_file.h"
#include "legacy.h"
#include "test_support.h"
#include "vexlor/bindings.h"

namespace vexlor::testing {
namespace {

namespace fs = std::filesystem;

// Invalid documents whose first complete value is an object followed by text that makes the
// whole file invalid. Only the first value is read, so these are patched; the value here is
// what the patch must work on.
const std::map<std::string, json> kObjectThenJunk = {
    {"n_object_trailing_comment.json", {{"a", "b"}}},
    {"n_object_trailing_comment_open.json", {{"a", "b"}}},
    {"n_object_trailing_comment_slash_open.json", {{"a", "b"}}},
    {"n_object_trailing_comment_slash_open_incomplete.json", {{"a", "b"}}},
    {"n_object_with_trailing_garbage.json", {{"a", "b"}}},
    {"n_structure_object_followed_by_closing_object.json", json::object()},
    {"n_structure_object_with_trailing_garbage.json", {{"a", true}}},
    {"n_structure_trailing_#.json", {{"a", "b"}}},
};

// Invalid documents whose first complete value is not an object (`["x"]]`, `2@`, ...): read
// as that value, so the patch refuses them as not an object and the unpatch finds no marker.
const std::set<std::string> kOtherValueThenJunk = {
    "n_array_comma_after_close.json",
    "n_array_extra_close.json",
    "n_multidigit_number_then_00.json",
    "n_string_with_trailing_garbage.json",
    "n_structure_array_trailing_garbage.json",
    "n_structure_array_with_extra_array_close.json",
    "n_structure_close_unopened_array.json",
    "n_structure_double_array.json",
    "n_structure_number_with_trailing_garbage.json",
};

// The corpus lives beside the repository, not in it: a clone elsewhere has none, and its
// tests then say where they looked instead of failing on a missing directory. CI always has
// it, so there its absence is a failure.
class CorpusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (fs::is_directory(CorpusDir() / "test_parsing")) {
            return;
        }
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") {
            FAIL() << "the JSON corpus is missing under CI: " << CorpusDir().u8string();
        }
        GTEST_SKIP() << "no JSON corpus at " << CorpusDir().u8string();
    }
};
using CorpusScan = CorpusTest;
using CorpusPatch = CorpusTest;
using CorpusUnpatch = CorpusTest;
using CorpusCleanup = CorpusTest;

struct CorpusFile {
    std::string name;
    std::string bytes;
};

std::vector<CorpusFile> CorpusFiles(char kind) {
    std::vector<CorpusFile> files;
    for (const auto& entry : fs::directory_iterator(CorpusDir() / "test_parsing")) {
        const std::string name = entry.path().filename().u8string();
        if (name[0] == kind) {
            files.push_back({name, ReadBytes(entry.path())});
        }
    }
    std::sort(files.begin(), files.end(),
              [](const CorpusFile& a, const CorpusFile& b) { return a.name < b.name; });
    return files;
}

enum class Expect { kPatch, kNotAnObject, kParseFailure, kEither };

struct PatchOutcome {
    bool result;
    std::vector<std::string> messages;
};

PatchOutcome PatchHolding(BindingsDir& d, const std::string& bytes) {
    WriteBytes(d.file, bytes);
    CapturingLogger log;
    const bool result = PatchGenericHmdBindingsFile(d.path(), log.logger());
    return {result, log.messages()};
}

void ExpectPatchedFrom(const BindingsDir& d, const PatchOutcome& out, const std::string& bytes,
                       const json& firstValue) {
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.messages, (std::vector<std::string>{
                                "Vexlor[patch]: backed up original to " + Shown(d.backup) + "\n",
                                "Vexlor[patch]: patched " + Shown(d.file) + "\n"}));
    EXPECT_EQ(ReadBytes(d.backup), bytes);
    EXPECT_EQ(ReadBytes(d.file), Patched(firstValue).dump(4));
}

void ExpectRefused(const BindingsDir& d, const PatchOutcome& out, const std::string& bytes,
                   Expect expect) {
    EXPECT_FALSE(out.result);
    ASSERT_EQ(out.messages.size(), 1u);
    const std::string notObject =
        "Vexlor[patch]: " + Shown(d.file) + " is not a JSON object -- leaving alone\n";
    if (expect == Expect::kNotAnObject) {
        EXPECT_EQ(out.messages[0], notObject);
    } else if (expect == Expect::kParseFailure) {
        EXPECT_TRUE(HasCauseAfter(out.messages[0],
                                  "Vexlor[patch]: failed to parse " + Shown(d.file) + ": "));
    }
    EXPECT_EQ(ReadBytes(d.file), bytes);
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
}

// The validating read (ScanJsonText) must agree with the built document on every input: the
// same verdict, the same cause word for word, the same type and the same marker.
void ExpectScanAgrees(const std::string& bytes) {
    json document;
    DocumentOutline outline;
    const Status builtRead = ParseJsonText(bytes, document);
    const Status scanned = ScanJsonText(bytes, MarkerKeys(), outline);
    const bool built = builtRead.ok();
    ASSERT_EQ(scanned.ok(), built);
    EXPECT_EQ(scanned.kind(), builtRead.kind());
    EXPECT_EQ(scanned.message(), builtRead.message());
    if (built) {
        EXPECT_EQ(outline.type, document.type());
        const char* marker = CarriedMarker(document);
        EXPECT_STREQ(CarriedMarker(outline), marker);
    }
}

TEST_F(CorpusScan, ValidatingReadAgreesWithTheBuiltDocumentOnEveryFile) {
    for (const char kind : {'y', 'n', 'i'}) {
        for (const CorpusFile& f : CorpusFiles(kind)) {
            SCOPED_TRACE(f.name);
            ExpectScanAgrees(f.bytes);
        }
    }
}

TEST(ValidatingRead, AgreesOnMarkersAndLimits) {
    const auto nested = [](std::size_t depth, std::size_t zeros) {
        std::string inner(depth - 1, '[');
        for (std::size_t i = 0; i < zeros; ++i) {
            inner += i == 0 ? "0" : ",0";
        }
        return R"({"vexlor_patched_v2": true, "deep":)" + inner + std::string(depth - 1, ']') + "}";
    };
    const std::vector<std::string> cases = {
        R"({"vexlor_patched_v2": true})",
        R"({"vexlor_patched_v2": false})",
        R"({"vexlor_patched_v2": 1})",
        R"({"vexlor_patched_v2": "true"})",
        R"({"vexlor_patched_v2": [true]})",
        R"({"vexlor_patched_v2": {"vexlor_patched_v2": true}})",
        R"({"a": {"vexlor_patched_v2": true}, "b": [{"vexlor_patched_v1": true}]})",
        R"([{"vexlor_patched_v2": true}])",
        R"({"vexlor_patched_v2": true, "vexlor_patched_v2": false})",
        R"({"vexlor_patched_v2": false, "x": 1, "vexlor_patched_v2": true})",
        R"({"vexlor_patched_v1": true, "vexlor_patched_v2": null})",
        R"({"\u0076exlor_patched_v2": true})",
        R"({"vexlor_patched_v2": true}] trailing)",
        R"({"vexlor_patched_v2": true)",
        R"("vexlor_patched_v2")",
        "true",
        nested(kMaxNestingDepth, 3),
        nested(kMaxNestingDepth + 1, 3),
        nested(60, 100000),  // over the write-back growth budget
    };
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes.substr(0, 80));
        ExpectScanAgrees(bytes);
    }
}

TEST_F(CorpusPatch, ValidDocumentsArePatchedWhenObjectOrNullAndRefusedOtherwise) {
    const auto files = CorpusFiles('y');
    ASSERT_GT(files.size(), 90u) << CorpusDir();
    for (const CorpusFile& f : files) {
        SCOPED_TRACE(f.name);
        const json value = json::parse(f.bytes);  // the library's own strict reading
        BindingsDir d;
        const PatchOutcome out = PatchHolding(d, f.bytes);
        if (value.is_object() || value.is_null()) {
            ExpectPatchedFrom(d, out, f.bytes, value);
        } else {
            ExpectRefused(d, out, f.bytes, Expect::kNotAnObject);
        }
    }
}

TEST_F(CorpusPatch, InvalidDocumentsAreRefusedUnlessTheirFirstValueIsAnObject) {
    const auto files = CorpusFiles('n');
    ASSERT_GT(files.size(), 180u) << CorpusDir();
    for (const CorpusFile& f : files) {
        SCOPED_TRACE(f.name);
        BindingsDir d;
        const PatchOutcome out = PatchHolding(d, f.bytes);
        if (const auto first = kObjectThenJunk.find(f.name); first != kObjectThenJunk.end()) {
            ExpectPatchedFrom(d, out, f.bytes, first->second);
        } else if (kOtherValueThenJunk.count(f.name) != 0) {
            ExpectRefused(d, out, f.bytes, Expect::kNotAnObject);
        } else {
            ExpectRefused(d, out, f.bytes, Expect::kParseFailure);
        }
    }
}

// Implementation-defined inputs: the parser may take or refuse each, but a taken object is
// patched correctly and a refusal changes nothing.
TEST_F(CorpusPatch, ImplementationDefinedDocumentsArePatchedCorrectlyOrRefusedCleanly) {
    const auto files = CorpusFiles('i');
    ASSERT_GT(files.size(), 30u) << CorpusDir();
    for (const CorpusFile& f : files) {
        SCOPED_TRACE(f.name);
        BindingsDir d;
        const PatchOutcome out = PatchHolding(d, f.bytes);
        if (out.result) {
            ExpectPatchedFrom(d, out, f.bytes, json::parse(f.bytes));
        } else {
            ExpectRefused(d, out, f.bytes, Expect::kEither);
        }
    }
}

// Corpus files carry no marker, so the unpatch either cannot read one or finds none, and
// in both cases writes nothing.
TEST_F(CorpusUnpatch, NoCorpusFileIsWrittenOrTakenForOurs) {
    for (const char kind : {'y', 'n', 'i'}) {
        for (const CorpusFile& f : CorpusFiles(kind)) {
            SCOPED_TRACE(f.name);
            BindingsDir d;
            WriteBytes(d.file, f.bytes);
            CapturingLogger log;
            const bool result = UnpatchGenericHmdBindingsFile(d.path(), log.logger());
            ASSERT_EQ(log.messages().size(), 1u);
            const bool readable = kind == 'y' || kObjectThenJunk.count(f.name) != 0 ||
                                  kOtherValueThenJunk.count(f.name) != 0;
            if (result) {
                EXPECT_TRUE(kind == 'i' || readable);
                EXPECT_EQ(log.messages()[0], "Vexlor[unpatch]: " + Shown(d.file) +
                                                 " has no Vexlor marker -- leaving alone\n");
            } else {
                EXPECT_TRUE(kind == 'i' || !readable);
                EXPECT_TRUE(HasCauseAfter(
                    log.messages()[0], "Vexlor[unpatch]: failed to parse " + Shown(d.file) + ": "));
            }
            EXPECT_EQ(ReadBytes(d.file), f.bytes);
            EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
        }
    }
}

TEST_F(CorpusCleanup, NoCorpusFileIsRemoved) {
    for (const char kind : {'y', 'n', 'i'}) {
        for (const CorpusFile& f : CorpusFiles(kind)) {
            SCOPED_TRACE(f.name);
            BindingsDir d;
            WriteBytes(d.lighthouseBindings, f.bytes);
            WriteBytes(d.lighthouseProfile, f.bytes);
            CapturingLogger log;
            CleanupLegacyProfiles(d.path(), "lighthouse_hmd", log.logger());
            EXPECT_EQ(log.messages(),
                      (std::vector<std::string>{"Vexlor[unpatch]: " + Shown(d.lighthouseBindings) +
                                                    " is not ours -- leaving alone\n",
                                                "Vexlor[unpatch]: " + Shown(d.lighthouseProfile) +
                                                    " is not ours -- leaving alone\n"}));
            EXPECT_EQ(ReadBytes(d.lighthouseBindings), f.bytes);
            EXPECT_EQ(ReadBytes(d.lighthouseProfile), f.bytes);
        }
    }
}

}  // namespace
}  // namespace vexlor::testing
