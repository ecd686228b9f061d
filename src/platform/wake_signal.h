// A wake-up a thread can wait on beside a listening socket: a datagram socket
// on 127.0.0.1 that receives from itself. Closing a listener does not wake a
// pending accept on every platform, and a closed handle number may already
// belong to a new socket, so the accept thread waits on both and is woken by
// a datagram instead.
#pragma once

#include <cstdint>

#include "platform/socket_handle.h"

namespace net {

class WakeSocket {
  public:
    WakeSocket() = default;
    ~WakeSocket();
    WakeSocket(const WakeSocket&) = delete;
    WakeSocket& operator=(const WakeSocket&) = delete;

    bool Open();
    bool IsOpen() const { return m_hSocket != kInvalidSocket; }
    // Any thread: makes a current or the next wait return.
    void Signal();
    // Throws away pending wake-ups.
    void Drain();

    enum class Ready { Listener, Wake, Failed };
    // Blocks until the listener is readable or a wake-up has arrived.
    Ready WaitWithListener(Socket listener);

  private:
    Socket m_hSocket = kInvalidSocket;
    std::uint16_t m_nPort = 0;
};

}  // namespace net
