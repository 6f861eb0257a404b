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

#include "failure.h"

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

// Which step of a file's read refused it: reading it (including the size limit), or parsing
// it (including the depth and growth limits).
enum class LoadFailure { kNone, kRead, kParse };

// Parses `text`'s first complete JSON value; text after it is not examined and comments are a
// syntax error. Refuses a text over the limits above; the failure's words are the parser's or
// the limit's, and an empty text is kEmpty.
Status ParseJsonText(const std::string& text, nlohmann::json& document);

// Reads `path` whole, within the size limit; the failure's words are the system's or the
// limit's.
Status ReadJsonBytes(const std::filesystem::path& path, std::string& bytes);

// ReadJsonBytes, its failure told as the operations tell it: "cannot read <shown>: " for a read
// the system refused, "failed to parse <shown>: " for what is no file to parse at all.
Status ReadForParsing(const std::filesystem::path& path, const std::string& shown,
                      std::string& bytes);

// What a validating read learns of a document without building it: the type of its value and,
// for each watched key, whether the top-level member of that name is the boolean true. A
// repeated member counts by its last value, as in the built document.
struct DocumentOutline {
    nlohmann::json::value_t type = nlohmann::json::value_t::null;
    std::vector<std::pair<std::string_view, bool>> watched;
};

// Validates `text` exactly as ParseJsonText does (the same limits, verdicts and causes) but
// builds nothing, so deciding from a few top-level members costs no memory per value.
Status ScanJsonText(const std::string& text, const std::vector<std::string_view>& watchedKeys,
                    DocumentOutline& outline);

// Reads `path` and validates it as ScanJsonText does; `failure` tells which step refused it.
Status ScanJsonFile(const std::filesystem::path& path,
                    const std::vector<std::string_view>& watchedKeys, DocumentOutline& outline,
                    LoadFailure& failure);

// True when `doc` is an object whose member `key` is the boolean true. Never adds a member.
bool HasMarker(const nlohmann::json& doc, const char* key);

// The same for a document known by its outline; `key` must be one of its watched keys.
bool HasMarker(const DocumentOutline& outline, std::string_view key);

}  // namespace vexlor

#endif  // VEXLOR_JSON_FILE_H_
