// POSIX half of the console interface: arguments already arrive as the bytes the user typed,
// which on any current system are UTF-8, and the streams never translate line ends.
#include <cstdio>
#include <ostream>
#include <streambuf>

#include "arguments.h"

namespace vexlor::cli {

namespace {

// Hands what is written to it straight to a C stream, as std::cout and std::cerr do: standard
// output buffered, standard error not, and a failed write seen at the next flush. Made at
// first use, unlike those two, whose initialisation, locales and all, every run would pay
// before main even for --version.
class StdioBuffer final : public std::streambuf {
  public:
    explicit StdioBuffer(std::FILE* file) : file_(file) {}

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
        }
        return std::fputc(traits_type::to_char_type(c), file_) == EOF ? traits_type::eof() : c;
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        return static_cast<std::streamsize>(
            std::fwrite(text, 1, static_cast<std::size_t>(count), file_));
    }

    int sync() override { return std::fflush(file_) == 0 ? 0 : -1; }

  private:
    std::FILE* file_;
};

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::ostream& StandardOutput() {
    static StdioBuffer buffer(stdout);
    static std::ostream stream(&buffer);
    return stream;
}

std::ostream& StandardError() {
    static StdioBuffer buffer(stderr);
    static std::ostream stream(&buffer);
    return stream;
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    // A path is bytes here; taking them as they are also keeps names that are not UTF-8.
    return std::filesystem::path(text);
}

}  // namespace vexlor::cli
