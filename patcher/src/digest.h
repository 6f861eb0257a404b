// What a patch wrote, kept with the backup it was made from as a short note: its length and a
// 128-bit hash of its bytes. An unpatch then tells whether the file is still exactly the patch
// of the backup by hashing the file, instead of parsing the backup and serializing its patch.
#ifndef VEXLOR_DIGEST_H_
#define VEXLOR_DIGEST_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "file_ops.h"

namespace vexlor {

struct ContentDigest {
    std::uint64_t size = 0;
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    bool operator==(const ContentDigest& other) const {
        return size == other.size && high == other.high && low == other.low;
    }
};

// Hashes bytes given in pieces, as a streamed write produces them.
class DigestBuilder {
  public:
    DigestBuilder();
    ~DigestBuilder();
    DigestBuilder(const DigestBuilder&) = delete;
    DigestBuilder& operator=(const DigestBuilder&) = delete;

    void Restart();
    void Add(std::string_view piece);
    ContentDigest Finish() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::uint64_t size_ = 0;
};

ContentDigest DigestOf(std::string_view bytes);

// `content` as it is, its bytes hashed into `digest` as they pass; each production starts the
// hash afresh.
ContentProducer HashedWhileWritten(ContentProducer content, DigestBuilder& digest);

// The note kept with a backup of `backupSize` bytes whose patch is `patched`. It names the
// marker of the patch that made it: a release that patches otherwise writes another marker,
// and its notes are not taken for this one's.
std::string BackupNote(std::uint64_t backupSize, const ContentDigest& patched);

// The patch's digest a note kept with a backup of `backupSize` bytes holds. False for a note
// of another backup (a size that differs), of another patch, or one that is not whole.
bool ReadBackupNote(std::string_view note, std::uint64_t backupSize, ContentDigest& patched);

}  // namespace vexlor

#endif  // VEXLOR_DIGEST_H_
