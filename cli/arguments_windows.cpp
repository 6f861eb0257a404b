// Windows half of the console interface. The narrow argv is in the ANSI code page and has
// already lost every character outside it, so the arguments are taken again as UTF-16 from
// the system and converted to UTF-8.
#include <windows.h>
// shellapi.h builds on windows.h's declarations, so it must come after it.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "arguments.h"

namespace vexlor::cli {

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const { ::LocalFree(block); }
};

std::string toUtf8(const wchar_t* wide) {
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        throw std::runtime_error("cannot convert a command-line argument to UTF-8");
    }
    std::string text(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), needed, nullptr, nullptr);
    text.pop_back();  // the terminator the conversion counted
    return text;
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
        arguments.push_back(toUtf8(wide.get()[i]));
    }
    return arguments;
}

void UseBinaryStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::u8path(text);
}

}  // namespace vexlor::cli
