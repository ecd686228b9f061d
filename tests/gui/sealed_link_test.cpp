// The window in Client mode with LinkKey in its Setting.ini seals the link
// toward its target: a Server-mode relay with the same key that a native
// script started (sealed_link_under_wine.py), in front of an echo server.
// Bytes must come back intact, and the window counts the plain ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gui_session.h"
#include "loopback.h"

namespace vorlane::gui {
namespace {

// Set by the script that runs this test; without them there is no peer.
std::string FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string Payload(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

TEST(SealedWindow, ClientModeWithTheKeyReachesTheSealedPeerIntact) {
    SKIP_WITHOUT_VORLANE();
    const std::string peerPort = FromEnvironment("VORLANE_SEALED_PEER_PORT");
    const std::string key = FromEnvironment("VORLANE_LINK_KEY");
    if (peerPort.empty() || key.empty()) {
        GTEST_SKIP() << "no sealed peer: run through sealed_link_under_wine.py";
    }
    WinsockSession winsock;
    const int port = FreePort();
    IniValues values;
    values.otherKeys = "LinkKey=" + key + "\r\n";
    values.localListenPort = std::to_string(port);
    values.destPort = peerPort;
    values.encodeClient = "1";
    values.autoStart = "1";
    Session session(values.File());
    ASSERT_NE(session.Window(), nullptr);
    ASSERT_EQ(ListeningOn(port), WaitForStatusText(session.Window(), ListeningOn(port)));

    {
        // Larger than one chunk and one sealed message, so both are split.
        const std::string payload = Payload(200000);
        TestSocket client = Connect(port);
        ASSERT_TRUE(client.valid());
        EXPECT_TRUE(RoundTrip(client, payload) == payload) << "bytes came back changed";
        // A second connection gets a handshake of its own.
        TestSocket second = Connect(port);
        ASSERT_TRUE(second.valid());
        EXPECT_EQ("again", RoundTrip(second, "again"));
        // The totals are the plain bytes (200,005: 195 KB); with the seal's
        // frames and tags they would pass 196 KB.
        EXPECT_EQ("195 KB", WaitForControlText(session.Window(), IDC_BYTES_UP, "195 KB"));
        EXPECT_EQ("195 KB", WaitForControlText(session.Window(), IDC_BYTES_DOWN, "195 KB"));
    }
    // Both clients ended in order, so both links end with their end marker:
    // the peer logs no cut stream. (Closing the window with links open would
    // cut them, which the peer rightly logs as bad_message.)
    EXPECT_EQ("0", WaitForControlText(session.Window(), IDC_CONNECTION_COUNT, "0"));
    session.ExpectNoMessageBox();
    EXPECT_TRUE(session.CloseWith(WM_CLOSE));
}

}  // namespace
}  // namespace vorlane::gui
