// Windows half of the console interface. The narrow argv is in the ANSI code page and has
// already lost every character outside it, so the arguments are taken again as UTF-16 from
// the system and converted to UTF-8.
#include "vexlor/support/windows_api.h"
// shellapi.h builds on windows.h's declarations, so it must come after it.
#include <shellapi.h>

#include <cstring>
#include <cwctype>
#include <memory>
#include <ostream>
#include <stdexcept>

#include "arguments.h"
#include "console_output.h"
#include "vexlor/bindings.h"
#include "vexlor/support/wide_text.h"

namespace vexlor::cli {

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const { ::LocalFree(block); }
};

// A lone surrogate would become U+FFFD in UTF-8 -- and so the name of another directory.
std::string toUtf8(const wchar_t* wide, int position) {
    if (HasLoneSurrogate(wide)) {
        throw UnusableArgument("argument " + std::to_string(position) +
                               " is not valid text: it holds half of a UTF-16 surrogate pair");
    }
    std::string text;
    if (!Utf8FromWide(wide, text)) {
        throw std::runtime_error("cannot convert a command-line argument to UTF-8");
    }
    return text;
}

// A path the system cannot resolve is left for the operation to report.
std::wstring fullPath(const std::wstring& path) {
    return FullPath(path).value_or(path);
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
    if (HasDevicePrefix(dir) || longPathsEnabled()) {
        return dir;
    }
    const std::wstring full = fullPath(dir);
    if (full.size() + longestName < MAX_PATH) {
        return dir;
    }
    return ExtendedLengthPath(full);
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
