// A document written back to disk in the patcher's on-disk form: streamed in pieces, held to
// the largest file the patcher reads back, and its failures told as a write-back tells them.
#ifndef VEXLOR_WRITE_BACK_H_
#define VEXLOR_WRITE_BACK_H_

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "failure.h"
#include "file_ops.h"
#include "log.h"

namespace vexlor {

// The contents `j` has on disk, streamed: serialized in pieces of a fixed size, refused once
// they pass the largest file the patcher reads back (kTooLarge), or when `j` cannot be
// serialized (a string that is not UTF-8, kNotJson).
ContentProducer StreamedJson(const nlohmann::json& j);

// Whether `j` can be written in the on-disk form, refused as StreamedJson refuses it; the text
// is only counted, never held.
Status CheckSerializable(const nlohmann::json& j);

// Whether `j` in the on-disk form is exactly `bytes`, found while it is serialized: the
// comparison stops at the first piece that differs, and the text is never held whole.
bool SerializesTo(const nlohmann::json& j, const std::string& bytes);

// A replacement of `target` told as a write-back tells it, under the patch's tag whichever
// operation wrote it back: a failure in the words of its step; a replacement that could not
// be flushed is a warning, and a success.
Status ReportWriteBack(const ReplaceResult& result, const std::filesystem::path& target,
                       const OperationLog& log);

// Replaces `target` with `j` in one step, as ReplaceFileContents does.
Status ReplaceWithJson(const std::filesystem::path& target, const nlohmann::json& j,
                       const OperationLog& log);

}  // namespace vexlor

#endif  // VEXLOR_WRITE_BACK_H_
