// What a patch wrote, kept with the backup it was made from as a short note: its length and a
// 128-bit hash of its bytes. An unpatch then tells whether the file is still exactly the patch
// of the backup by hashing the file, instead of parsing the backup and serializing its patch.
#ifndef VEXLOR_DIGEST_H_
#define VEXLOR_DIGEST_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

// What the note kept with a backup says: the backup's size, the digest of its patch, and
// whether the backup itself carried a marker (a file patched by an older release), which an
// unpatch must then take out of it.
struct BackupNote {
    std::uint64_t backupSize = 0;
    ContentDigest patched;
    bool backupCarriesMarker = false;
};

// The note's text. It names the marker of the patch that made it: a release that patches
// otherwise writes another marker, and its notes are not taken for this one's.
std::string NoteText(const BackupNote& note);

// The note `text` holds; false for a note of another patch, or one that is not whole.
bool ReadNoteText(std::string_view text, BackupNote& note);

}  // namespace vexlor

#endif  // VEXLOR_DIGEST_H_
