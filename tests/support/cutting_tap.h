// Plays whoever sits between two sealed relays and forges an end of stream:
// bytes pass both ways, but toward `to` only whole frames, and after the
// first `frames` of them the tap ends its stream there, exactly where a
// message ends, as a forged FIN or a middlebox cutting the flow would.
#pragma once

#include <cstdint>

#include "loopback_server.h"

namespace testing_support {

class CuttingTap {
  public:
    CuttingTap(std::uint16_t to, int frames);
    std::uint16_t Port() const { return m_server.Port(); }
    void Stop() { m_server.Stop(); }

  private:
    LoopbackServer m_server;
};

}  // namespace testing_support
