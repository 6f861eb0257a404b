// What the patch adds to a generic-HMD bindings document.
#ifndef VEXLOR_INJECT_H_
#define VEXLOR_INJECT_H_

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace vexlor {

// Sets the three injected action sets under "bindings" (each replaced whole), drops the
// legacy marker and sets the current one. `doc` must be an object or null; any other type
// makes the JSON library raise its type error with `doc` unchanged.
void InjectBindings(nlohmann::json& doc);

// What InjectBindingsReversibly took out of a document, to be put back.
struct ReplacedByInjection {
    bool wasNull = false;
    bool hadBindings = false;
    bool bindingsWereObject = false;
    nlohmann::json otherBindings;  // a "bindings" member that is no object, replaced whole
    std::vector<std::pair<const char*, nlohmann::json>> actionSets;
    std::vector<std::pair<const char*, nlohmann::json>> markers;
};

// InjectBindings on `doc` itself, keeping what it replaced, so that a check of what a patch
// makes of a large document needs no copy of it. RevertInjection makes `doc` again exactly
// the document it was.
ReplacedByInjection InjectBindingsReversibly(nlohmann::json& doc);
void RevertInjection(nlohmann::json& doc, ReplacedByInjection replaced);

// Whether `doc` holds all three injected action sets exactly as the patch writes them: a file
// patched by us, whatever became of its marker.
bool HoldsInjectedActionSets(const nlohmann::json& doc);

// The injected action sets `doc` holds with another value than the patch writes: what an
// undo in place would take away that the patch did not put there.
std::vector<std::string> EditedActionSets(const nlohmann::json& doc);

}  // namespace vexlor

#endif  // VEXLOR_INJECT_H_
