// The status report for people: what the library's inspection found, one fact a line.
#ifndef VEXLOR_CLI_STATUS_H_
#define VEXLOR_CLI_STATUS_H_

#include <string>

#include "vexlor/bindings.h"

namespace vexlor::cli {

// One fact a line, for people.
std::string FormatStatusText(const BindingsInspection& status);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_STATUS_H_
