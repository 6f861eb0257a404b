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

// The least any crash-safe rewrite of `path` must do: read the file, write the same bytes to
// a temporary sibling, flush that to storage and rename it over the file. Returns the number
// of bytes rewritten.
std::size_t RewriteThroughSibling(const fs::path& path);

}  // namespace bench

#endif  // VEXLOR_BENCH_POSIX_IO_H_
