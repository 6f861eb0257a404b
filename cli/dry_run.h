// --dry-run: what patch or unpatch would change, said on standard output, changing nothing.
#ifndef VEXLOR_CLI_DRY_RUN_H_
#define VEXLOR_CLI_DRY_RUN_H_

#include <ostream>
#include <string>

#include "vexlor/bindings.h"

namespace vexlor::cli {

// The plan's lines, one change a line ("would add /actions/lasermouse"); "" when the plan
// is that the operation would fail.
std::string DescribePatchPlan(const PatchPlan& plan);
std::string DescribeUnpatchPlan(const UnpatchPlan& plan);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_DRY_RUN_H_
