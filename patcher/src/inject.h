// What the patch adds to a generic-HMD bindings document.
#ifndef VEXLOR_INJECT_H_
#define VEXLOR_INJECT_H_

#include <nlohmann/json.hpp>

namespace vexlor {

// Sets the three injected action sets under "bindings" (each replaced whole), drops the
// legacy marker and sets the current one. `doc` must be an object or null; any other type
// makes the JSON library raise its type error with `doc` unchanged.
void InjectBindings(nlohmann::json& doc);

}  // namespace vexlor

#endif  // VEXLOR_INJECT_H_
