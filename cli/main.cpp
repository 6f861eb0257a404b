// vexlor-bindings: patches, unpatches and reports on a VR compositor bindings directory for
// the people and installers who run it by hand.
//
//   vexlor-bindings patch   BINDINGS_DIR [--quiet]
//   vexlor-bindings unpatch BINDINGS_DIR [--quiet]
//   vexlor-bindings status  BINDINGS_DIR [--json]
//   vexlor-bindings --help | --version
#include <exception>
#include <iostream>

#include "arguments.h"
#include "tool.h"

int main(int argc, char** argv) {
    using namespace vexlor::cli;
    // Nothing may end the program with an abort: an installer must always get a status and
    // a reason it can show.
    try {
        UseBinaryStandardStreams();
        return RunTool(Utf8Arguments(argc, argv), std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "vexlor-bindings: error: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "vexlor-bindings: error: unknown exception\n";
    }
    return kExitFailure;
}
