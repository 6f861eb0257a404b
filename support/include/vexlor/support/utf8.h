// UTF-8 rules for text that reaches a reader: messages are cut and passed on only where a
// character ends, and bytes that are not UTF-8 are never passed on as they are. The library's
// log and the tool's Windows console follow the same rules, so both take them from here.
#ifndef VEXLOR_SUPPORT_UTF8_H_
#define VEXLOR_SUPPORT_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace vexlor {

// The length of the well-formed UTF-8 sequence at the start of `text`: 1 to 4, or 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a surrogate, a value
// beyond U+10FFFF, or a sequence cut short).
inline std::size_t Utf8SequenceLength(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    // The second byte's range carries the rules against overlong forms, surrogates and values
    // beyond U+10FFFF; every later byte is a plain continuation byte.
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// The length of `text` without the start of a character that its end cuts short, so that a
// cut there never leaves part of a character behind. Other bytes, valid or not, are kept.
inline std::size_t WithoutCutCharacterAtEnd(std::string_view text) {
    // A character is at most four bytes, so a cut one starts within the last three.
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const unsigned char byte = static_cast<unsigned char>(text[text.size() - back]);
        if (byte < 0x80) {
            return text.size();
        }
        if (byte >= 0xC0) {  // the lead byte tells how long its character is
            const std::size_t declared = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return declared > back ? text.size() - back : text.size();
        }
    }
    return text.size();
}

// `text` with every byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD,
// so that it can go anywhere text in UTF-8 is expected.
inline std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = Utf8SequenceLength(text);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    return out;
}

}  // namespace vexlor

#endif  // VEXLOR_SUPPORT_UTF8_H_
