// Standard output and standard error on Windows, as both people and programs read them.
#ifndef VEXLOR_CLI_CONSOLE_OUTPUT_H_
#define VEXLOR_CLI_CONSOLE_OUTPUT_H_

#include <streambuf>
#include <string>

namespace vexlor::cli {

// Hands the UTF-8 text written to it on to a Windows handle. A console shows narrow text in
// its code page (437, 866, 932, ...), which lacks most of the characters a path may hold, so a
// console is given the text as UTF-16 through WriteConsoleW, which shows every one of them. A
// file or a pipe is given the UTF-8 bytes unchanged, as the program reading them expects.
// Text waits for a flush, or until much of it has gathered; a character that a flush would
// cut waits for its remaining bytes.
class ConsoleAwareBuffer : public std::streambuf {
  public:
    // `handle` is the system's HANDLE; it stays open when the buffer goes.
    explicit ConsoleAwareBuffer(void* handle);
    ~ConsoleAwareBuffer() override;
    ConsoleAwareBuffer(const ConsoleAwareBuffer&) = delete;
    ConsoleAwareBuffer& operator=(const ConsoleAwareBuffer&) = delete;

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

  private:
    bool writePending(bool includingCutCharacter);
    bool writeIfLarge();

    void* handle_;
    bool console_;
    std::string pending_;
};

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_CONSOLE_OUTPUT_H_
