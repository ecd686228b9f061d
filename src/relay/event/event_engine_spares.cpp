// Sealed links a Client-mode relay keeps opened ahead on each worker while
// clients come one after another, taken by the clients admitted there.
#include <algorithm>

#include "relay/event/event_connection.h"
#include "relay/event/event_engine.h"
#include "relay/event/spare_links.h"

std::shared_ptr<EventConnection> EventRelayEngine::TakeSpare(EventWorker& worker,
                                                             const EventRun& run) {
    auto& spares = worker.spares;
    if (spares.empty()) {
        return nullptr;  // every client of a relay that opens none
    }
    const auto ready = std::find_if(spares.begin(), spares.end(), [&run](const auto& spare) {
        return spare->ReadyForClient() && spare->Run() == &run;
    });
    if (ready == spares.end()) {
        return nullptr;
    }
    std::shared_ptr<EventConnection> spare = *ready;
    spares.erase(ready);
    return spare;
}

// Only while clients come close together: a relay used now and then would
// otherwise open a link for nothing after each of them. Not for a while
// after the far relay refused one: it is full, and each would cost it a
// handshake and a refusal.
void EventRelayEngine::OpenSpares(EventWorker& worker, const std::shared_ptr<const EventRun>& run) {
    const StartRequest& settings = run->settings;
    if (!settings.linkKey || settings.encode != EncodeMode::Client) {
        return;  // those of a sealed run a reload replaced end on their own
    }
    // Those opened for the run a reload replaced would only hold places.
    const auto spares = worker.spares;
    for (const auto& spare : spares) {
        if (spare->Run() != run.get()) {
            spare->Close(CloseReason::Stopped);
        }
    }
    const auto now = std::chrono::steady_clock::now();
    const bool wanted =
        now - worker.lastSealedClient < kSpareDemand && now - worker.spareRefused >= kSpareLife;
    worker.lastSealedClient = now;
    EventConnectionHost& host = *this;
    while (wanted && worker.spares.size() < kSpareLinks && m_spareLinks.load() < kSpareLinksInAll) {
        m_spareLinks.fetch_add(1);
        auto spare = std::make_shared<EventConnection>(host, worker, run);
        worker.spares.push_back(spare);
        spare->Start();
    }
}

void EventRelayEngine::CloseSpares(EventWorker& worker) {
    const auto spares = worker.spares;  // Close takes each out of the list
    for (const auto& spare : spares) {
        spare->Close(CloseReason::Stopped);
    }
}
