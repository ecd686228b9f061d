// Start with target texts a user could type or a config file could hold:
// every dotted form, over-long names, inner blanks and bytes above ASCII.
// Start must listen (or refuse an empty text), and each client must then be
// served or closed without data exactly as the text resolves.
//
// Names are looked up for real, so the test runs in a network namespace of
// its own where no name server off this machine can be reached; without one
// the name cases are skipped rather than sent out.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "isolated_network_environment.h"
#include "loopback_server.h"
#include "recording_display.h"
#include "relay/relay_engine.h"
#include "test_socket.h"
#include "traffic_check.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace testing_support;

const IsolatedNetworkEnvironment* const kNetwork = IsolatedNetworkEnvironment::Register();

enum class Outcome { Served, Closed, Refused };

struct TargetCase {
    const char* name;
    std::string text;
    Outcome outcome;
    bool looksUpName;  // needs the isolated network
};

void PrintTo(const TargetCase& c, std::ostream* out) {
    *out << c.name;
}

class TargetTextTest : public testing::TestWithParam<TargetCase> {};

TEST_P(TargetTextTest, StartDoesWhatTheTextResolvesTo) {
    const TargetCase& c = GetParam();
    if (c.looksUpName && !kNetwork->isolated()) {
        GTEST_SKIP() << "no isolated network namespace (needs root): name not looked up";
    }
    LoopbackServer echo([](TestSocket& connection, int) { LoopbackServer::Echo(connection); });
    RecordingDisplay display;
    RelayEngine engine(display);
    StartRequest request;
    request.targetText = c.text;
    request.targetPort = echo.Port();
    request.connectionLimit = 10;
    request.backlog = SOMAXCONN;
    const bool started = engine.StartListening(request);

    if (c.outcome == Outcome::Refused) {
        EXPECT_FALSE(started);
        EXPECT_EQ(display.Messages(),
                  std::vector<std::string>{"Please input target IP or domain first!"});
    } else {
        ASSERT_TRUE(started);
        EXPECT_TRUE(display.Messages().empty());
        TestSocket client = Connect(static_cast<std::uint16_t>(engine.ListeningPort()));
        ASSERT_TRUE(client.valid());
        if (c.outcome == Outcome::Served) {
            EXPECT_TRUE(EchoRoundTrip(client.fd(), 4096, 7));
        } else {
            SetReceiveTimeout(client.fd(), 10000);
            bool clean = false;
            EXPECT_EQ(ReceiveUntilEnd(client.fd(), 64, &clean), "");
            EXPECT_TRUE(clean) << "the client was not closed";
            EXPECT_EQ(echo.AcceptedCount(), 0);
        }
    }
    engine.StopListening();
    EXPECT_TRUE(WaitUntil([&] { return engine.ConnectionCount() == 0; }));
    EXPECT_TRUE(engine.WaitForWorkers(10000));
}

const std::string kLongName(300, 'a');
const std::string kLongLabels =
    std::string(100, 'b') + "." + std::string(100, 'c') + "." + std::string(100, 'd') + ".example";

INSTANTIATE_TEST_SUITE_P(
    Texts, TargetTextTest,
    testing::Values(TargetCase{"FourParts", "127.0.0.1", Outcome::Served, false},
                    TargetCase{"TwoParts", "127.1", Outcome::Served, false},
                    TargetCase{"ThreeParts", "127.0.1", Outcome::Served, false},
                    TargetCase{"OnePart", "2130706433", Outcome::Served, false},
                    TargetCase{"OctalParts", "0177.0.0.01", Outcome::Served, false},
                    TargetCase{"BlanksAroundAreTrimmed", " \t127.0.0.1 \t", Outcome::Served, false},
                    TargetCase{"PartAbove255", "256.1.1.1", Outcome::Closed, false},
                    TargetCase{"FiveParts", "1.2.3.4.5", Outcome::Closed, false},
                    TargetCase{"AllOnes", "255.255.255.255", Outcome::Closed, false},
                    TargetCase{"AllZero", "0.0.0.0", Outcome::Closed, false},
                    TargetCase{"OnlyBlanks", " \t ", Outcome::Refused, false},
                    TargetCase{"NameOver255Characters", kLongName, Outcome::Closed, true},
                    TargetCase{"NameWithOverlongLabels", kLongLabels, Outcome::Closed, true},
                    TargetCase{"InnerBlank", "127.0.0.1 x", Outcome::Closed, true},
                    TargetCase{"InnerBlankInName", "local host", Outcome::Closed, true},
                    TargetCase{"BytesAboveAscii", "h\xC3\xB6st.\xFF\xFE", Outcome::Closed, true},
                    TargetCase{"ControlBytes",
                               "a\x01\x7f"
                               "b",
                               Outcome::Closed, true}),
    [](const testing::TestParamInfo<TargetCase>& info) { return info.param.name; });

}  // namespace
