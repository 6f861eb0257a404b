// The Windows API as every Windows source file of the project includes it. Written once so
// that all of them see the same declarations: without NOMINMAX the header's min and max macros
// would break std::min and std::max, and the lean form leaves out what nobody here uses
// (sockets, OLE, the shell; a file that needs the shell includes shellapi.h itself).
#ifndef VEXLOR_SUPPORT_WINDOWS_API_H_
#define VEXLOR_SUPPORT_WINDOWS_API_H_

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The header's ANSI/wide switch would rename the platform layer's ReplaceFile.
#undef ReplaceFile

#endif  // VEXLOR_SUPPORT_WINDOWS_API_H_
