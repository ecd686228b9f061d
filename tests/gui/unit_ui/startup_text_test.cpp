// The -background switch and the text of messages.
#include <gtest/gtest.h>

#include "app/background_switch.h"
#include "framework/message_box.h"

namespace {

TEST(BackgroundSwitch, OnlyTheLastElevenCharactersCount) {
    struct Case {
        const char* line;
        bool hidden;
    };
    const Case cases[] = {
        {"\"C:\\Vorlane\\Vorlane.exe\" -background", true},
        {"Vorlane.exe --background", true},  // only the tail is compared
        {"Vorlane.exe fast-background", true},
        {"-background", true},
        {"Vorlane.exe -Background", false},
        {"Vorlane.exe -BACKGROUND", false},
        {"Vorlane.exe -background ", false},
        {"Vorlane.exe \"-background\"", false},
        {"Vorlane.exe -background now", false},
        {"background", false},  // shorter than the switch: compared whole
        {"", false},
        {nullptr, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EndsWithBackgroundSwitch(c.line), c.hidden) << (c.line ? c.line : "(null)");
    }
}

// The accept-error message carries a full-width comma, which no single-byte
// code page has: the message box text is converted from UTF-8.
TEST(MessageText, KeepsCharactersOutsideTheCodePage) {
    EXPECT_EQ(WideFromUtf8("accept error\xEF\xBC\x8C"
                           "errorid=10054"),
              L"accept error\uFF0Cerrorid=10054");
    EXPECT_EQ(WideFromUtf8(""), L"");
}

}  // namespace
