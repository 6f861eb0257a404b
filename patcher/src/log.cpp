#include "log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "vexlor/support/utf8.h"

namespace vexlor {

namespace {

// Formats after `prefix` into one buffer and hands the whole to `log`. vsnprintf always
// terminates and drops what does not fit; a cut message is still worth delivering.
void logAfter(const Logger& log, const std::string& prefix, const char* format, va_list args) {
    char buffer[kLogBufferSize];
    const std::size_t start = std::min(prefix.size(), sizeof buffer - 1);
    std::memcpy(buffer, prefix.data(), start);
    const int length = std::vsnprintf(buffer + start, sizeof buffer - start, format, args);
    buffer[start + (length < 0 ? 0 : std::min<std::size_t>(length, sizeof buffer - 1 - start))] =
        '\0';
    // A cut in the middle of a character would hand on text that is not UTF-8 at all, so the
    // cut moves back to where the last whole character ends.
    if (length >= 0 && start + static_cast<std::size_t>(length) >= sizeof buffer) {
        buffer[WithoutCutCharacterAtEnd(std::string_view(buffer, sizeof buffer - 1))] = '\0';
    }
    log(buffer);
}

}  // namespace

void LogFormatted(const Logger& log, const char* format, ...) {
    if (!log) {
        return;
    }
    va_list args;
    va_start(args, format);
    logAfter(log, std::string(), format, args);
    va_end(args);
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length < 0 ? 0 : static_cast<std::size_t>(length), '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

Logger KeepLastMessage(std::string& last) {
    return [&last](const char* message) { last = message; };
}

OperationLog::OperationLog(const char* operation, Logger sink)
    : tag_(std::string("Vexlor[") + operation + "]: "), sink_(std::move(sink)) {}
// WithoutTag below knows this form of the tag.

void OperationLog::Say(const char* format, ...) const {
    if (!sink_) {
        return;
    }
    va_list args;
    va_start(args, format);
    logAfter(sink_, tag_, format, args);
    va_end(args);
}

void OperationLog::Report(const Status& status) const {
    if (status.ok()) {
        return;
    }
    if (status.reportedAs() != nullptr) {
        OperationLog(status.reportedAs(), sink_).Say("%s\n", status.message().c_str());
    } else {
        Say("%s\n", status.message().c_str());
    }
}

std::string OperationLog::Line(const std::string& body) const {
    return tag_ + body + "\n";
}

std::string_view OperationLog::WithoutTag(std::string_view line) {
    constexpr std::string_view kTagStart = "Vexlor[";
    constexpr std::string_view kTagEnd = "]: ";
    if (const std::size_t end = line.find(kTagEnd);
        line.substr(0, kTagStart.size()) == kTagStart && end != std::string_view::npos) {
        line.remove_prefix(end + kTagEnd.size());
    }
    return line;
}

OperationLog OperationLog::Recording(OperationRecord* record) const {
    OperationLog other = *this;
    other.record_ = record;
    return other;
}

void OperationLog::Did(const char* outcome) const {
    if (record_ != nullptr) {
        record_->outcome = outcome;
    }
}

void OperationLog::Wrote(const std::filesystem::path& file) const {
    if (record_ == nullptr) {
        return;
    }
    // A file written again by a later attempt of the same run is one file written.
    const std::string shown = platform::DisplayPath(file);
    if (std::find(record_->written.begin(), record_->written.end(), shown) ==
        record_->written.end()) {
        record_->written.push_back(shown);
    }
}

void OperationLog::Removed(const std::filesystem::path& file) const {
    if (record_ != nullptr) {
        record_->removed.push_back(platform::DisplayPath(file));
    }
}

OperationLog OperationLog::To(Logger sink) const {
    OperationLog other = *this;
    other.sink_ = std::move(sink);
    return other;
}

}  // namespace vexlor
