// What the patch adds to a generic-HMD bindings document.
#ifndef VEXLOR_INJECT_H_
#define VEXLOR_INJECT_H_

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vexlor {

// Sets the three injected action sets under "bindings" (each replaced whole), drops the
// legacy marker and sets the current one. `doc` must be an object or null; any other type
// makes the JSON library raise its type error with `doc` unchanged.
void InjectBindings(nlohmann::json& doc);

// Whether `doc` holds all three injected action sets exactly as the patch writes them: a file
// patched by us, whatever became of its marker.
bool HoldsInjectedActionSets(const nlohmann::json& doc);

// The injected action sets `doc` holds with another value than the patch writes: what an
// undo in place would take away that the patch did not put there.
std::vector<std::string> EditedActionSets(const nlohmann::json& doc);

}  // namespace vexlor

#endif  // VEXLOR_INJECT_H_
