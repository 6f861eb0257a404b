// Windows half of the console interface. The narrow argv is in the ANSI code page and has
// already lost every character outside it, so the arguments are taken again as UTF-16 from
// the system and converted to UTF-8.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// shellapi.h builds on windows.h's declarations, so it must come after it.
#include <shellapi.h>

#include <cstring>
#include <cwctype>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string_view>

#include "arguments.h"
#include "console_output.h"
#include "vexlor/bindings.h"

namespace vexlor::cli {

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const { ::LocalFree(block); }
};

// Half of a surrogate pair standing alone: a Windows name may hold one, Unicode text cannot,
// and the conversion would turn it into U+FFFD -- and so into the name of another directory.
bool hasLoneSurrogate(std::wstring_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1])) {
            ++i;  // a valid pair
        } else if (IS_HIGH_SURROGATE(text[i]) || IS_LOW_SURROGATE(text[i])) {
            return true;
        }
    }
    return false;
}

std::string toUtf8(const wchar_t* wide, int position) {
    if (hasLoneSurrogate(wide)) {
        throw UnusableArgument("argument " + std::to_string(position) +
                               " is not valid text: it holds half of a UTF-16 surrogate pair");
    }
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        throw std::runtime_error("cannot convert a command-line argument to UTF-8");
    }
    std::string text(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), needed, nullptr, nullptr);
    text.pop_back();  // the terminator the conversion counted
    return text;
}

std::wstring fullPath(const std::wstring& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (needed == 0 || length == 0 || length >= needed) {
        return path;  // left for the operation to report
    }
    full.resize(length);
    return full;
}

// Whether the system lets this program use paths of MAX_PATH characters and more: the
// manifest asks for it, and Windows 10 and later grant it when the machine allows it.
bool longPathsEnabled() {
    using Query = BOOLEAN(WINAPI*)();
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlAreLongPathsEnabled")));
    return query != nullptr && query() != 0;
}

// Where long paths are not allowed, a directory whose files would reach MAX_PATH characters is
// named in the extended-length form, which has no such limit.
std::wstring withinPathLimit(const std::wstring& dir) {
    const std::size_t longestName =
        1 + std::strlen(kBindingsFileName) + std::strlen(kBackupSuffix) + std::strlen(kTempSuffix);
    if (dir.rfind(L"\\\\?\\", 0) == 0 || dir.rfind(L"\\\\.\\", 0) == 0 || longPathsEnabled()) {
        return dir;
    }
    const std::wstring full = fullPath(dir);
    if (full.size() + longestName < MAX_PATH) {
        return dir;
    }
    return full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

// No Windows name holds a quote mark, so one inside an argument is the tell-tale of a folder
// written as "C:\my bindings\": the system's rules take a backslash before a quote as an
// escaped quote, keep it, and run on into the next words until a closing quote or the end.
void refuseEscapedQuote(const std::string& argument, int position) {
    if (argument.find('"') == std::string::npos) {
        return;
    }
    throw UnusableArgument(
        "argument " + std::to_string(position) + " is " + argument +
        " -- a backslash just before a closing quote keeps the quote and joins what follows; "
        "write the folder without its last backslash (\"C:\\my bindings\") or double it "
        "(\"C:\\my bindings\\\\\")");
}

}  // namespace

std::vector<std::string> Utf8Arguments(int /*argc*/, char** /*argv*/) {
    int count = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!wide) {
        throw std::runtime_error("cannot read the command line");
    }
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        arguments.push_back(toUtf8(wide.get()[i], i));
        refuseEscapedQuote(arguments.back(), i);
    }
    return arguments;
}

// Both write to the system's handles directly, without the C runtime's text mode, so no "\n"
// becomes "\r\n".
std::ostream& StandardOutput() {
    static ConsoleAwareBuffer buffer(::GetStdHandle(STD_OUTPUT_HANDLE));
    static std::ostream stream(&buffer);
    return stream;
}

std::ostream& StandardError() {
    static ConsoleAwareBuffer buffer(::GetStdHandle(STD_ERROR_HANDLE));
    static std::ostream stream(&buffer);
    stream.setf(std::ios::unitbuf);
    return stream;
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    const std::wstring given = std::filesystem::u8path(text).native();
    // Windows defines "Z:" as the current directory of drive Z, which only the system knows:
    // the standard library would take it for a name without a directory.
    const bool bareDrive = given.size() == 2 && std::iswalpha(given[0]) && given[1] == L':';
    return std::filesystem::path(withinPathLimit(bareDrive ? fullPath(given) : given));
}

}  // namespace vexlor::cli
