// The -background switch and the reading of numbers typed into fields.
#include <gtest/gtest.h>

#include <climits>

#include "app/background_switch.h"
#include "framework/dialog_items.h"
#include "framework/message_box.h"
#include "settings/field_integer.h"

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

TEST(FieldNumbers, ReadAsSignedDecimalsWithZeroForNoNumber) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"1987", 1987},
        {"  42", 42},
        {"\t7", 7},
        {"-5", -5},
        {"+8", 8},
        {"12abc", 12},  // digits up to the first non-digit
        {"70000", 70000},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {" - 3", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", 0},  // out of range, as the system's reading reports it
        {"99999999999999999999", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadFieldInteger(c.text), c.value) << '"' << c.text << '"';
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
