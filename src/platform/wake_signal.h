// A wake-up a thread can wait on beside a listening socket. Closing a
// listener does not wake a pending accept on every platform, and a closed
// handle number may already belong to a new socket, so the accept thread
// waits on both and Stop wakes it through this instead. A pipe on POSIX; on
// Windows, where select takes only sockets, a datagram socket on 127.0.0.1
// that receives from itself.
#pragma once

#include <cstdint>

#include "platform/socket_handle.h"

namespace net {

class WakeSignal {
  public:
    WakeSignal() = default;
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool Open();
    // Any thread: makes a current or the next wait return.
    void Signal();
    // Throws away pending wake-ups.
    void Drain();

    enum class Ready { Listener, Wake, Failed };
    // Blocks until the listener is readable or a wake-up has arrived.
    Ready WaitWithListener(Socket listener);

  private:
#ifdef _WIN32
    Socket m_hSocket = kInvalidSocket;
    std::uint16_t m_nPort = 0;
#else
    int m_readEnd = -1;
    int m_writeEnd = -1;
#endif
};

}  // namespace net
