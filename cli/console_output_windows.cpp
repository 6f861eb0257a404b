#include "console_output.h"

#include <algorithm>
#include <string_view>

#include "vexlor/support/utf8.h"
#include "vexlor/support/wide_text.h"
#include "vexlor/support/windows_api.h"

namespace vexlor::cli {

namespace {

// Enough to keep a whole status report in one write, small enough to never matter.
constexpr std::size_t kWriteThreshold = 64 * 1024;

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return ::GetConsoleMode(handle, &mode) != 0;
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
        console_ && !includingCutCharacter ? WithoutCutCharacterAtEnd(pending_) : pending_.size();
    const std::string_view text(pending_.data(), ready);
    const bool written =
        console_ ? writeToConsole(handle_, WideFromUtf8(text)) : writeBytes(handle_, text);
    pending_.erase(0, ready);
    return written;
}

}  // namespace vexlor::cli
