#include "floors.h"

namespace bench {

namespace {

constexpr const char* kBindingsKey = "bindings";

// Only the members of the top-level object are looked at; everything else is just checked.
class MarkerScan {
  public:
    explicit MarkerScan(const std::string& marker) : marker_(marker) {}

    bool null() { return value(false); }
    bool boolean(bool v) { return value(v); }
    bool number_integer(json::number_integer_t) { return value(false); }
    bool number_unsigned(json::number_unsigned_t) { return value(false); }
    bool number_float(json::number_float_t, const json::string_t&) { return value(false); }
    bool string(json::string_t&) { return value(false); }
    bool binary(json::binary_t&) { return value(false); }
    bool start_object(std::size_t) { return open(); }
    bool start_array(std::size_t) { return open(); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(json::string_t& name) {
        atMarker_ = depth_ == 1 && name == marker_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    bool found() const { return found_; }

  private:
    // The last member of a name counts, as in a parsed document.
    bool value(bool isTrue) {
        if (atMarker_) {
            found_ = isTrue;
        }
        atMarker_ = false;
        return true;
    }
    bool open() {
        value(false);
        ++depth_;
        return true;
    }
    bool close() {
        --depth_;
        return true;
    }

    const std::string& marker_;
    int depth_ = 0;
    bool atMarker_ = false;
    bool found_ = false;
};

// The "bindings" object of `document`, or an empty one; never a copy, which would cost the
// floor what no program needs to do.
const json& bindingsOf(const json& document) {
    static const json kNone = json::object();
    const auto found = document.is_object() ? document.find(kBindingsKey) : document.end();
    return found != document.end() && found->is_object() ? *found : kNone;
}

}  // namespace

PatchContent FindPatchContent(const std::string& original, const std::string& patched) {
    const json before = json::parse(original);
    const json after = json::parse(patched);
    const json& beforeBindings = bindingsOf(before);
    PatchContent content;
    for (const auto& [name, value] : bindingsOf(after).items()) {
        const auto old = beforeBindings.find(name);
        if (old == beforeBindings.end() || *old != value) {
            content.actionSets[name] = value;
        }
    }
    for (const auto& [name, value] : after.items()) {
        if (value == true && !(before.is_object() && before.contains(name))) {
            content.markers.push_back(name);
        }
    }
    return content;
}

std::string OnDiskForm(const json& document) {
    return document.dump(4, ' ', false);
}

void ApplyPatch(json& document, const PatchContent& content) {
    json& bindings = document[kBindingsKey];
    for (const auto& [name, value] : content.actionSets.items()) {
        bindings[name] = value;
    }
    for (const std::string& marker : content.markers) {
        document[marker] = true;
    }
}

void UndoPatch(json& document, const json& original, const PatchContent& content) {
    const json& originalBindings = bindingsOf(original);
    json& bindings = document[kBindingsKey];
    for (const auto& [name, value] : content.actionSets.items()) {
        const auto kept = originalBindings.find(name);
        if (kept != originalBindings.end()) {
            bindings[name] = *kept;
        } else {
            bindings.erase(name);
        }
    }
    for (const std::string& marker : content.markers) {
        document.erase(marker);
    }
}

bool CarriesMarker(std::string_view text, const std::string& marker, bool& valid) {
    MarkerScan scan(marker);
    valid = json::sax_parse(text, &scan);
    return valid && scan.found();
}

}  // namespace bench
