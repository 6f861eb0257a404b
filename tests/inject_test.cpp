#include <gtest/gtest.h>

#include "bindings_fixtures.h"
#include "inject.h"

namespace vexlor::testing {
namespace {

json Fixture() {
    return json::parse(kFixtureBytes);
}

// The injected content, member by member, as the compositor must receive it.
const json kExpectedActionSets = json::parse(R"json({
    "/actions/lasermouse": {
        "poses": [{"output": "/actions/lasermouse/in/Pointer", "path": "/user/head/pose/raw"}],
        "sources": [{
            "inputs": {"click": {"output": "/actions/lasermouse/in/LeftClick"}},
            "mode": "button",
            "path": "/user/head/input/system"
        }]
    },
    "/actions/lasermouse_secondary": {
        "poses": [],
        "sources": [{
            "inputs": {"click": {"output": "/actions/lasermouse_secondary/in/SwitchLaserHand"}},
            "mode": "button",
            "path": "/user/head/input/system"
        }]
    },
    "/actions/system": {
        "sources": [{
            "inputs": {
                "double": {"output": "/actions/system/in/ToggleRoomView"},
                "single": {"output": "/actions/system/in/ToggleDashboard"}
            },
            "mode": "complex_button",
            "path": "/user/head/input/system"
        }]
    }
})json");

TEST(InjectBindings, FixtureGetsExactlyTheThreeActionSetsAndTheMarker) {
    json doc = Fixture();
    InjectBindings(doc);
    EXPECT_EQ(doc.at("bindings"), kExpectedActionSets);
    EXPECT_EQ(doc.at("vexlor_patched_v2"), json(true));
    EXPECT_EQ(doc.at("controller_type"), "generic_hmd");
    EXPECT_EQ(doc.at("name"), "default generic_hmd bindings");
    EXPECT_EQ(doc.size(), 4u);
    EXPECT_EQ(doc.dump(4), kPatchedFixtureBytes);
}

TEST(InjectBindings, MissingOrNonObjectBindingsBecomeExactlyTheThreeActionSets) {
    for (const json& bindings : {json(), json::array({1, 2}), json("text"), json(7), json(false)}) {
        json doc = Fixture();
        doc["bindings"] = bindings;
        InjectBindings(doc);
        EXPECT_EQ(doc.at("bindings"), kExpectedActionSets) << bindings;
    }
    json withoutBindings = {{"name", "x"}};
    InjectBindings(withoutBindings);
    EXPECT_EQ(withoutBindings.at("bindings"), kExpectedActionSets);
}

TEST(InjectBindings, ExistingInjectedActionSetsAreReplacedWhole) {
    json doc = Fixture();
    doc["bindings"]["/actions/lasermouse"] = json::parse(R"({
        "poses": [{"output": "/actions/lasermouse/in/Other", "path": "/user/hand/left/pose/raw"}],
        "sources": [{"inputs": {}, "mode": "trigger", "path": "/user/hand/left/input/trigger"}],
        "extra": true
    })");
    doc["bindings"]["/actions/system"] = "not even an object";
    InjectBindings(doc);
    EXPECT_EQ(doc.at("bindings"), kExpectedActionSets);
}

TEST(InjectBindings, OtherActionSetsAndTopLevelMembersKeepTheirValues) {
    json doc = Fixture();
    const json mainSet = json::parse(R"({"sources": [{"mode": "button", "path": "/user/x"}]})");
    doc["bindings"]["/actions/main"] = mainSet;
    doc["options"] = {{"returnBindingsWithLeftHand", true}};
    InjectBindings(doc);
    EXPECT_EQ(doc.at("bindings").at("/actions/main"), mainSet);
    EXPECT_EQ(doc.at("bindings").size(), 4u);
    EXPECT_EQ(doc.at("options"), json({{"returnBindingsWithLeftHand", true}}));
}

TEST(InjectBindings, LegacyMarkerIsRemovedWhateverItsValue) {
    for (const json& value : {json(true), json(false), json("true"), json::object()}) {
        json doc = Fixture();
        doc["vexlor_patched_v1"] = value;
        InjectBindings(doc);
        EXPECT_FALSE(doc.contains("vexlor_patched_v1")) << value;
    }
}

TEST(InjectBindings, MarkerOfAnyOtherValueBecomesBooleanTrue) {
    for (const json& value : {json(false), json("true"), json(1), json()}) {
        json doc = Fixture();
        doc["vexlor_patched_v2"] = value;
        InjectBindings(doc);
        EXPECT_EQ(doc.at("vexlor_patched_v2"), json(true)) << value;
    }
}

TEST(InjectBindings, NullDocumentBecomesExactlyBindingsAndMarker) {
    json doc;
    InjectBindings(doc);
    EXPECT_EQ(doc, json({{"bindings", kExpectedActionSets}, {"vexlor_patched_v2", true}}));
}

TEST(InjectBindings, AppliedTwiceGivesTheSameDocument) {
    json once = Fixture();
    InjectBindings(once);
    json twice = once;
    InjectBindings(twice);
    EXPECT_EQ(twice, once);
}

TEST(InjectBindings, NonObjectTopLevelThrowsAndLeavesTheDocumentUnchanged) {
    for (const json& original :
         {json::array({json::object()}), json("text"), json(3.5), json(true)}) {
        json doc = original;
        EXPECT_THROW(InjectBindings(doc), json::type_error) << original;
        EXPECT_EQ(doc, original);
    }
}

}  // namespace
}  // namespace vexlor::testing
