// The library's three public operations as a second build of the verification driver sees
// them: each runs the real operation and then, when asked, misbehaves, so that every check of
// the driver can be made to fail for real and its FAIL line compared.
//
// The Nth call of an operation in the process (N from 1) reads VEXLOR_FAULT_<OPERATION>_<N>,
// OPERATION being PATCH, UNPATCH or WRITE, with fields separated by '|':
//
//   false                 reports failure without running the operation
//   skip                  reports success without running the operation
//   remove|NAME           removes NAME afterwards
//   directory|NAME        puts a directory holding a file in NAME's place afterwards
//   touch|NAME            creates NAME, empty, afterwards
//   edit|NAME|FROM|TO     replaces the first FROM in NAME by TO afterwards
//   env|VARIABLE|VALUE    sets an environment variable of the process afterwards
//
// NAME lies in the operation's directory (for a write, the target's). A fault that cannot be
// carried out ends the process with status 3, so that it never goes unnoticed.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "patch.h"
#include "unpatch.h"
#include "write_back.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> faultOfThisCall(const std::string& operation) {
    static std::map<std::string, int> calls;
    const std::string variable =
        "VEXLOR_FAULT_" + operation + "_" + std::to_string(++calls[operation]);
    std::vector<std::string> fields;
    if (const char* value = std::getenv(variable.c_str())) {
        std::istringstream text(value);
        for (std::string field; std::getline(text, field, '|');) {
            fields.push_back(field);
        }
    }
    return fields;
}

[[noreturn]] void cannotApply(const std::vector<std::string>& fault) {
    std::fprintf(stderr, "fault not applied: %s\n", fault.empty() ? "" : fault[0].c_str());
    std::exit(3);
}

bool editFile(const fs::path& file, const std::string& from, const std::string& to) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string text = bytes.str();
    const std::size_t at = text.find(from);
    if (!in || at == std::string::npos) {
        return false;
    }
    text.replace(at, from.size(), to);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out << text);
}

// Carries out the fault on what the operation left in `dir`; false when it could not.
bool applyAfterwards(const std::vector<std::string>& fault, const fs::path& dir) {
    std::error_code ec;
    const std::string& action = fault[0];
    const fs::path file = fault.size() > 1 ? dir / fault[1] : dir;
    if (action == "remove" && fault.size() == 2) {
        return fs::remove(file, ec);
    }
    if (action == "directory" && fault.size() == 2) {
        fs::remove(file, ec);
        return fs::create_directory(file, ec) && std::ofstream(file / "inside").good();
    }
    if (action == "touch" && fault.size() == 2) {
        return std::ofstream(file).good();
    }
    if (action == "edit" && fault.size() == 4) {
        return editFile(file, fault[2], fault[3]);
    }
    return action == "env" && fault.size() == 3 &&
           ::setenv(fault[1].c_str(), fault[2].c_str(), 1) == 0;
}

bool runWithFault(const std::string& operation, const fs::path& dir,
                  const std::function<bool()>& real) {
    const std::vector<std::string> fault = faultOfThisCall(operation);
    if (fault.empty()) {
        return real();
    }
    if (fault[0] == "false" || fault[0] == "skip") {
        return fault[0] == "skip";
    }
    const bool result = real();
    if (!applyAfterwards(fault, dir)) {
        cannotApply(fault);
    }
    return result;
}

}  // namespace

namespace vexlor {

namespace {

bool reported(const OperationLog& log, const Status& status) {
    log.Report(status);
    return status.ok();
}

}  // namespace

bool AtomicWriteJson(const fs::path& target, const nlohmann::json& j, Logger log) {
    const OperationLog op("patch", std::move(log));
    return runWithFault("WRITE", target.parent_path(),
                        [&] { return reported(op, ReplaceWithJson(target, j, op)); });
}

bool PatchGenericHmdBindingsFile(const fs::path& bindingsDir, Logger log) {
    const OperationLog op("patch", std::move(log));
    return runWithFault("PATCH", bindingsDir,
                        [&] { return reported(op, PatchBindingsDirectory(bindingsDir, op)); });
}

bool UnpatchGenericHmdBindingsFile(const fs::path& bindingsDir, Logger log) {
    const OperationLog op("unpatch", std::move(log));
    return runWithFault("UNPATCH", bindingsDir,
                        [&] { return reported(op, UnpatchBindingsDirectory(bindingsDir, op)); });
}

}  // namespace vexlor
