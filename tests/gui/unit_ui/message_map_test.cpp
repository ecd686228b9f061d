// The message map is searched in order and matches WM_COMMAND rows on both
// the notification code and the id.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "framework/message_map.h"

namespace {

struct FakeDialog {
    std::string handledBy;
    MessageReply First(const DialogMessage&) { return Record("first", 1); }
    MessageReply Second(const DialogMessage&) { return Record("second", 2); }
    MessageReply Click(const DialogMessage&) { return Record("click", 3); }
    MessageReply Command(const DialogMessage&) { return Record("command", 4); }
    MessageReply Change(const DialogMessage&) { return Record("change", 5); }
    MessageReply Record(const char* name, LRESULT result) {
        handledBy = name;
        return MessageReply::Handled(result);
    }
};

const std::array<MessageMapRow<FakeDialog>, 5> kMap = {{
    {WM_TIMER, 0, 0, &FakeDialog::First},
    {WM_TIMER, 0, 0, &FakeDialog::Second},
    {WM_COMMAND, BN_CLICKED, 1003, &FakeDialog::Click},
    {WM_COMMAND, 0, 32771, &FakeDialog::Command},
    {WM_COMMAND, EN_CHANGE, 1000, &FakeDialog::Change},
}};

TEST(MessageMap, RoutesToTheFirstMatchingRowOrToTheDefault) {
    struct Case {
        DialogMessage msg;
        const char* expected = "";  // empty: no row, default handling
    };
    const Case cases[] = {
        {{WM_TIMER, 2, 0}, "first"},  // rows are searched in order
        {{WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), 0}, "click"},
        {{WM_COMMAND, MAKEWPARAM(32771, 0), 0}, "command"},
        {{WM_COMMAND, MAKEWPARAM(1000, EN_CHANGE), 0}, "change"},
        {{WM_COMMAND, MAKEWPARAM(1000, EN_SETFOCUS), 0}, ""},  // same id, other code
        {{WM_COMMAND, MAKEWPARAM(1004, BN_CLICKED), 0}, ""},   // same code, other id
        {{WM_COMMAND, MAKEWPARAM(1003, BN_DOUBLECLICKED), 0}, ""},
        {{WM_PAINT, 0, 0}, ""},
    };
    for (const Case& c : cases) {
        FakeDialog dialog;
        const MessageReply reply = DispatchMessageMap(dialog, kMap, c.msg);
        EXPECT_EQ(dialog.handledBy, c.expected)
            << "message " << c.msg.message << " wParam " << c.msg.wParam;
        EXPECT_EQ(reply.handled(), *c.expected != '\0');
    }
}

TEST(MessageMap, PassesTheHandlersResultOn) {
    FakeDialog dialog;
    const MessageReply reply = DispatchMessageMap(dialog, kMap, {WM_COMMAND, 32771, 0});
    EXPECT_EQ(reply.result(), 4);
}

}  // namespace
