// POSIX half of the console interface: arguments already arrive as the bytes the user typed,
// which on any current system are UTF-8, and the streams never translate line ends.
#include <iostream>

#include "arguments.h"

namespace vexlor::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::ostream& StandardOutput() {
    return std::cout;
}

std::ostream& StandardError() {
    return std::cerr;
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    // A path is bytes here; taking them as they are also keeps names that are not UTF-8.
    return std::filesystem::path(text);
}

}  // namespace vexlor::cli
