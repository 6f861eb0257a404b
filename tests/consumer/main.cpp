// Uses the installed library the way a downstream program would: writes a small bindings file
// into the directory it is given, patches it, checks the marker, the backup and what the
// inspection reports, unpatches it and checks that the original bytes are back. Exits 0 only
// when every step held.
//
//   vexlor_consumer SCRATCH_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <vexlor/bindings.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

const char kOriginal[] = "{\n    \"bindings\": {},\n    \"controller_type\": \"generic_hmd\"\n}";

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int fail(const char* what) {
    std::fprintf(stderr, "vexlor_consumer: FAIL: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vexlor_consumer SCRATCH_DIR\n");
        return 2;
    }
    const fs::path dir = argv[1];
    const fs::path file = dir / vexlor::kBindingsFileName;
    const fs::path backup = dir / (std::string(vexlor::kBindingsFileName) + vexlor::kBackupSuffix);
    vexlor::Logger log = [](const char* message) { std::fputs(message, stderr); };

    fs::create_directories(dir);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << kOriginal;
        if (!out.flush()) {
            return fail("writing the bindings file");
        }
    }

    if (!vexlor::PatchGenericHmdBindingsFile(dir, log)) {
        return fail("PatchGenericHmdBindingsFile returned false");
    }
    const nlohmann::json patched = nlohmann::json::parse(readBytes(file));
    if (!patched.contains("vexlor_patched_v2") || patched["vexlor_patched_v2"] != true) {
        return fail("the patched file has no \"vexlor_patched_v2\": true");
    }
    if (!patched["bindings"].contains("/actions/lasermouse")) {
        return fail("the patched file has no /actions/lasermouse bindings");
    }
    if (!fs::is_regular_file(backup) || readBytes(backup) != kOriginal) {
        return fail("the backup is missing or differs from the original bytes");
    }
    const vexlor::BindingsInspection seen = vexlor::InspectGenericHmdBindingsFile(dir);
    if (seen.bindingsFile.state != vexlor::BindingsFileState::kPatched ||
        seen.backup.size != sizeof kOriginal - 1) {
        return fail("InspectGenericHmdBindingsFile does not report the patch and its backup");
    }

    if (!vexlor::UnpatchGenericHmdBindingsFile(dir, log)) {
        return fail("UnpatchGenericHmdBindingsFile returned false");
    }
    if (readBytes(file) != kOriginal) {
        return fail("after unpatch the file differs from the original bytes");
    }

    std::printf("vexlor_consumer: patch and unpatch round trip OK in %s (library %s)\n",
                file.string().c_str(), VEXLOR_BINDINGS_VERSION_STRING);
    return 0;
}
