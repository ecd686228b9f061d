// A dialog's message map: an ordered table of rows (message, code, id,
// handler), searched from the top; the first matching row handles the
// message and a message that matches no row gets the default handling.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

#include "framework/dialog_message.h"

template <class Dialog>
struct MessageMapRow {
    UINT message;
    // For WM_COMMAND only: the notification code (0 for commands, menu items
    // and button clicks) and the command or control id. Other messages match
    // on the message alone.
    WORD code;
    WORD id;
    MessageReply (Dialog::*handler)(const DialogMessage&);
};

template <class Dialog>
constexpr bool RowMatches(const MessageMapRow<Dialog>& row, const DialogMessage& msg) {
    if (row.message != msg.message) {
        return false;
    }
    if (msg.message != WM_COMMAND) {
        return true;
    }
    return row.code == HIWORD(msg.wParam) && row.id == LOWORD(msg.wParam);
}

// The first matching row, or null.
template <class Dialog, std::size_t N>
const MessageMapRow<Dialog>* FindMessageMapRow(const std::array<MessageMapRow<Dialog>, N>& map,
                                               const DialogMessage& msg) {
    for (const MessageMapRow<Dialog>& row : map) {
        if (RowMatches(row, msg)) {
            return &row;
        }
    }
    return nullptr;
}

template <class Dialog, std::size_t N>
MessageReply DispatchMessageMap(Dialog& dialog, const std::array<MessageMapRow<Dialog>, N>& map,
                                const DialogMessage& msg) {
    const MessageMapRow<Dialog>* row = FindMessageMapRow(map, msg);
    if (row == nullptr) {
        return MessageReply::Default();
    }
    return (dialog.*(row->handler))(msg);
}
