#include "cutting_tap.h"

#include <string>
#include <thread>

#include "platform/net.h"

namespace testing_support {
namespace {

// Frames of the sealed link: a 2-byte big-endian length, then the message.
std::size_t WholeFrameSize(const std::string& pending) {
    if (pending.size() < 2) {
        return 0;
    }
    const std::size_t size =
        2 + (static_cast<std::uint8_t>(pending[0]) << 8 | static_cast<std::uint8_t>(pending[1]));
    return pending.size() >= size ? size : 0;
}

void PassToEnd(TestSocket& from, TestSocket& to) {
    char chunk[4096];
    for (;;) {
        const int n = net::Recv(from.fd(), chunk, static_cast<int>(sizeof chunk));
        if (n <= 0) {
            break;
        }
        SendAll(to.fd(), chunk, static_cast<std::size_t>(n));
    }
    to.ShutdownSend();
}

}  // namespace

CuttingTap::CuttingTap(std::uint16_t to, int frames)
    : m_server([to, frames](TestSocket& from, int) {
          TestSocket onward = Connect(to);
          // Neither side may hold the tap for ever.
          net::SetReceiveTimeout(from.fd(), 4 * kPatienceMs);
          net::SetReceiveTimeout(onward.fd(), 4 * kPatienceMs);
          std::thread back([&] { PassToEnd(onward, from); });
          std::string pending;
          int passed = 0;
          char chunk[4096];
          while (passed < frames) {
              const int n = net::Recv(from.fd(), chunk, static_cast<int>(sizeof chunk));
              if (n <= 0) {
                  break;
              }
              pending.append(chunk, static_cast<std::size_t>(n));
              for (std::size_t size = WholeFrameSize(pending); size != 0 && passed < frames;
                   size = WholeFrameSize(pending)) {
                  SendAll(onward.fd(), pending.data(), size);
                  pending.erase(0, size);
                  ++passed;
              }
          }
          onward.ShutdownSend();  // the forged end, between two messages
          while (net::Recv(from.fd(), chunk, static_cast<int>(sizeof chunk)) > 0) {
          }
          back.join();
      }) {}

}  // namespace testing_support
