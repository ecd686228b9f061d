// A sealed link opened ahead: parked on its worker once its handshake is
// done, with its first transport message held back (the far relay reaches
// its target only when that comes), until a client takes it.
#include "relay/event/asio_address.h"
#include "relay/event/event_connection.h"
#include "relay/event/spare_links.h"

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

void EventConnection::Park() {
    if (!m_down.out.empty()) {
        // The far relay spoke at once (its refusal at the limit): that is for
        // a client, and the next one will hear it on a link of its own.
        m_worker.spareRefused = Clock::now();
        Close(CloseReason::TargetClosed);
        return;
    }
    m_parked = true;
    m_parkedAt = Clock::now();
    ArmQuietTimer();
    // Anything from the far relay now is its end or its refusal: either way
    // the link is of no use to a client.
    m_target.async_wait(tcp::socket::wait_read, [self = shared_from_this()](std::error_code ec) {
        if (self->m_parked && !self->m_closed && ec != asio::error::operation_aborted) {
            self->m_worker.spareRefused = Clock::now();  // full, or going away: not now
            self->Close(CloseReason::TargetClosed);
        }
    });
}

void EventConnection::AdoptClient(tcp::socket client, const tcp::endpoint& clientEndpoint,
                                  std::uint64_t id) {
    m_spare = false;
    m_parked = false;
    m_host.SpareGone();
    std::error_code ignored;
    m_target.cancel(ignored);  // the watch above; the pumps read the far relay now
    m_client = std::move(client);
    m_report.id = id;
    m_report.client = {ToIpAddress(clientEndpoint.address()), clientEndpoint.port()};
    m_shares = 2;
    m_started = Clock::now();
    m_lastActivity = m_started;
    TuneClient();
    m_host.ConnectionOpened(m_report);
    ArmQuietTimer();
    StartSealedPumps();
}
