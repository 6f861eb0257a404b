#include "documents.h"

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace bench {

namespace {

using json = nlohmann::json;

std::string onDiskForm(const json& doc) {
    return doc.dump(4, ' ', false);
}

json bindingsDocument(json bindings) {
    return json::object({{"bindings", std::move(bindings)},
                         {"controller_type", "generic_hmd"},
                         {"name", "default generic_hmd bindings"}});
}

json buttonSource(const std::string& actionSet, const char* input, const char* action) {
    return json::object(
        {{"inputs",
          json::object({{"click", json::object({{"output", actionSet + "/in/" + action}})}})},
         {"mode", "button"},
         {"path", std::string("/user/head/input/") + input}});
}

// An action set as the compositor's own files have them: a pose and two buttons.
json actionSet(const std::string& name) {
    json pose = json::object({{"output", name + "/in/Pose"}, {"path", "/user/head/pose/raw"}});
    return json::object({{"poses", json::array({std::move(pose)})},
                         {"sources", json::array({buttonSource(name, "system", "Select"),
                                                  buttonSource(name, "trigger", "Back")})}});
}

// A dozen action sets, eight of them bound to a button and four still empty: about the size
// of the compositor's real generic-HMD file.
json realisticBindings() {
    static const char* const kBoundSets[] = {
        "/actions/main",   "/actions/dashboard", "/actions/keyboard", "/actions/overlay",
        "/actions/camera", "/actions/chaperone", "/actions/menu",     "/actions/mirror"};
    static const char* const kEmptySets[] = {"/actions/screenshots", "/actions/store",
                                             "/actions/theater", "/actions/voice"};
    json bindings = json::object();
    for (const char* name : kBoundSets) {
        bindings[name] =
            json::object({{"sources", json::array({buttonSource(name, "system", "Select")})}});
    }
    for (const char* name : kEmptySets) {
        bindings[name] = json::object({{"sources", json::array()}});
    }
    return bindings;
}

std::string numberedName(std::size_t index) {
    const std::string digits = std::to_string(index);
    const std::size_t padding = digits.size() < 7 ? 7 - digits.size() : 0;
    return "/actions/set_" + std::string(padding, '0') + digits;
}

json numberedActionSets(std::size_t count) {
    json bindings = json::object();
    for (std::size_t i = 0; i < count; ++i) {
        bindings[numberedName(i)] = actionSet(numberedName(i));
    }
    return bindings;
}

// As many numbered action sets as it takes to reach about `targetBytes` on disk.
std::string manyActionSets(std::size_t targetBytes) {
    const std::size_t oneSet = onDiskForm(bindingsDocument(numberedActionSets(1))).size();
    const std::size_t perSet = onDiskForm(bindingsDocument(numberedActionSets(2))).size() - oneSet;
    const std::size_t count = 1 + (targetBytes - oneSet) / perSet;
    return onDiskForm(bindingsDocument(numberedActionSets(count)));
}

}  // namespace

const std::vector<std::string>& DocumentSizes() {
    static const std::vector<std::string> kSizes = {"fixture", "3KB", "1MiB", "10MiB"};
    return kSizes;
}

std::string MakeDocument(const std::string& size) {
    if (size == "fixture") {
        return onDiskForm(bindingsDocument(json::object()));
    }
    if (size == "3KB") {
        return onDiskForm(bindingsDocument(realisticBindings()));
    }
    if (size == "1MiB") {
        return manyActionSets(std::size_t{1} << 20);
    }
    if (size == "10MiB") {
        return manyActionSets(std::size_t{10} << 20);
    }
    throw std::invalid_argument("no document of size " + size);
}

}  // namespace bench
