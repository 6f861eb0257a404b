// Performs exactly one library operation, so that a tracer can fail or kill it at any one of
// its system calls and the suite can tell what the library made of that.
//
//   vexlor-fault-runner patch DIR | unpatch DIR | cleanup DIR | atomic-write TARGET
//   vexlor-fault-runner hash FILE     prints the file's length and the library's hash of it
//
// Every logged message goes to standard error as it arrives; the result, "true" or "false",
// goes to standard output; the exit status is 0 for true, 1 for false and 2 for a usage error.
// The legacy cleanup returns nothing, so it reports "true" once it has returned. Exceptions
// are deliberately not caught: one that escapes the library ends the process with a signal,
// which the suite counts as a crash.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "digest.h"
#include "legacy.h"
#include "platform/platform.h"
#include "vexlor/bindings.h"

namespace {

namespace fs = std::filesystem;

// The document the atomic-write operation writes; the suite expects exactly its on-disk form.
nlohmann::json fixedDocument() {
    return {{"hello", "world"},
            {"n", 42},
            {"nested", {{"list", {1, 2, 3}}, {"empty", nlohmann::json::object()}}}};
}

void toStandardError(const char* message) {
    std::fputs(message, stderr);
    std::fflush(stderr);
}

bool runOperation(const std::string& operation, const fs::path& path) {
    const vexlor::Logger log = toStandardError;
    if (operation == "patch") {
        return vexlor::PatchGenericHmdBindingsFile(path, log);
    }
    if (operation == "unpatch") {
        return vexlor::UnpatchGenericHmdBindingsFile(path, log);
    }
    if (operation == "cleanup") {
        vexlor::CleanupLegacyProfiles(path, vexlor::kLegacyControllerType, log);
        return true;
    }
    return vexlor::AtomicWriteJson(path, fixedDocument(), log);
}

// "<length> <hash>", the hash in the 32 hex digits the library's notes use.
int printHash(const fs::path& file) {
    std::string bytes;
    if (vexlor::platform::ReadWholeFile(file, vexlor::kMaxFileBytes, bytes)) {
        return 2;
    }
    vexlor::DigestBuilder digest;
    digest.Add(bytes);
    const vexlor::ContentDigest hash = digest.Finish();
    std::printf("%zu %016llx%016llx\n", bytes.size(), static_cast<unsigned long long>(hash.high),
                static_cast<unsigned long long>(hash.low));
    return 0;
}

bool isKnownOperation(const std::string& operation) {
    return operation == "patch" || operation == "unpatch" || operation == "cleanup" ||
           operation == "atomic-write";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "hash") == 0) {
        return printHash(argv[2]);
    }
    if (argc != 3 || !isKnownOperation(argv[1])) {
        std::fputs(
            "usage: vexlor-fault-runner patch|unpatch|cleanup DIR\n"
            "       vexlor-fault-runner atomic-write TARGET\n",
            stderr);
        return 2;
    }
    const bool result = runOperation(argv[1], argv[2]);
    std::fputs(result ? "true\n" : "false\n", stdout);
    return result ? 0 : 1;
}
