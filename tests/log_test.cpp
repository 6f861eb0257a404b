#include <string>

#include <gtest/gtest.h>

#include "log.h"
#include "test_support.h"

namespace vexlor::testing {
namespace {

TEST(LogFormatted, FormatsPrintfStyleAndAddsNothing) {
    CapturingLogger log;
    LogFormatted(log.logger(), "Vexlor[patch]: %s then %s\n", "first", "second");
    EXPECT_EQ(log.messages(), std::vector<std::string>{"Vexlor[patch]: first then second\n"});
}

TEST(LogFormatted, MessageOfExactly1023CharactersArrivesWhole) {
    CapturingLogger log;
    const std::string text(1023, 'a');
    LogFormatted(log.logger(), "%s", text.c_str());
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0], text);
}

TEST(LogFormatted, LongerMessagesAreCutTo1023Characters) {
    for (const std::size_t length : {1024u, 1025u, 100000u}) {
        CapturingLogger log;
        std::string text(length, 'b');
        text[1022] = 'L';  // the last character that fits
        text[1023] = 'X';  // the first one that does not
        LogFormatted(log.logger(), "%s", text.c_str());
        ASSERT_EQ(log.messages().size(), 1u) << length;
        EXPECT_EQ(log.messages()[0], text.substr(0, 1023)) << length;
    }
}

TEST(LogFormatted, CutAppliesToTheFormattedTextNotToTheArguments) {
    CapturingLogger log;
    const std::string half(600, 'c');
    LogFormatted(log.logger(), "%s|%s", half.c_str(), half.c_str());
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0], half + "|" + std::string(1023 - 601, 'c'));
}

// A cut after the first byte of a two-, three- or four-byte character leaves all of it out.
TEST(LogFormatted, CutNeverSplitsAUtf8Character) {
    for (const std::string character : {"\xC3\xA9", "\xE8\xA8\xAD", "\xF0\x9F\x98\x80"}) {
        CapturingLogger log;
        LogFormatted(log.logger(), "%s%s", std::string(1022, 'a').c_str(), character.c_str());
        EXPECT_EQ(log.messages().at(0), std::string(1022, 'a')) << character;
    }
}

// Calling an empty std::function throws, so this fails unless the empty logger is skipped.
TEST(LogFormatted, EmptyLoggerIsNeverCalled) {
    EXPECT_NO_THROW(LogFormatted(Logger{}, "%s\n", "ignored"));
}

}  // namespace
}  // namespace vexlor::testing
