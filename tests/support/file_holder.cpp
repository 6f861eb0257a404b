// Another program holding a file open without sharing, as a virus scanner may:
//   vexlor_file_holder FILE MILLISECONDS EVENT   (EVENT: inherited handle, set once it holds)
#include <windows.h>
// shellapi.h builds on windows.h's declarations.
#include <shellapi.h>

#include <cwchar>

int main() {
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const HANDLE file = count != 4 ? INVALID_HANDLE_VALUE
                                   : ::CreateFileW(args[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    ::SetEvent(reinterpret_cast<HANDLE>(std::wcstoull(args[3], nullptr, 10)));
    ::Sleep(std::wcstoul(args[2], nullptr, 10));
    return ::CloseHandle(file) ? 0 : 1;
}
