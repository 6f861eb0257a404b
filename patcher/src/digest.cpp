#include "digest.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

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

ContentProducer HashedWhileWritten(ContentProducer content, DigestBuilder& digest) {
    return
        [content = std::move(content), &digest](const platform::ByteSink& sink, Status& refusal) {
            digest.Restart();
            const platform::ByteSink hashing = [&](std::string_view piece) {
                digest.Add(piece);
                return sink(piece);
            };
            return content(hashing, refusal);
        };
}

namespace {

// "<marker> <backup size> <patched size> <hash high><hash low>", the hash in 32 hex digits.
constexpr const char* kNoteFormat = "%s %" PRIu64 " %" PRIu64 " %016" PRIx64 "%016" PRIx64 "\n";

}  // namespace

std::string BackupNote(std::uint64_t backupSize, const ContentDigest& patched) {
    char note[160];
    std::snprintf(note, sizeof note, kNoteFormat, kMarkerKey, backupSize, patched.size,
                  patched.high, patched.low);
    return note;
}

bool ReadBackupNote(std::string_view note, std::uint64_t backupSize, ContentDigest& patched) {
    if (note.size() >= 160) {
        return false;
    }
    ContentDigest read;
    std::uint64_t readBackupSize = 0;
    if (std::sscanf(std::string(note).c_str(),
                    "%*s %" SCNu64 " %" SCNu64 " %16" SCNx64 "%16" SCNx64, &readBackupSize,
                    &read.size, &read.high, &read.low) != 4) {
        return false;
    }
    // Only the very text this release writes counts: anything cut short, padded or made by
    // another patch is not a note of ours.
    if (readBackupSize != backupSize || BackupNote(backupSize, read) != note) {
        return false;
    }
    patched = read;
    return true;
}

}  // namespace vexlor
