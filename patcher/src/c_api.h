// The C interface's functions over paths the library already holds as paths: the narrow
// (UTF-8) entry points in bindings_c.cpp and the wide ones of Windows both end here.
#ifndef VEXLOR_C_API_H_
#define VEXLOR_C_API_H_

#include <filesystem>

#include "vexlor/bindings_c.h"

namespace vexlor::c_api {

// A path as the caller handed it over, made a path only inside the functions below, where a
// text that is no path (NULL, or not UTF-8 where that matters) becomes a failure like any other.
struct PathText {
    const char* utf8 = nullptr;
    const wchar_t* wide = nullptr;
};

int Patch(PathText dir, unsigned lockWaitMs, vexlor_log_fn log, void* context, char** resultJson);
int Unpatch(PathText dir, unsigned lockWaitMs, vexlor_log_fn log, void* context, char** resultJson);
int WriteJson(PathText target, const char* jsonText, vexlor_log_fn log, void* context);
char* StatusJson(PathText dir);
char* PatchPlanJson(PathText dir);
char* UnpatchPlanJson(PathText dir);
const char* WordFor(int kind);
const char* SentenceFor(int kind);

}  // namespace vexlor::c_api

#endif  // VEXLOR_C_API_H_
