// The hash behind ContentDigest (XXH3, 128 bits), as plain functions over an opaque state, so
// that it can be compiled more than once: for every x86-64 processor, and again for those with
// AVX2, which hash in about half the instructions. digest.cpp picks one at first use.
#ifndef VEXLOR_DIGEST_ENGINE_H_
#define VEXLOR_DIGEST_ENGINE_H_

#include <cstddef>
#include <cstdint>

namespace vexlor {

struct HashEngine {
    void (*reset)(void* state);
    void (*update)(void* state, const void* data, std::size_t size);
    void (*finish)(const void* state, std::uint64_t* high, std::uint64_t* low);
};

// The engine compiled for every processor the build is for.
HashEngine PortableHashEngine();

// The engine compiled for AVX2 (digest_avx2.cpp), in builds for x86-64 processors; the caller
// asks the processor first.
HashEngine Avx2HashEngine();

}  // namespace vexlor

#endif  // VEXLOR_DIGEST_ENGINE_H_
