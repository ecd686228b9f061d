// Listening runs driven through the window: start at launch, refused starts,
// the Start/Stop buttons, and a relayed connection moving the displays.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gui_session.h"
#include "listening_launch.h"
#include "loopback.h"

namespace vorlane::gui {
namespace {

const char kNoTarget[] = "Please input target IP or domain first!";
const char kPortTaken[] =
    "Listen failed, Maybe the local port you specified is taken, please try another port!";
const char kBadTargetPort[] = "Please input a target port from 1 to 65535!";
const char kBadLocalPort[] = "Please input a local port from 0 to 65535!";

bool Idle(HWND window) {
    return ToolbarButtonEnabled(window, ID_START) && !ToolbarButtonEnabled(window, ID_STOP);
}

bool Listening(HWND window) {
    return !ToolbarButtonEnabled(window, ID_START) && ToolbarButtonEnabled(window, ID_STOP);
}

// A payload that a swapped or mapped byte would not survive.
std::string Payload(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

// ---- start at launch --------------------------------------------------------

class StartAtLaunch : public ListeningLaunch<StartAtLaunch> {};

TEST_F(StartAtLaunch, OpensListeningWithTheBoxStillTicked) {
    EXPECT_EQ(ListeningOn(port_), WaitForStatusText(Window(), ListeningOn(port_)));
    EXPECT_TRUE(Listening(Window()));
    EXPECT_TRUE(IsChecked(Window(), IDC_AUTO_START));
    // The box's caption says "Minimize", but it neither minimises nor hides.
    EXPECT_TRUE(IsWindowVisible(Window()));
    EXPECT_FALSE(IsIconic(Window()));
}

TEST_F(StartAtLaunch, ExitCommandEndsAnActiveRunAndSaves) {
    TestSocket client = Connect(port_);
    ASSERT_TRUE(client.valid());
    ASSERT_EQ("ping", RoundTrip(client, "ping"));
    ASSERT_EQ("2", WaitForControlText(Window(), IDC_CONNECTION_COUNT, "2"));

    ASSERT_TRUE(Launch().CloseWith(WM_COMMAND, ID_EXIT)) << "a live connection held it up";
    EXPECT_EQ(values_.File(), Launch().Folder().ReadIni().value_or("<no file>"));
}

TEST(StartAtLaunchRefused, ReportsBeforeTheWindowAppearsAndStaysIdle) {
    SKIP_WITHOUT_VORLANE();
    WinsockSession winsock;
    const int port = FreePort();
    const TestSocket holder = ListenAt("127.0.0.1", port, 16);
    ASSERT_TRUE(holder.valid());
    IniValues values;
    values.localListenPort = std::to_string(port);
    values.autoStart = "1";
    Session session(values.File());

    HWND box = session.Process().WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(kPortTaken, MessageBoxText(box));
    HWND window = session.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window)) << "shown before the message";
    DismissMessageBox(box);

    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }));
    EXPECT_TRUE(Idle(window));
    EXPECT_EQ("Ready", StatusText(window));
    EXPECT_TRUE(session.CloseWith(WM_CLOSE));
}

// ---- runs started and stopped from the toolbar ------------------------------

class ToolbarRuns : public SharedLaunch<ToolbarRuns> {
  public:
    static void SetUpTestSuite() { target_ = std::make_unique<EchoTarget>(); }
    static void TearDownTestSuite() {
        SharedLaunch::TearDownTestSuite();
        target_.reset();
    }

  protected:
    void SetUp() override {
        SharedLaunch::SetUp();
        if (!HasFatalFailure() && !IsSkipped()) {
            ASSERT_TRUE(Idle(Window())) << "a previous case left a run open";
        }
    }

    // Fills the run's fields; the target is the echo server.
    void PrepareRun(const std::string& target, int localPort) {
        SetControlText(Window(), IDC_TARGET_ADDR, target);
        SetControlText(Window(), IDC_TARGET_PORT, std::to_string(target_->echo.Port()));
        SetControlText(Window(), IDC_LOCAL_PORT, std::to_string(localPort));
    }

    void StartRun(int localPort) {
        PostCommand(Window(), ID_START);
        ASSERT_EQ(ListeningOn(localPort), WaitForStatusText(Window(), ListeningOn(localPort)));
        ASSERT_TRUE(WaitUntil([&] { return Listening(Window()); }));
    }

    void StopRun() {
        PostCommand(Window(), ID_STOP);
        EXPECT_EQ("listening stopped!", WaitForStatusText(Window(), "listening stopped!"));
        EXPECT_TRUE(WaitUntil([&] { return Idle(Window()); }));
    }

    static inline std::unique_ptr<EchoTarget> target_;
};

TEST_F(ToolbarRuns, RefusedStartShowsWhyAndChangesNothing) {
    struct Case {
        const char* name;
        const char* target;
        const char* targetPort;  // null: the echo server's
        const char* localPort;   // null: a free port
        bool portHeld;
        const char* message;
    };
    const Case cases[] = {
        {"empty target", "", nullptr, nullptr, false, kNoTarget},
        {"blank target", " \t ", nullptr, nullptr, false, kNoTarget},
        {"port taken", "127.0.0.1", nullptr, nullptr, true, kPortTaken},
        {"target port 0", "127.0.0.1", "0", nullptr, false, kBadTargetPort},
        {"target port past 65535", "127.0.0.1", "70000", nullptr, false, kBadTargetPort},
        {"local port past 65535", "127.0.0.1", nullptr, "70000", false, kBadLocalPort},
    };
    for (const auto& c : cases) {
        const int port = FreePort();
        TestSocket holder;
        if (c.portHeld) {
            holder = ListenAt("127.0.0.1", port, 16);
            ASSERT_TRUE(holder.valid());
        }
        PrepareRun(c.target, port);
        if (c.targetPort != nullptr) {
            SetControlText(Window(), IDC_TARGET_PORT, c.targetPort);
        }
        if (c.localPort != nullptr) {
            SetControlText(Window(), IDC_LOCAL_PORT, c.localPort);
        }
        const std::string statusBefore = StatusText(Window());

        PostCommand(Window(), ID_START);
        HWND box = Launch().Process().WaitForMessageBox();
        ASSERT_NE(box, nullptr) << c.name;
        EXPECT_EQ("Vorlane", WindowText(box)) << c.name;
        EXPECT_EQ(c.message, MessageBoxText(box)) << c.name;
        DismissMessageBox(box);

        EXPECT_TRUE(Idle(Window())) << c.name;
        EXPECT_EQ(statusBefore, StatusText(Window())) << c.name;
    }
}

TEST_F(ToolbarRuns, StartAndStopSwapTheButtonsAndOpenAndCloseThePort) {
    const int port = FreePort();
    PrepareRun("127.0.0.1", port);
    ASSERT_NO_FATAL_FAILURE(StartRun(port));
    EXPECT_TRUE(Connect(port).valid());

    StopRun();
    EXPECT_FALSE(Connect(port).valid()) << "still listening after Stop";
}

TEST_F(ToolbarRuns, RelayedConnectionMovesCountTotalsAndSpeeds) {
    const int port = FreePort();
    PrepareRun(" 127.0.0.1 ", port);  // blanks around the target are trimmed
    ASSERT_NO_FATAL_FAILURE(StartRun(port));

    const std::string payload = Payload(5000);
    {
        TestSocket client = Connect(port);
        ASSERT_TRUE(client.valid());
        EXPECT_EQ(payload, RoundTrip(client, payload));
        EXPECT_EQ("2", WaitForControlText(Window(), IDC_CONNECTION_COUNT, "2"));
        EXPECT_EQ("4.9 KB", WaitForControlText(Window(), IDC_BYTES_UP, "4.9 KB"));
        EXPECT_EQ("4.9 KB", WaitForControlText(Window(), IDC_BYTES_DOWN, "4.9 KB"));
        // A tick after the chunks shows a non-zero rate in each direction (the
        // two may fall into different ticks).
        bool upMoved = false;
        bool downMoved = false;
        EXPECT_TRUE(WaitUntil(
            [&] {
                upMoved |= ControlText(Window(), IDC_SPEED_UP) != "0 Byte/s";
                downMoved |= ControlText(Window(), IDC_SPEED_DOWN) != "0 Byte/s";
                return upMoved && downMoved;
            },
            milliseconds(3000)))
            << "up " << upMoved << ", down " << downMoved;
    }
    EXPECT_EQ("0", WaitForControlText(Window(), IDC_CONNECTION_COUNT, "0"));
    // An idle tick later the speeds fall back to zero.
    EXPECT_EQ("0 Byte/s",
              WaitForControlText(Window(), IDC_SPEED_UP, "0 Byte/s", milliseconds(3000)));
    StopRun();
}

TEST_F(ToolbarRuns, EncodeBoxesDecideWhatTheTargetHears) {
    struct Case {
        bool client, server;
        const char* heard;  // by the target, for the client's "GET "
    };
    const Case cases[] = {
        {false, false, "GET "},
        {true, false, "\xB3\xB5\xA6\xDA"},
        {false, true, "\xB3\xB5\xA6\xDA"},
        {true, true, "\xB3\xB5\xA6\xDA"},
    };
    for (const auto& c : cases) {
        SetCheck(Window(), IDC_ENCODE_CLIENT, c.client);
        SetCheck(Window(), IDC_ENCODE_SERVER, c.server);
        const int port = FreePort();
        PrepareRun("127.0.0.1", port);
        ASSERT_NO_FATAL_FAILURE(StartRun(port));
        target_->echo.TakeReceived();
        {
            TestSocket client = Connect(port);
            // Mapped once on the way in and once on the way back: plain again.
            EXPECT_EQ("GET ", RoundTrip(client, "GET "));
        }
        EXPECT_EQ(c.heard, target_->echo.TakeReceived()) << c.client << c.server;
        EXPECT_EQ("0", WaitForControlText(Window(), IDC_CONNECTION_COUNT, "0"));
        StopRun();
    }
    SetCheck(Window(), IDC_ENCODE_CLIENT, false);
    SetCheck(Window(), IDC_ENCODE_SERVER, false);
}

TEST_F(ToolbarRuns, LimitFieldDecidesWhoIsServed) {
    struct Case {
        const char* limit;
        int served;  // clients served before the next one is refused
    };
    // Each served client counts twice (one pump per direction).
    const Case cases[] = {{"abc", 0}, {"2", 1}, {"3", 2}};
    for (const auto& c : cases) {
        const int port = FreePort();
        PrepareRun("127.0.0.1", port);
        SetControlText(Window(), IDC_CONNECTION_LIMIT, c.limit);
        ASSERT_NO_FATAL_FAILURE(StartRun(port));
        std::vector<std::unique_ptr<TestSocket>> clients;
        for (int k = 0; k <= c.served; ++k) {
            clients.push_back(std::make_unique<TestSocket>(Connect(port)));
            if (k < c.served) {
                EXPECT_EQ("x", RoundTrip(*clients.back(), "x")) << c.limit << " client " << k;
                const std::string count = std::to_string(2 * (k + 1));
                EXPECT_EQ(count, WaitForControlText(Window(), IDC_CONNECTION_COUNT, count));
            } else {
                EXPECT_EQ("too many connection\r\n",
                          clients.back()->Read(100, static_cast<int>(kWaitLimit.count())))
                    << c.limit << " client " << k;
            }
        }
        clients.clear();
        EXPECT_EQ("0", WaitForControlText(Window(), IDC_CONNECTION_COUNT, "0"));
        StopRun();
    }
    SetControlText(Window(), IDC_CONNECTION_LIMIT, "100");
}

}  // namespace
}  // namespace vorlane::gui
