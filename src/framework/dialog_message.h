// A window message as a dialog's handlers see it, and what they answer.
#pragma once

#include <windows.h>

struct DialogMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class MessageReply {
  public:
    // The handler has dealt with the message; result is the message's result.
    static MessageReply Handled(LRESULT result = 0) { return MessageReply(true, result); }
    // The dialog manager's own handling runs for the message.
    static MessageReply Default() { return MessageReply(false, 0); }

    bool handled() const { return m_handled; }
    LRESULT result() const { return m_result; }

  private:
    MessageReply(bool handled, LRESULT result) : m_handled(handled), m_result(result) {}
    bool m_handled;
    LRESULT m_result;
};
