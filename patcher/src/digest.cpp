#include "digest.h"

#include <cinttypes>
#include <cstdio>

#include <vexlor/bindings.h>

#include "digest_xxh3.h"

namespace vexlor {

namespace {

// The engine for this processor: the AVX2 one where the build has it and the processor can
// run it (the processor and the system both: the check covers the system's saving of the wide
// registers), else the one compiled for every x86-64 processor.
const HashEngine& engine() {
    static const HashEngine chosen = [] {
#if defined(VEXLOR_DIGEST_AVX2)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) {
            return Avx2HashEngine();
        }
#endif
        return PortableHashEngine();
    }();
    return chosen;
}

}  // namespace

HashEngine PortableHashEngine() {
    return kThisUnitsEngine;
}

struct DigestBuilder::State {
    XXH3_state_t xxh;
};

DigestBuilder::DigestBuilder() : state_(std::make_unique<State>()) {
    Restart();
}

DigestBuilder::~DigestBuilder() = default;

void DigestBuilder::Restart() {
    engine().reset(&state_->xxh);
    size_ = 0;
}

void DigestBuilder::Add(std::string_view piece) {
    engine().update(&state_->xxh, piece.data(), piece.size());
    size_ += piece.size();
}

ContentDigest DigestBuilder::Finish() const {
    ContentDigest digest{size_, 0, 0};
    engine().finish(&state_->xxh, &digest.high, &digest.low);
    return digest;
}

namespace {

// "<marker> <backup size> <patched size> <hash high><hash low> <backup carries a marker>", the
// hash in 32 hex digits, the last field 0 or 1.
constexpr const char* kNoteFormat = "%s %" PRIu64 " %" PRIu64 " %016" PRIx64 "%016" PRIx64 " %d\n";
constexpr std::size_t kLongestNote = 160;

}  // namespace

std::string NoteText(const BackupNote& note) {
    char text[kLongestNote];
    std::snprintf(text, sizeof text, kNoteFormat, kMarkerKey, note.backupSize, note.patched.size,
                  note.patched.high, note.patched.low, note.backupCarriesMarker ? 1 : 0);
    return text;
}

bool ReadNoteText(std::string_view text, BackupNote& note) {
    if (text.size() >= kLongestNote) {
        return false;
    }
    BackupNote read;
    int carries = 0;
    if (std::sscanf(std::string(text).c_str(),
                    "%*s %" SCNu64 " %" SCNu64 " %16" SCNx64 "%16" SCNx64 " %d", &read.backupSize,
                    &read.patched.size, &read.patched.high, &read.patched.low, &carries) != 5) {
        return false;
    }
    read.backupCarriesMarker = carries == 1;
    // Only the very text this release writes counts: anything cut short, padded or made by
    // another patch is not a note of ours.
    if (NoteText(read) != text) {
        return false;
    }
    note = read;
    return true;
}

}  // namespace vexlor
