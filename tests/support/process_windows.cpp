// Windows half of RunProcess: CreateProcessW with a command line quoted the way the C
// runtime splits it again, standard output and error captured through pipes.
#include "vexlor/support/windows_api.h"

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "run_process.h"

namespace vexlor::testing {

namespace {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int length = static_cast<int>(utf8.size());
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(chars), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), chars);
    return wide;
}

// Quotes one argument so that CommandLineToArgvW and the C runtime give it back unchanged:
// backslashes count only before a quote, where they are doubled, and the quote is escaped.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            out.append(2 * backslashes + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, L'\\');  // they precede the closing quote
    out.push_back(L'"');
    return out;
}

std::wstring commandLine(const std::filesystem::path& program,
                         const std::vector<std::string>& args) {
    std::wstring line = quoted(program.native());
    for (const std::string& arg : args) {
        line += L' ';
        line += quoted(widen(arg));
    }
    return line;
}

class OwnedHandle {
  public:
    explicit OwnedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (valid()) {
            ::CloseHandle(handle_);
        }
        handle_ = handle;
    }

  private:
    HANDLE handle_;
};

// One of the child's output streams: a pipe whose write end the child inherits and whose read
// end a thread of ours drains as the child writes, so a chatty child never blocks on a full
// pipe. Pipes rather than files in the temporary directory, because tests point the
// temporary directory variables somewhere else for the child.
class CapturePipe {
  public:
    CapturePipe() {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read = INVALID_HANDLE_VALUE;
        HANDLE write = INVALID_HANDLE_VALUE;
        if (!::CreatePipe(&read, &write, &inherit, 0)) {
            return;
        }
        read_.reset(read);
        write_.reset(write);
        // Only the write end goes to the child.
        ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        drain_ = std::thread([this] { drain(); });
    }
    CapturePipe(const CapturePipe&) = delete;
    CapturePipe& operator=(const CapturePipe&) = delete;
    ~CapturePipe() { contents(); }

    bool valid() const { return read_.valid(); }
    HANDLE childEnd() const { return write_.get(); }
    // Once the child has its copy, ours must go, or the pipe would never report its end.
    void closeChildEnd() { write_.reset(); }
    const std::string& contents() {
        closeChildEnd();
        if (drain_.joinable()) {
            drain_.join();
        }
        return bytes_;
    }

  private:
    void drain() {
        char chunk[4096];
        DWORD got = 0;
        while (::ReadFile(read_.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
            bytes_.append(chunk, got);
        }
    }

    OwnedHandle read_;
    OwnedHandle write_;
    std::string bytes_;
    std::thread drain_;
};

// Passes exactly the three standard handles to the child, so handles other threads open at
// the same moment are never inherited by accident.
class InheritOnly {
  public:
    explicit InheritOnly(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        ok_ = ::InitializeProcThreadAttributeList(list_, 1, 0, &size) &&
              ::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                          handles_.data(), handles_.size() * sizeof(HANDLE),
                                          nullptr, nullptr);
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;
    ~InheritOnly() {
        if (list_ != nullptr) {
            ::DeleteProcThreadAttributeList(list_);
        }
    }
    bool ok() const { return ok_; }
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

  private:
    std::vector<HANDLE> handles_;
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool ok_ = false;
};

// A process ended by an unhandled exception (an access violation, an abort) reports the
// exception's status, whose two top bits mark an error; no program here exits with one.
bool diedOfException(DWORD exitCode) {
    return (exitCode & 0xC0000000u) == 0xC0000000u;
}

// A console program's text-mode streams end lines in CR LF on Windows; the tests compare what
// a text-mode reader sees, the same bytes on every system.
std::string asText(std::string bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) {
            text.push_back(bytes[i]);
        }
    }
    return text;
}

std::string lastErrorText(const char* what) {
    return std::string(what) + " failed with Windows error " + std::to_string(::GetLastError());
}

}  // namespace

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workingDir) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    OwnedHandle in(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr));
    CapturePipe out, err;
    if (!in.valid() || !out.valid() || !err.valid()) {
        result.err = lastErrorText("setting up the standard handles");
        return result;
    }
    InheritOnly inherit({in.get(), out.childEnd(), err.childEnd()});
    if (!inherit.ok()) {
        result.err = lastErrorText("restricting handle inheritance");
        return result;
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = in.get();
    startup.StartupInfo.hStdOutput = out.childEnd();
    startup.StartupInfo.hStdError = err.childEnd();
    startup.lpAttributeList = inherit.get();

    std::wstring line = commandLine(program, args);  // CreateProcessW may write into it
    PROCESS_INFORMATION info{};
    const bool started = ::CreateProcessW(
        program.c_str(), line.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr,
        workingDir.empty() ? nullptr : workingDir.c_str(), &startup.StartupInfo, &info);
    if (!started) {
        result.err = lastErrorText(("starting " + program.u8string()).c_str());
        return result;
    }
    out.closeChildEnd();
    err.closeChildEnd();
    OwnedHandle process(info.hProcess);
    OwnedHandle thread(info.hThread);
    result.out = asText(out.contents());
    result.err = asText(err.contents());
    DWORD exitCode = 0;
    if (::WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(process.get(), &exitCode) && !diedOfException(exitCode)) {
        result.exitCode = static_cast<int>(exitCode);
    }
    return result;
}

unsigned long CurrentProcessId() {
    return ::GetCurrentProcessId();
}

}  // namespace vexlor::testing
