#include "replace_seam.h"

#include <utility>

#include "file_ops.h"
#include "platform/platform.h"

namespace vexlor::testing {

namespace {

using platform::CarriedOver;
using platform::ContentWriter;

std::function<void(const std::filesystem::path&)>& hook() {
    static std::function<void(const std::filesystem::path&)> current;
    return current;
}

}  // namespace

void WhenTemporaryWritten(std::function<void(const std::filesystem::path& target)> next) {
    hook() = std::move(next);
}

}  // namespace vexlor::testing

// The names the linker gives the streaming write once it is wrapped (tests/CMakeLists.txt).
#define VEXLOR_STREAMING_WRITE                                                                    \
    "_ZN6vexlor8platform19WriteNewFileDurablyERKNSt10filesystem7__cxx114pathERKSt8functionIFSt10" \
    "error_codeRKS6_IFS7_St17basic_string_viewIcSt11char_traitsIcEEEEEES5_PNS0_11CarriedOverE"

std::error_code realStreamingWrite(
    const std::filesystem::path& path, const vexlor::platform::ContentWriter& content,
    const std::filesystem::path& model,
    vexlor::platform::CarriedOver* carried) __asm__("__real_" VEXLOR_STREAMING_WRITE);

std::error_code wrappedStreamingWrite(
    const std::filesystem::path& path, const vexlor::platform::ContentWriter& content,
    const std::filesystem::path& model,
    vexlor::platform::CarriedOver* carried) __asm__("__wrap_" VEXLOR_STREAMING_WRITE);

std::error_code wrappedStreamingWrite(const std::filesystem::path& path,
                                      const vexlor::platform::ContentWriter& content,
                                      const std::filesystem::path& model,
                                      vexlor::platform::CarriedOver* carried) {
    const std::error_code ec = realStreamingWrite(path, content, model, carried);
    // Only a replacement writes its temporary file beside the target it models.
    if (!ec && vexlor::testing::hook() && path == vexlor::SiblingPath(model, vexlor::kTempSuffix)) {
        vexlor::testing::hook()(model);
    }
    return ec;
}
