// vexlor-bindings: patches, unpatches and reports on a VR compositor bindings directory for
// the people and installers who run it by hand.
//
//   vexlor-bindings patch   BINDINGS_DIR [--quiet]
//   vexlor-bindings unpatch BINDINGS_DIR [--quiet]
//   vexlor-bindings status  BINDINGS_DIR [--json]
//   vexlor-bindings --help | --version
#include <exception>
#include <ostream>

#include "arguments.h"
#include "command_line.h"
#include "tool.h"

int main(int argc, char** argv) {
    using namespace vexlor::cli;
    std::ostream& err = StandardError();
    // Nothing may end the program with an abort: an installer must always get a status and
    // a reason it can show.
    try {
        return RunTool(Utf8Arguments(argc, argv), StandardOutput(), err);
    } catch (const UnusableArgument& e) {
        err << "vexlor-bindings: " << e.what() << "\n" << UsageText();
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "vexlor-bindings: error: " << e.what() << "\n";
    } catch (...) {
        err << "vexlor-bindings: error: unknown exception\n";
    }
    return kExitFailure;
}
