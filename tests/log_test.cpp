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

// After 0 to 3 ASCII bytes, two-, three- and four-byte characters: the cut falls inside one or
// just after one, and keeps exactly the whole characters that fit.
TEST(LogFormatted, CutKeepsOnlyWholeUtf8Characters) {
    for (const std::string character : {"\xC3\xA9", "\xE8\xA8\xAD", "\xF0\x9F\x98\x80"}) {
        for (std::size_t lead = 0; lead < 4; ++lead) {
            std::string text(lead, 'a');
            while (text.size() < 1100) {
                text += character;
            }
            CapturingLogger log;
            LogFormatted(log.logger(), "%s", text.c_str());
            const std::size_t whole = (1023 - lead) / character.size() * character.size();
            EXPECT_EQ(log.messages().at(0), text.substr(0, lead + whole)) << character << lead;
        }
    }
}

// Calling an empty std::function throws, so this fails unless the empty logger is skipped.
TEST(LogFormatted, EmptyLoggerIsNeverCalled) {
    EXPECT_NO_THROW(LogFormatted(Logger{}, "%s\n", "ignored"));
}

}  // namespace
}  // namespace vexlor::testing
