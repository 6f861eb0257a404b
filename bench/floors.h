// The floors' JSON work, in plain nlohmann calls: what any program producing the same bytes
// must do, and nothing the library's own code could be credited with.
#ifndef VEXLOR_BENCH_FLOORS_H_
#define VEXLOR_BENCH_FLOORS_H_

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace bench {

using json = nlohmann::json;

// What a patch adds to a document: action sets under "bindings" and top-level markers set to
// true. Found by comparing a document with the library's patched form of it, so the floors
// write exactly the bytes the library writes without repeating its rules here.
struct PatchContent {
    json actionSets = json::object();
    std::vector<std::string> markers;
};

PatchContent FindPatchContent(const std::string& original, const std::string& patched);

// The library's on-disk form: indent 4, sorted keys, no final newline.
std::string OnDiskForm(const json& document);

void ApplyPatch(json& document, const PatchContent& content);

// Gives each patched action set the value it has in `original` (or takes it out where
// `original` has none) and takes the markers out.
void UndoPatch(json& document, const json& original, const PatchContent& content);

// A validating scan that builds nothing: true when `text` is JSON whose top-level object
// has `marker` set to true. `valid` learns whether the text parsed at all.
bool CarriesMarker(std::string_view text, const std::string& marker, bool& valid);

}  // namespace bench

#endif  // VEXLOR_BENCH_FLOORS_H_
