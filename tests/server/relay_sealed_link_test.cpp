// Two vorlane-relay processes sealing the link between them with the key
// from their config files: what their clients and the target see, and the
// log line each relay writes for a peer without the key.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "loopback_server.h"
#include "random_bytes.h"
#include "relay_process.h"
#include "scratch_directory.h"
#include "seal/link_sealer.h"
#include "test_socket.h"
#include "wait.h"

namespace {

using testing_support::Connect;
using testing_support::EchoServer;
using testing_support::kPatienceMs;
using testing_support::RelayProcess;
using testing_support::ScratchDirectory;
using testing_support::StartRelay;
using testing_support::TestSocket;
using testing_support::WaitUntil;

const std::string kKey = "q83vASNFZ4mrze8BI0VniavN7wEjRWeJq83vASNFZ4k=";

using testing_support::RandomBytes;

class SealedRelays : public testing::Test {
  protected:
    // A relay in `mode` with the key in its config file, toward `targetPort`.
    std::unique_ptr<RelayProcess> StartSealed(const std::string& mode, int targetPort, int* port) {
        const std::string config = directory.WriteFile(
            mode + ".ini", "[Vorlane]\nLinkKey=" + kKey + "\nFirstByteTimeout=0\n");
        return StartRelay(
            {"--config", config, "--encode", mode, "--target-port", std::to_string(targetPort)},
            port);
    }

    void StartPair(int targetPort) {
        farRelay = StartSealed("server", targetPort, &farPort);
        ASSERT_NE(farRelay, nullptr);
        nearRelay = StartSealed("client", farPort, &nearPort);
        ASSERT_NE(nearRelay, nullptr);
    }

    ScratchDirectory directory;
    EchoServer echo;
    std::unique_ptr<RelayProcess> farRelay;
    std::unique_ptr<RelayProcess> nearRelay;
    int farPort = 0;
    int nearPort = 0;
};

// 50 MB each way at once, the client's half-close passed through both relays
// to the echo, whose end comes back the same way; both relays log the plain
// totals.
TEST_F(SealedRelays, PairCarriesFiftyMegabytesEachWayThroughAHalfClose) {
    StartPair(echo.Port());
    for (RelayProcess* relay : {nearRelay.get(), farRelay.get()}) {
        EXPECT_NE(relay->Stderr().find(" link=sealed "), std::string::npos) << relay->Stderr();
    }
    const std::string payload = RandomBytes(50u << 20, 3);
    {
        TestSocket client = Connect(static_cast<std::uint16_t>(nearPort));
        ASSERT_TRUE(client.valid());
        bool sawEnd = false;
        const std::string back = client.SendAllAndReadBack(payload, &sawEnd, 120000);
        EXPECT_TRUE(sawEnd);
        ASSERT_EQ(back.size(), payload.size());
        EXPECT_TRUE(back == payload);
    }
    EXPECT_TRUE(echo.Received() == payload);  // plain at the target
    const std::string totals = "up=52428800 down=52428800 ";
    for (RelayProcess* relay : {nearRelay.get(), farRelay.get()}) {
        EXPECT_TRUE(WaitUntil([&] { return relay->Stderr().find(totals) != std::string::npos; }))
            << relay->Stderr();
    }
}

// The far relay's line for a client without the key, and for one whose
// message was altered after the handshake.
TEST_F(SealedRelays, PeersWithoutTheKeyAreLoggedWithTheirReason) {
    StartPair(echo.Port());
    {
        TestSocket plain = Connect(static_cast<std::uint16_t>(farPort));
        plain.Send("GET / HTTP/1.0\r\n\r\n");
        EXPECT_TRUE(farRelay->WaitForStderr("reason=handshake_failed up=0 down=0 ", kPatienceMs))
            << farRelay->Stderr();
    }
    {
        seal::LinkKey key = std::get<seal::LinkKey>(seal::ParseLinkKey(kKey));
        seal::LinkSealer initiator(seal::Role::initiator, key);
        TestSocket client = Connect(static_cast<std::uint16_t>(farPort));
        const auto first = initiator.TakeOutput();
        ASSERT_TRUE(testing_support::SendAll(client.fd(), first.data(), first.size()));
        const std::string reply = client.Read(50);
        std::vector<std::uint8_t> plain;
        initiator.Receive({reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()},
                          plain);
        ASSERT_TRUE(initiator.Open());
        const std::string text = "for the target";
        initiator.Seal({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
        auto wire = initiator.TakeOutput();
        wire.back() ^= 0x01;
        ASSERT_TRUE(testing_support::SendAll(client.fd(), wire.data(), wire.size()));
        EXPECT_TRUE(farRelay->WaitForStderr("reason=bad_message up=0 down=0 ", kPatienceMs))
            << farRelay->Stderr();
    }
    EXPECT_EQ(echo.Received(), "");
}

}  // namespace
