// The engine's functions, for the translation unit that includes this header and the
// processor it is compiled for. Everything here is static: each compilation keeps its own
// copy, and none leaks into another that may run on a processor without its instructions.
#ifndef VEXLOR_DIGEST_XXH3_H_
#define VEXLOR_DIGEST_XXH3_H_

#include "digest_engine.h"

// Header-only use: the hash is inlined here, and no xxhash library is needed at run time.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace vexlor {
namespace {

void resetState(void* state) {
    XXH3_128bits_reset(static_cast<XXH3_state_t*>(state));
}

void updateState(void* state, const void* data, std::size_t size) {
    XXH3_128bits_update(static_cast<XXH3_state_t*>(state), data, size);
}

void finishState(const void* state, std::uint64_t* high, std::uint64_t* low) {
    const XXH128_hash_t hash = XXH3_128bits_digest(static_cast<const XXH3_state_t*>(state));
    *high = hash.high64;
    *low = hash.low64;
}

constexpr HashEngine kThisUnitsEngine = {resetState, updateState, finishState};

}  // namespace
}  // namespace vexlor

#endif  // VEXLOR_DIGEST_XXH3_H_
