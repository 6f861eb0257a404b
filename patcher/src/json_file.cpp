#include "json_file.h"

#include <utility>
#include <vector>

#include "failure.h"
#include "platform.h"
#include "utf8.h"

namespace vexlor {

namespace {

using json = nlohmann::json;

// Builds the document like the library's own DOM parser, but refuses input deeper than
// kMaxNestingDepth (the serializer and comparisons recurse, so depth is stack) and input whose
// pretty-printed form would be out of all proportion to its size (deep nesting costs four
// spaces per level on every line of the write-back).
class BoundedDomBuilder final : public nlohmann::json_sax<json> {
  public:
    BoundedDomBuilder(json& root, std::size_t inputBytes)
        : root_(root), writeBudget_(kWriteGrowthAllowance + kMaxWriteGrowthFactor * inputBytes) {}

    const std::string& refusal() const { return refusal_; }
    bool overLimit() const { return overLimit_; }

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
        if (!charge(name.size())) {
            return false;
        }
        member_ = &(*open_.back())[name];  // a repeated key keeps its last value, as usual
        return true;
    }

    bool parse_error(std::size_t /*position*/, const std::string& /*lastToken*/,
                     const nlohmann::detail::exception& error) override {
        refusal_ = error.what();
        return false;
    }

  private:
    // Every value and key may cost a line of its own in the write-back: indentation for its
    // depth, punctuation and a number printed longer than it was written.
    bool charge(std::size_t textBytes) {
        constexpr std::size_t kPerLineOverhead = 32;
        const std::size_t cost = 4 * open_.size() + kPerLineOverhead + textBytes;
        if (cost > writeBudget_ - spent_) {
            refusal_ = "the document would grow out of proportion when written back";
            overLimit_ = true;
            return false;
        }
        spent_ += cost;
        return true;
    }

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
        if (!charge(0)) {
            return false;
        }
        place(std::forward<Value>(value));
        return true;
    }

    bool open(json::value_t type) {
        if (open_.size() >= kMaxNestingDepth) {
            refusal_ = "nested deeper than " + std::to_string(kMaxNestingDepth) +
                       " levels, more than any bindings file holds";
            overLimit_ = true;
            return false;
        }
        if (!charge(0)) {
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
    std::size_t writeBudget_;
    std::size_t spent_ = 0;
    std::string refusal_;
    bool overLimit_ = false;
};

// What a text that failed to parse tells its reader.
FailureKind parseFailureKind(const std::string& text, const BoundedDomBuilder& builder) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        return FailureKind::kEmpty;
    }
    return builder.overLimit() ? FailureKind::kTooLarge : FailureKind::kNotJson;
}

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

}  // namespace

bool LoadJsonFile(const std::filesystem::path& path, JsonFile& out, std::string& cause) {
    LoadFailure failure = LoadFailure::kNone;
    return LoadJsonFile(path, out, cause, failure);
}

bool LoadJsonFile(const std::filesystem::path& path, JsonFile& out, std::string& cause,
                  LoadFailure& failure) {
    failure = LoadFailure::kNone;
    out.bytes.clear();
    if (std::error_code ec = platform::ReadWholeFile(path, kMaxFileBytes, out.bytes)) {
        failure = LoadFailure::kRead;
        NoteSystemFailure(
            ec, FailureKind::kNotReadable,
            ec == std::errc::file_too_large ? FailureKind::kTooLarge : FailureKind::kNotReadable);
        if (ec == std::errc::file_too_large) {
            cause = "larger than " + std::to_string(kMaxFileBytes >> 20) +
                    " MiB, more than any bindings file holds";
        } else {
            cause = ValidUtf8(platform::ErrorText(ec));
        }
        return false;
    }
    if (!ParseJsonText(out.bytes, out.document, cause)) {
        failure = LoadFailure::kParse;
        return false;
    }
    return true;
}

bool ParseJsonText(const std::string& text, nlohmann::json& document, std::string& cause) {
    json parsed;
    BoundedDomBuilder builder(parsed, text.size());
    // Not strict: only the first complete value counts, whatever follows it. Comments are a
    // syntax error.
    if (!json::sax_parse(text, &builder, json::input_format_t::json, /*strict=*/false,
                         /*ignore_comments=*/false)) {
        NoteFailure(parseFailureKind(text, builder));
        // The parser would quote the bytes it stopped at, which need not be text at all.
        cause = looksLikeUtf16(text) ? "the file is UTF-16 text; the runtime reads UTF-8"
                                     : ValidUtf8(builder.refusal());
        return false;
    }
    document = std::move(parsed);
    return true;
}

bool HasMarker(const nlohmann::json& doc, const char* key) {
    if (!doc.is_object()) {
        return false;
    }
    const auto member = doc.find(key);
    return member != doc.end() && member->is_boolean() && member->get<bool>();
}

}  // namespace vexlor
