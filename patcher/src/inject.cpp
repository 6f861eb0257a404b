#include "inject.h"

#include "vexlor/bindings.h"

namespace vexlor {

namespace {

using json = nlohmann::json;

constexpr const char* kHeadSystemButton = "/user/head/input/system";

json outputTo(const char* action) {
    return json::object({{"output", action}});
}

json buttonSource(const char* mode, json inputs) {
    return json::object(
        {{"inputs", std::move(inputs)}, {"mode", mode}, {"path", kHeadSystemButton}});
}

// The headset's raw pose drives the laser pointer; its system button clicks.
json laserMouseActionSet() {
    json pose = json::object(
        {{"output", "/actions/lasermouse/in/Pointer"}, {"path", "/user/head/pose/raw"}});
    json click = json::object({{"click", outputTo("/actions/lasermouse/in/LeftClick")}});
    return json::object({{"poses", json::array({std::move(pose)})},
                         {"sources", json::array({buttonSource("button", std::move(click))})}});
}

// The system button switches the laser to the other hand.
json laserMouseSecondaryActionSet() {
    json click =
        json::object({{"click", outputTo("/actions/lasermouse_secondary/in/SwitchLaserHand")}});
    return json::object({{"poses", json::array()},
                         {"sources", json::array({buttonSource("button", std::move(click))})}});
}

// A single press toggles the dashboard, a double press the room view.
json systemActionSet() {
    json inputs = json::object({{"double", outputTo("/actions/system/in/ToggleRoomView")},
                                {"single", outputTo("/actions/system/in/ToggleDashboard")}});
    return json::object(
        {{"sources", json::array({buttonSource("complex_button", std::move(inputs))})}});
}

// The "bindings" object of `doc`, or nullptr when it has none.
const json* bindingsOf(const json& doc) {
    if (!doc.is_object()) {
        return nullptr;
    }
    const auto bindings = doc.find(kBindingsKey);
    return bindings != doc.end() && bindings->is_object() ? &*bindings : nullptr;
}

const json& injectedBindings() {
    static const json injected = [] {
        json doc = json::object();
        InjectBindings(doc);
        return doc[kBindingsKey];
    }();
    return injected;
}

}  // namespace

bool HoldsInjectedActionSets(const json& doc) {
    const json* bindings = bindingsOf(doc);
    if (bindings == nullptr) {
        return false;
    }
    for (const char* actionSet : kInjectedActionSets) {
        const auto held = bindings->find(actionSet);
        if (held == bindings->end() || *held != injectedBindings().at(actionSet)) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> EditedActionSets(const json& doc) {
    std::vector<std::string> edited;
    const json* bindings = bindingsOf(doc);
    if (bindings == nullptr) {
        return edited;
    }
    for (const char* actionSet : kInjectedActionSets) {
        const auto held = bindings->find(actionSet);
        if (held != bindings->end() && *held != injectedBindings().at(actionSet)) {
            edited.emplace_back(actionSet);
        }
    }
    return edited;
}

void InjectBindings(json& doc) {
    json& bindings = doc[kBindingsKey];  // null becomes an object; other non-objects throw
    if (!bindings.is_object()) {
        bindings = json::object();
    }
    bindings[kInjectedActionSets[0]] = laserMouseActionSet();
    bindings[kInjectedActionSets[1]] = laserMouseSecondaryActionSet();
    bindings[kInjectedActionSets[2]] = systemActionSet();
    doc.erase(kLegacyMarkerKey);
    doc[kMarkerKey] = true;
}

namespace {

// Moves the member `key` of `object`, when it has one, into `taken`.
void takeMember(json& object, const char* key, std::vector<std::pair<const char*, json>>& taken) {
    const auto member = object.find(key);
    if (member != object.end()) {
        taken.emplace_back(key, std::move(*member));
    }
}

}  // namespace

ReplacedByInjection InjectBindingsReversibly(json& doc) {
    ReplacedByInjection replaced;
    replaced.wasNull = doc.is_null();
    if (!replaced.wasNull) {
        const auto bindings = doc.find(kBindingsKey);
        replaced.hadBindings = bindings != doc.end();
        replaced.bindingsWereObject = replaced.hadBindings && bindings->is_object();
        if (replaced.hadBindings && !replaced.bindingsWereObject) {
            replaced.otherBindings = std::move(*bindings);
        } else if (replaced.hadBindings) {
            for (const char* actionSet : kInjectedActionSets) {
                takeMember(*bindings, actionSet, replaced.actionSets);
            }
        }
        for (const char* marker : {kMarkerKey, kLegacyMarkerKey}) {
            takeMember(doc, marker, replaced.markers);
        }
    }
    InjectBindings(doc);
    return replaced;
}

void RevertInjection(json& doc, ReplacedByInjection replaced) {
    if (replaced.wasNull) {
        doc = json();
        return;
    }
    if (!replaced.hadBindings) {
        doc.erase(kBindingsKey);
    } else if (!replaced.bindingsWereObject) {
        doc[kBindingsKey] = std::move(replaced.otherBindings);
    } else {
        json& bindings = doc[kBindingsKey];
        for (const char* actionSet : kInjectedActionSets) {
            bindings.erase(actionSet);
        }
        for (auto& [actionSet, value] : replaced.actionSets) {
            bindings[actionSet] = std::move(value);
        }
    }
    doc.erase(kMarkerKey);
    for (auto& [marker, value] : replaced.markers) {
        doc[marker] = std::move(value);
    }
}

}  // namespace vexlor
