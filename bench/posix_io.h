// The benchmark's own file handling, in plain POSIX calls: preparing each case's files and the
// I/O floor. Every failure throws std::system_error naming the call and the path.
#ifndef VEXLOR_BENCH_POSIX_IO_H_
#define VEXLOR_BENCH_POSIX_IO_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace bench {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path);

// Makes `path` hold `bytes`, flushed to storage, so no write-back of it is left for a timed
// operation to pay for.
void WriteFileDurably(const fs::path& path, std::string_view bytes);

// Flushes the directory's entries (creations, removals, renames) to storage.
void SyncDirectory(const fs::path& dir);

void RemoveIfPresent(const fs::path& path);

// The least a crash-safe replacement of `path` by `bytes` must do: write a temporary
// sibling, flush it to storage, rename it over `path` and flush the directory.
void ReplaceDurably(const fs::path& path, std::string_view bytes);

}  // namespace bench

#endif  // VEXLOR_BENCH_POSIX_IO_H_
