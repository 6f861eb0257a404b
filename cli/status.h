// The status report: what the library's inspection found, for people and for installers.
#ifndef VEXLOR_CLI_STATUS_H_
#define VEXLOR_CLI_STATUS_H_

#include <string>

#include <nlohmann/json.hpp>

#include "vexlor/bindings.h"

namespace vexlor::cli {

// Why there is no report on the inspected directory (it is missing, not a directory, or
// could not be checked), or "" when there is one.
std::string DirectoryProblem(const BindingsInspection& inspection);

// One fact a line, for people.
std::string FormatStatusText(const BindingsInspection& status);

// The same facts as one object with stable keys, for installers.
nlohmann::json StatusToJson(const BindingsInspection& status);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_STATUS_H_
