// Reading a JSON file the way every operation of the patcher reads one.
#ifndef VEXLOR_JSON_FILE_H_
#define VEXLOR_JSON_FILE_H_

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace vexlor {

// Limits on what the patcher will take in. A real bindings file is a few kilobytes and about
// nine levels deep; these leave ample room while keeping the stack, memory and the size of a
// write-back bounded for any input.
inline constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;
inline constexpr std::size_t kMaxNestingDepth = 64;
// A write-back may be at most this much larger than the file it came from (pretty-printing a
// minified file does grow it), plus a fixed allowance for small files.
inline constexpr std::size_t kMaxWriteGrowthFactor = 16;
inline constexpr std::size_t kWriteGrowthAllowance = std::size_t{1} << 20;

struct JsonFile {
    nlohmann::json document;
    std::string bytes;  // exactly the bytes the document was parsed from
};

// Reads `path` and parses its first complete JSON value; text after it is not examined and
// comments are a syntax error. Refuses files over the limits above. On failure returns false
// with the reason in `cause` (the system's message, the parser's, or a limit's).
bool LoadJsonFile(const std::filesystem::path& path, JsonFile& out, std::string& cause);

// Which step of LoadJsonFile refused the file: reading it (including the size limit), or
// parsing it (including the depth and growth limits).
enum class LoadFailure { kNone, kRead, kParse };

// As above, and also says which step failed, for callers that report a file's state rather
// than act on it.
bool LoadJsonFile(const std::filesystem::path& path, JsonFile& out, std::string& cause,
                  LoadFailure& failure);

// Parses `text` as LoadJsonFile parses a file's bytes, within the same limits.
bool ParseJsonText(const std::string& text, nlohmann::json& document, std::string& cause);

// Reads `path` as LoadJsonFile does, without parsing it: the same size limit, the same causes.
bool ReadJsonBytes(const std::filesystem::path& path, std::string& bytes, std::string& cause);

// As above; `refused` tells a file the system would not let be read (permission, an I/O error)
// from one that is no file to parse at all: a directory, or one over the size limit.
bool ReadJsonBytes(const std::filesystem::path& path, std::string& bytes, std::string& cause,
                   bool& refused);

// What a validating read learns of a document without building it: the type of its value and,
// for each watched key, whether the top-level member of that name is the boolean true. A
// repeated member counts by its last value, as in the built document.
struct DocumentOutline {
    nlohmann::json::value_t type = nlohmann::json::value_t::null;
    std::vector<std::pair<std::string_view, bool>> watched;
};

// Validates `text` exactly as ParseJsonText does (the same limits, verdicts and causes) but
// builds nothing, so deciding from a few top-level members costs no memory per value.
bool ScanJsonText(const std::string& text, const std::vector<std::string_view>& watchedKeys,
                  DocumentOutline& outline, std::string& cause);

// As LoadJsonFile, with a validating read in place of the built document.
bool ScanJsonFile(const std::filesystem::path& path,
                  const std::vector<std::string_view>& watchedKeys, DocumentOutline& outline,
                  std::string& cause, LoadFailure& failure);

// True when `doc` is an object whose member `key` is the boolean true. Never adds a member.
bool HasMarker(const nlohmann::json& doc, const char* key);

// The same for a document known by its outline; `key` must be one of its watched keys.
bool HasMarker(const DocumentOutline& outline, std::string_view key);

}  // namespace vexlor

#endif  // VEXLOR_JSON_FILE_H_
