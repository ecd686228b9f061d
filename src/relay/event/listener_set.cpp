#include "relay/event/listener_set.h"

#include <asio/ip/v6_only.hpp>

#include "platform/net.h"
#include "relay/event/asio_address.h"

namespace {

using tcp = asio::ip::tcp;

// Accepted sockets take these from their listener where the system passes
// them on; elsewhere each connection sets them on its client.
void TuneListener(tcp::acceptor& acceptor) {
    if (!net::kAcceptedSocketsKeepTuning) {
        return;
    }
    std::error_code ignored;
    acceptor.set_option(tcp::no_delay(true), ignored);
    net::SetKeepAliveTimes(static_cast<net::Socket>(acceptor.native_handle()));
}

struct AcceptorOptions {
    bool dualStack = false;
    bool sharePort = false;
    std::optional<int> backlog;  // none: bound, not listening
};

std::error_code OpenAcceptor(tcp::acceptor& acceptor, const tcp::endpoint& endpoint,
                             const AcceptorOptions& options, ListenStep& step) {
    std::error_code ec;
    acceptor.close(ec);
    step = ListenStep::Socket;
    acceptor.open(endpoint.protocol(), ec);
    if (ec) {
        return ec;
    }
    if (options.dualStack) {
        acceptor.set_option(asio::ip::v6_only(false), ec);
    }
    const auto handle = static_cast<net::Socket>(acceptor.native_handle());
    net::AllowPortReuse(handle);
    if (options.sharePort) {
        net::SharePort(handle);
    }
    step = ListenStep::Bind;
    acceptor.bind(endpoint, ec);
    if (ec || !options.backlog) {
        return ec;
    }
    TuneListener(acceptor);
    step = ListenStep::Listen;
    acceptor.listen(*options.backlog, ec);
    return ec;
}

}  // namespace

ListenerSet::ListenerSet(const std::vector<std::unique_ptr<EventWorker>>& workers) {
    for (const auto& worker : workers) {
        m_listeners.push_back(std::make_unique<EventListener>(*worker));
        if (!net::kListenersSharePort) {
            break;
        }
    }
}

std::optional<StartFailure> ListenerSet::Open(const net::IpAddress& bind, std::uint16_t port,
                                              int backlog) {
    std::vector<tcp::endpoint> choices;
    if (bind.IsUnspecified()) {
        choices.emplace_back(tcp::v6(), port);
        choices.emplace_back(tcp::v4(), port);
    } else {
        choices.emplace_back(ToAsioAddress(bind), port);
    }
    StartFailure failure;
    for (const tcp::endpoint& endpoint : choices) {
        const bool dualStack = endpoint.protocol() == tcp::v6() && bind.IsUnspecified();
        failure.error = OpenGroup(endpoint, dualStack, backlog, failure.step);
        if (!failure.error) {
            return std::nullopt;
        }
        Close();
        // A taken port is taken for both families; only a missing family is worth the next try.
        if (failure.error != asio::error::address_family_not_supported) {
            break;
        }
    }
    return failure;
}

// A listener that shares its port would also share it, silently, with another
// relay that listens there already: the port is first bound alone, as a single
// listener binds it, which fails when the port is taken and learns port 0's
// port. Then every acceptor binds that port, shared, and listens.
std::error_code ListenerSet::OpenGroup(const tcp::endpoint& endpoint, bool dualStack, int backlog,
                                       ListenStep& step) {
    tcp::acceptor& first = m_listeners.front()->acceptor;
    if (!SharePort()) {
        return OpenAcceptor(first, endpoint, {dualStack, false, backlog}, step);
    }
    std::error_code ec = OpenAcceptor(first, endpoint, {dualStack, false, std::nullopt}, step);
    if (ec) {
        return ec;
    }
    tcp::endpoint shared = endpoint;
    shared.port(first.local_endpoint(ec).port());
    first.close(ec);
    for (auto& listener : m_listeners) {
        ec = OpenAcceptor(listener->acceptor, shared, {dualStack, true, backlog}, step);
        if (ec) {
            return ec;
        }
    }
    return {};
}

void ListenerSet::Close() {
    std::error_code ignored;
    for (auto& listener : m_listeners) {
        listener->acceptor.close(ignored);
    }
}

tcp::endpoint ListenerSet::LocalEndpoint() const {
    std::error_code ignored;
    return m_listeners.front()->acceptor.local_endpoint(ignored);
}
