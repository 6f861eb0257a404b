#include "digest.h"

#include <cinttypes>
#include <cstdio>

#include <vexlor/bindings.h>

// Header-only use: the hash is inlined here, and no xxhash library is needed at run time.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace vexlor {

struct DigestBuilder::State {
    XXH3_state_t xxh;
};

DigestBuilder::DigestBuilder() : state_(std::make_unique<State>()) {
    Restart();
}

DigestBuilder::~DigestBuilder() = default;

void DigestBuilder::Restart() {
    XXH3_128bits_reset(&state_->xxh);
    size_ = 0;
}

void DigestBuilder::Add(std::string_view piece) {
    XXH3_128bits_update(&state_->xxh, piece.data(), piece.size());
    size_ += piece.size();
}

ContentDigest DigestBuilder::Finish() const {
    const XXH128_hash_t hash = XXH3_128bits_digest(&state_->xxh);
    return {size_, hash.high64, hash.low64};
}

ContentDigest DigestOf(std::string_view bytes) {
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    return {bytes.size(), hash.high64, hash.low64};
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
