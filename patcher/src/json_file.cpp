#include "json_file.h"

#include <utility>
#include <vector>

#include "failure.h"
#include "platform/platform.h"
#include "vexlor/support/utf8.h"

namespace vexlor {

namespace {

using json = nlohmann::json;

// The limits every parse of an input holds it to, whether it builds the document or only
// validates it: depth (the serializer and comparisons recurse, so depth is stack) and a
// pretty-printed form out of all proportion to the input's size (deep nesting costs four
// spaces per level on every line of the write-back). Both readers call it at the same events
// with the same depth, so they refuse the same inputs with the same words.
class InputLimits {
  public:
    explicit InputLimits(std::size_t inputBytes)
        : writeBudget_(kWriteGrowthAllowance + kMaxWriteGrowthFactor * inputBytes) {}

    const std::string& refusal() const { return refusal_; }
    // Whether the input was refused for a limit rather than for its syntax.
    bool overLimit() const { return overLimit_; }
    void refuse(std::string why) { refusal_ = std::move(why); }

    // Every value and key may cost a line of its own in the write-back: indentation for its
    // depth, punctuation and a number printed longer than it was written.
    bool charge(std::size_t depth, std::size_t textBytes) {
        constexpr std::size_t kPerLineOverhead = 32;
        const std::size_t cost = 4 * depth + kPerLineOverhead + textBytes;
        if (cost > writeBudget_ - spent_) {
            refusal_ = "the document would grow out of proportion when written back";
            overLimit_ = true;
            return false;
        }
        spent_ += cost;
        return true;
    }

    // A container opened at `depth` (the number of containers around it).
    bool enter(std::size_t depth) {
        if (depth >= kMaxNestingDepth) {
            refusal_ = "nested deeper than " + std::to_string(kMaxNestingDepth) +
                       " levels, more than any bindings file holds";
            overLimit_ = true;
            return false;
        }
        return charge(depth, 0);
    }

  private:
    std::size_t writeBudget_;
    std::size_t spent_ = 0;
    std::string refusal_;
    bool overLimit_ = false;
};

// The parser's explanation without its internals: "[json.exception.parse_error.101] parse
// error at line 1, column 2: syntax error while parsing object key - unexpected end of input;
// expected string literal" becomes "line 1, column 2: unexpected end of input; expected string
// literal".
std::string plainParseError(std::string text) {
    const std::string at = "parse error at ";
    if (const std::size_t start = text.find(at); start != std::string::npos) {
        text.erase(0, start + at.size());
    }
    const std::string syntax = "syntax error while parsing ";
    const std::size_t from = text.find(syntax);
    const std::size_t dash = text.find(" - ", from);
    if (from != std::string::npos && dash != std::string::npos) {
        text.erase(from, dash + 3 - from);
    }
    return text;
}

// What both readers share: the limits, and the parser's own error kept as the refusal.
class LimitedReader : public nlohmann::json_sax<json> {
  public:
    explicit LimitedReader(std::size_t inputBytes) : limits_(inputBytes) {}

    const std::string& refusal() const { return limits_.refusal(); }
    bool overLimit() const { return limits_.overLimit(); }

    bool parse_error(std::size_t /*position*/, const std::string& /*lastToken*/,
                     const nlohmann::json::exception& error) override {
        limits_.refuse(plainParseError(error.what()));
        return false;
    }

  protected:
    InputLimits limits_;
};

// Builds the document like the library's own DOM parser, within InputLimits.
class BoundedDomBuilder final : public LimitedReader {
  public:
    BoundedDomBuilder(json& root, std::size_t inputBytes)
        : LimitedReader(inputBytes), root_(root) {}

    bool null() override { return addValue(nullptr); }
    bool boolean(bool value) override { return addValue(value); }
    bool number_integer(number_integer_t value) override { return addValue(value); }
    bool number_unsigned(number_unsigned_t value) override { return addValue(value); }
    bool number_float(number_float_t value, const string_t& /*text*/) override {
        return addValue(value);
    }
    bool string(string_t& value) override { return addValue(std::move(value)); }
    bool binary(binary_t& value) override { return addValue(std::move(value)); }

    bool start_object(std::size_t /*elements*/) override { return open(json::value_t::object); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t /*elements*/) override { return open(json::value_t::array); }
    bool end_array() override { return close(); }

    bool key(string_t& name) override {
        if (!limits_.charge(open_.size(), name.size())) {
            return false;
        }
        member_ = &(*open_.back())[name];  // a repeated key keeps its last value, as usual
        return true;
    }

  private:
    template <typename Value>
    json* place(Value&& value) {
        if (open_.empty()) {
            root_ = json(std::forward<Value>(value));
            return &root_;
        }
        json& parent = *open_.back();
        if (parent.is_array()) {
            parent.get_ref<json::array_t&>().emplace_back(std::forward<Value>(value));
            return &parent.get_ref<json::array_t&>().back();
        }
        *member_ = json(std::forward<Value>(value));
        return member_;
    }

    template <typename Value>
    bool addValue(Value&& value) {
        if (!limits_.charge(open_.size(), 0)) {
            return false;
        }
        place(std::forward<Value>(value));
        return true;
    }

    bool open(json::value_t type) {
        if (!limits_.enter(open_.size())) {
            return false;
        }
        open_.push_back(place(type));
        return true;
    }

    bool close() {
        open_.pop_back();
        return true;
    }

    json& root_;
    std::vector<json*> open_;  // the containers still being filled, innermost last
    json* member_ = nullptr;   // where the value after the last key goes
};

// Validates like BoundedDomBuilder and keeps only the outline: the root's type and the last
// value of each watched top-level member.
class OutlineScanner final : public LimitedReader {
  public:
    OutlineScanner(DocumentOutline& outline, std::size_t inputBytes)
        : LimitedReader(inputBytes), outline_(outline) {}

    bool null() override { return addValue(json::value_t::null, false); }
    bool boolean(bool value) override { return addValue(json::value_t::boolean, value); }
    bool number_integer(number_integer_t /*value*/) override {
        return addValue(json::value_t::number_integer, false);
    }
    bool number_unsigned(number_unsigned_t /*value*/) override {
        return addValue(json::value_t::number_unsigned, false);
    }
    bool number_float(number_float_t /*value*/, const string_t& /*text*/) override {
        return addValue(json::value_t::number_float, false);
    }
    bool string(string_t& /*value*/) override { return addValue(json::value_t::string, false); }
    bool binary(binary_t& /*value*/) override { return addValue(json::value_t::binary, false); }

    bool start_object(std::size_t /*elements*/) override { return open(json::value_t::object); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t /*elements*/) override { return open(json::value_t::array); }
    bool end_array() override { return close(); }

    bool key(string_t& name) override {
        if (!limits_.charge(depth_, name.size())) {
            return false;
        }
        pending_ = depth_ == 1 ? watchedMember(name) : nullptr;
        return true;
    }

  private:
    bool* watchedMember(const std::string& name) {
        for (auto& [key, isTrue] : outline_.watched) {
            if (key == name) {
                return &isTrue;
            }
        }
        return nullptr;
    }

    // The value after a key is the very next event, so it settles the pending member.
    void note(json::value_t type, bool isTrue) {
        if (depth_ == 0) {
            outline_.type = type;
        } else if (pending_ != nullptr) {
            *pending_ = isTrue;
            pending_ = nullptr;
        }
    }

    bool addValue(json::value_t type, bool isTrue) {
        if (!limits_.charge(depth_, 0)) {
            return false;
        }
        note(type, isTrue);
        return true;
    }

    bool open(json::value_t type) {
        if (!limits_.enter(depth_)) {
            return false;
        }
        note(type, false);
        ++depth_;
        return true;
    }

    bool close() {
        --depth_;
        return true;
    }

    DocumentOutline& outline_;
    std::size_t depth_ = 0;    // the containers open around the next event
    bool* pending_ = nullptr;  // the watched member the next value belongs to
};

// What Windows PowerShell 5's ">" writes: UTF-16 with a byte order mark, or without one, where
// each character of the JSON syntax, all ASCII, comes with a NUL byte. A JSON text in UTF-8
// holds no NUL byte at all, so the first two bytes of a text that failed to parse tell which.
bool looksLikeUtf16(const std::string& bytes) {
    if (bytes.size() < 2) {
        return false;
    }
    const std::string_view start(bytes.data(), 2);
    return start == "\xFF\xFE" || start == "\xFE\xFF" || ((start[0] == '\0') != (start[1] == '\0'));
}

// Runs the parser over `text` with one of the bounded handlers; on failure `cause` says why,
// in the same words whichever handler ran.
template <typename Handler>
Status parseBounded(const std::string& text, Handler& handler) {
    // Not strict: only the first complete value counts, whatever follows it. Comments are a
    // syntax error.
    if (json::sax_parse(text, &handler, json::input_format_t::json, /*strict=*/false,
                        /*ignore_comments=*/false)) {
        return {};
    }
    const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
    // The parser would quote the bytes it stopped at, which need not be text at all.
    return Status::Failed(blank                 ? FailureKind::kEmpty
                          : handler.overLimit() ? FailureKind::kTooLarge
                                                : FailureKind::kNotJson,
                          looksLikeUtf16(text) ? "the file is UTF-16 text; the runtime reads UTF-8"
                                               : ValidUtf8(handler.refusal()));
}

// Whether a failed read was the system refusing it (permission, an I/O error), not a file
// that is no file to parse at all: a directory, or one over the size limit.
bool isRefusedRead(const Status& read) {
    const std::error_code& ec = read.error();
    return ec && ec != std::errc::file_too_large && ec != std::errc::is_a_directory;
}

}  // namespace

Status ReadJsonBytes(const std::filesystem::path& path, std::string& bytes) {
    bytes.clear();
    const std::error_code ec = platform::ReadWholeFile(path, kMaxFileBytes, bytes);
    if (ec == std::errc::file_too_large) {
        return Status::Failed(FailureKind::kTooLarge,
                              "larger than " + std::to_string(kMaxFileBytes >> 20) +
                                  " MiB, more than any bindings file holds",
                              ec);
    }
    if (ec) {
        return Status::FromSystem(ec, FailureKind::kNotReadable, FailureKind::kNotReadable,
                                  ValidUtf8(platform::ErrorText(ec)));
    }
    return {};
}

Status ReadForParsing(const std::filesystem::path& path, const std::string& shown,
                      std::string& bytes) {
    const Status read = ReadJsonBytes(path, bytes);
    return read.Prefixed((isRefusedRead(read) ? "cannot read " : "failed to parse ") + shown +
                         ": ");
}

Status ParseJsonText(const std::string& text, nlohmann::json& document) {
    json parsed;
    BoundedDomBuilder builder(parsed, text.size());
    Status parse = parseBounded(text, builder);
    if (parse.ok()) {
        document = std::move(parsed);
    }
    return parse;
}

Status ScanJsonText(const std::string& text, const std::vector<std::string_view>& watchedKeys,
                    DocumentOutline& outline) {
    outline = DocumentOutline();
    for (std::string_view key : watchedKeys) {
        outline.watched.emplace_back(key, false);
    }
    OutlineScanner scanner(outline, text.size());
    return parseBounded(text, scanner);
}

Status ScanJsonFile(const std::filesystem::path& path,
                    const std::vector<std::string_view>& watchedKeys, DocumentOutline& outline,
                    LoadFailure& failure) {
    std::string bytes;
    failure = LoadFailure::kRead;
    if (Status read = ReadJsonBytes(path, bytes); !read.ok()) {
        return read;
    }
    failure = LoadFailure::kParse;
    Status scan = ScanJsonText(bytes, watchedKeys, outline);
    if (scan.ok()) {
        failure = LoadFailure::kNone;
    }
    return scan;
}

bool HasMarker(const nlohmann::json& doc, const char* key) {
    if (!doc.is_object()) {
        return false;
    }
    const auto member = doc.find(key);
    return member != doc.end() && member->is_boolean() && member->get<bool>();
}

bool HasMarker(const DocumentOutline& outline, std::string_view key) {
    if (outline.type != json::value_t::object) {
        return false;
    }
    for (const auto& [watchedKey, isTrue] : outline.watched) {
        if (watchedKey == key) {
            return isTrue;
        }
    }
    return false;
}

}  // namespace vexlor
