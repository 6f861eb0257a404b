// Windows text and paths as the system takes them: UTF-16 strings and the extended-length path
// form. The library reaches files through these and the tool turns its arguments into paths
// with them, so a path the tool names is the path the library opens.
#ifndef VEXLOR_SUPPORT_WIDE_TEXT_H_
#define VEXLOR_SUPPORT_WIDE_TEXT_H_

#include <optional>
#include <string>
#include <string_view>

#include "vexlor/support/windows_api.h"

namespace vexlor {

// Half of a surrogate pair standing alone: a Windows name may hold one, Unicode text cannot.
inline bool IsLoneSurrogateAt(std::wstring_view text, std::size_t i) {
    if (IS_HIGH_SURROGATE(text[i])) {
        return i + 1 == text.size() || !IS_LOW_SURROGATE(text[i + 1]);
    }
    return IS_LOW_SURROGATE(text[i]) && (i == 0 || !IS_HIGH_SURROGATE(text[i - 1]));
}

inline bool HasLoneSurrogate(std::wstring_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsLoneSurrogateAt(text, i)) {
            return true;
        }
    }
    return false;
}

// `wide` as UTF-8, each lone surrogate as U+FFFD, so the conversion has nothing it could
// refuse whatever the system's converter does with them. False only when the system cannot
// convert at all.
inline bool Utf8FromWide(std::wstring_view wide, std::string& out) {
    out.clear();
    if (wide.empty()) {
        return true;
    }
    std::wstring valid(wide);
    for (std::size_t i = 0; i < valid.size(); ++i) {
        if (IsLoneSurrogateAt(wide, i)) {
            valid[i] = 0xFFFD;
        }
    }
    const int length = static_cast<int>(valid.size());
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, valid.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return false;
    }
    out.resize(static_cast<std::size_t>(bytes));
    ::WideCharToMultiByte(CP_UTF8, 0, valid.data(), length, out.data(), bytes, nullptr, nullptr);
    return true;
}

// UTF-8 `text` as UTF-16; bytes that are not UTF-8 become U+FFFD.
inline std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (chars <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(chars), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), chars);
    return wide;
}

// Whether `path` is already in a form the system takes literally ("\\?\", "\\.\"): it is
// passed on as it stands.
inline bool HasDevicePrefix(std::wstring_view path) {
    return path.substr(0, 4) == L"\\\\?\\" || path.substr(0, 4) == L"\\\\.\\";
}

// `path` made full as the system would make it, against the current directory and drive;
// nothing when the system cannot resolve it.
inline std::optional<std::wstring> FullPath(const std::wstring& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return std::nullopt;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {  // the directory changed between the two calls
        return std::nullopt;
    }
    full.resize(length);
    return full;
}

// Full path `full` in the extended-length form, which has no MAX_PATH limit where long paths
// are not enabled. The system takes that form literally, so it must already be full.
inline std::wstring ExtendedLengthPath(const std::wstring& full) {
    if (full.rfind(L"\\\\", 0) == 0) {  // \\server\share\...
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

}  // namespace vexlor

#endif  // VEXLOR_SUPPORT_WIDE_TEXT_H_
