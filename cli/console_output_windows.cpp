#include "console_output.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string_view>

namespace vexlor::cli {

namespace {

// Enough to keep a whole status report in one write, small enough to never matter.
constexpr std::size_t kWriteThreshold = 64 * 1024;

// The length of `text` without the start of a UTF-8 character that its end cuts short.
std::size_t withoutCutCharacterAtEnd(std::string_view text) {
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

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return ::GetConsoleMode(handle, &mode) != 0;
}

// Bytes that are not UTF-8 become U+FFFD, as they would anywhere else text is shown.
std::wstring toUtf16(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(chars, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), chars);
    return wide;
}

bool writeToConsole(HANDLE console, std::wstring_view text) {
    // Older consoles refuse single writes beyond some 64 KB; a surrogate pair stays whole.
    constexpr std::size_t kPiece = 8192;
    while (!text.empty()) {
        DWORD piece = static_cast<DWORD>(std::min(text.size(), kPiece));
        if (piece > 1 && IS_HIGH_SURROGATE(text[piece - 1])) {
            --piece;
        }
        DWORD written = 0;
        if (!::WriteConsoleW(console, text.data(), piece, &written, nullptr) || written == 0) {
            return false;
        }
        text.remove_prefix(written);
    }
    return true;
}

bool writeBytes(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min(bytes.size(), std::size_t{1} << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), piece, &written, nullptr)) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

ConsoleAwareBuffer::ConsoleAwareBuffer(void* handle)
    : handle_(handle), console_(isConsole(handle)) {}

ConsoleAwareBuffer::~ConsoleAwareBuffer() {
    writePending(true);
}

ConsoleAwareBuffer::int_type ConsoleAwareBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    pending_.push_back(traits_type::to_char_type(c));
    return writeIfLarge() ? c : traits_type::eof();
}

std::streamsize ConsoleAwareBuffer::xsputn(const char* text, std::streamsize count) {
    pending_.append(text, static_cast<std::size_t>(count));
    return writeIfLarge() ? count : 0;
}

int ConsoleAwareBuffer::sync() {
    return writePending(false) ? 0 : -1;
}

bool ConsoleAwareBuffer::writeIfLarge() {
    return pending_.size() < kWriteThreshold || writePending(false);
}

// A file takes the bytes as they come, a cut character included; a console would show the two
// halves of one as two replacement characters, unless it is the last text there is.
bool ConsoleAwareBuffer::writePending(bool includingCutCharacter) {
    const std::size_t ready =
        console_ && !includingCutCharacter ? withoutCutCharacterAtEnd(pending_) : pending_.size();
    const std::string_view text(pending_.data(), ready);
    const bool written =
        console_ ? writeToConsole(handle_, toUtf16(text)) : writeBytes(handle_, text);
    pending_.erase(0, ready);
    return written;
}

}  // namespace vexlor::cli
