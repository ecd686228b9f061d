#include "relay/event/sealed_refusal.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "seal/link_sealer.h"

namespace {

using tcp = asio::ip::tcp;

class SealedRefusal : public std::enable_shared_from_this<SealedRefusal> {
  public:
    SealedRefusal(tcp::socket client, const seal::LinkKey& key, std::string text,
                  std::shared_ptr<std::atomic<int>> inProgress)
        : m_socket(std::move(client)),
          m_deadline(m_socket.get_executor()),
          m_sealer(seal::Role::responder, key),
          m_text(std::move(text)),
          m_inProgress(std::move(inProgress)) {}
    ~SealedRefusal() { m_inProgress->fetch_sub(1); }
    SealedRefusal(const SealedRefusal&) = delete;
    SealedRefusal& operator=(const SealedRefusal&) = delete;

    void Start() {
        m_deadline.expires_after(kSealedRefusalDeadline);
        m_deadline.async_wait([self = shared_from_this()](std::error_code ec) {
            if (!ec) {
                self->Finish();
            }
        });
        Read();
    }

  private:
    // Reads the handshake; once answered, reads on only to see the client's end.
    void Read() {
        m_socket.async_read_some(asio::buffer(m_received),
                                 [self = shared_from_this()](std::error_code ec, std::size_t n) {
                                     self->OnRead(ec, n);
                                 });
    }

    void OnRead(std::error_code ec, std::size_t received) {
        if (ec) {
            Finish();
            return;
        }
        if (m_answered) {
            Read();
            return;
        }
        std::vector<std::uint8_t> plain;
        if (m_sealer.Receive({m_received.data(), received}, plain)) {
            Finish();
            return;
        }
        if (!m_sealer.CanSeal()) {
            Read();
            return;
        }
        m_answered = true;
        // The text, then the end marker, so the far relay passes both on as
        // an orderly end.
        m_sealer.Seal({reinterpret_cast<const std::uint8_t*>(m_text.data()), m_text.size()});
        m_sealer.SealEnd();
        m_answer = m_sealer.TakeOutput();
        asio::async_write(m_socket, asio::buffer(m_answer),
                          [self = shared_from_this()](std::error_code ec, std::size_t) {
                              if (ec) {
                                  self->Finish();
                                  return;
                              }
                              // The end of the stream after the text; closing
                              // at once could reset the text away.
                              std::error_code ignored;
                              self->m_socket.shutdown(tcp::socket::shutdown_send, ignored);
                              self->Read();
                          });
    }

    void Finish() {
        std::error_code ignored;
        m_deadline.cancel();
        m_socket.close(ignored);
    }

    tcp::socket m_socket;
    asio::steady_timer m_deadline;
    seal::LinkSealer m_sealer;
    std::string m_text;
    std::shared_ptr<std::atomic<int>> m_inProgress;
    std::array<std::uint8_t, 512> m_received{};
    std::vector<std::uint8_t> m_answer;
    bool m_answered = false;
};

}  // namespace

void RefuseSealed(tcp::socket client, const seal::LinkKey& key, std::string text,
                  const std::shared_ptr<std::atomic<int>>& inProgress) {
    if (inProgress->fetch_add(1) >= kMaxSealedRefusals) {
        inProgress->fetch_sub(1);
        std::error_code ignored;
        client.close(ignored);
        return;
    }
    // The count is given back when the refusal ends, however it ends.
    const auto executor = client.get_executor();
    auto refusal =
        std::make_shared<SealedRefusal>(std::move(client), key, std::move(text), inProgress);
    // Started on the socket's own worker, which runs all that follows.
    asio::post(executor, [refusal] { refusal->Start(); });
}
