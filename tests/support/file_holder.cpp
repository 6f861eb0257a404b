// Holds a file open without sharing it, as a virus scanner or an editor may, for the time
// given, and then lets it go. A program of its own, so that the hold comes from another
// process, as it does on a user's machine. The event, an inherited handle, is set once the
// file is held.
//   vexlor_file_holder FILE MILLISECONDS EVENT
#include <windows.h>
// shellapi.h builds on windows.h's declarations.
#include <shellapi.h>

#include <cstdint>
#include <cwchar>

int main() {
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (args == nullptr || count != 4) {
        return 2;
    }
    const HANDLE file = ::CreateFileW(args[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    ::SetEvent(reinterpret_cast<HANDLE>(std::wcstoull(args[3], nullptr, 10)));
    ::Sleep(static_cast<DWORD>(std::wcstoul(args[2], nullptr, 10)));
    ::CloseHandle(file);
    return 0;
}
