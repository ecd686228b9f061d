#pragma once

#include "platform/socket_handle.h"

// Sends the whole buffer, repeating partial sends; stops at the first send
// that fails or sends nothing. Returns the count sent (0 for a length <= 0).
int SendAll(net::Socket socket, const char* data, int length);
