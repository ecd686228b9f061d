// vorlane-relay as its operators see it, a real child process over loopback:
// the log line of each event and the levels that keep it, the time stamps the
// journal goes without, a reload on SIGHUP, the drain on SIGTERM, a signal
// that comes before the relay runs, and what it tells systemd.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "hanging_target.h"
#include "loopback_server.h"
#include "relay/byte_map.h"
#include "relay_process.h"
#include "relay_test_helpers.h"
#include "scratch_directory.h"
#include "test_socket.h"
#include "wait.h"

namespace {

// Both hold only helpers for tests like these.
using namespace cli_testing;
using namespace testing_support;

// The line of the text that holds every phrase, with its newline; empty when none does.
std::string LineWith(const std::string& text, const std::vector<std::string>& phrases) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        const std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
        std::string line = text.substr(start, end - start);
        if (std::all_of(phrases.begin(), phrases.end(), [&](const std::string& phrase) {
                return line.find(phrase) != std::string::npos;
            })) {
            return line;
        }
        start = end;
    }
    return "";
}

bool Contains(const std::string& text, const std::string& phrase) {
    return text.find(phrase) != std::string::npos;
}

// True once the relay has ended the connection, in order or by a reset;
// whatever arrives before is dropped.
bool SeesEnd(const TestSocket& client) {
    char buffer[4096];
    for (int reads = 0; reads < 1000 && net::WaitReadable(client.fd(), kPatienceMs); ++reads) {
        if (net::Recv(client.fd(), buffer, sizeof buffer) <= 0) {
            return true;
        }
    }
    return false;
}

int LocalPort(const TestSocket& client) {
    return net::LocalPort(client.fd());
}

// ---- One line per event ----

constexpr std::size_t kGreetingSize = 5000;

// The target every relay of a case forwards to.
enum class Target {
    Echo,
    SendsThenEnds,         // its greeting, then its end; reads until the client's end
    ResetsAfterFiveBytes,  // reads five bytes, then closes with a reset
    NeverAnswers,          // its accept queue is full: the handshake gets no answer
    NotListening,
};

class CaseTarget {
  public:
    explicit CaseTarget(Target kind) {
        switch (kind) {
            case Target::Echo:
                echo_ = std::make_unique<EchoServer>();
                port_ = echo_->Port();
                break;
            case Target::SendsThenEnds:
                scripted_ = std::make_unique<LoopbackServer>([](TestSocket& connection, int) {
                    const std::string greeting = EveryByteValue(kGreetingSize);
                    SendAll(connection.fd(), greeting.data(), greeting.size());
                    connection.ShutdownSend();
                    ReceiveUntilEnd(connection.fd(), 1 << 20);
                });
                port_ = scripted_->Port();
                break;
            case Target::ResetsAfterFiveBytes:
                // Closed once the handler returns.
                scripted_ = std::make_unique<LoopbackServer>([](TestSocket& connection, int) {
                    char hello[5];
                    ReceiveExactly(connection.fd(), hello, sizeof hello);
                    SetAbortiveClose(connection.fd());
                });
                port_ = scripted_->Port();
                break;
            case Target::NeverAnswers:
                hanging_ = std::make_unique<HangingTarget>();
                port_ = hanging_->port();
                break;
            case Target::NotListening:
                port_ = FreePort();
                break;
        }
    }
    int Port() const { return port_; }

  private:
    std::unique_ptr<EchoServer> echo_;
    std::unique_ptr<LoopbackServer> scripted_;
    std::unique_ptr<HangingTarget> hanging_;
    int port_ = 0;
};

// What a case's client does through the relay at this port; each returns the
// local port of the client the case's lines name.

int SendsEchoedThenEnds(int relayPort) {
    TestSocket client = Connect(relayPort);
    const std::string payload = EveryByteValue(5000);
    EXPECT_TRUE(client.Send(payload));
    EXPECT_EQ(client.Read(payload.size()), payload);
    client.ShutdownSend();
    EXPECT_TRUE(SeesEnd(client));
    return LocalPort(client);
}

int SendsThenReadsToEnd(int relayPort) {
    TestSocket client = Connect(relayPort);
    EXPECT_TRUE(client.Send(EveryByteValue(3000)));
    bool sawEnd = false;
    EXPECT_EQ(client.ReadToEnd(&sawEnd), EveryByteValue(kGreetingSize));
    EXPECT_TRUE(sawEnd);
    return LocalPort(client);
}

int RefusedBesideOneHeld(int relayPort) {
    TestSocket held = Connect(relayPort);
    EXPECT_TRUE(held.Send("held"));
    EXPECT_EQ(held.Read(4), "held");  // both shares taken
    TestSocket refused = Connect(relayPort);
    bool sawEnd = false;
    EXPECT_EQ(refused.ReadToEnd(&sawEnd), "too many connection\r\n");
    return LocalPort(refused);
}

int SendsHelloUntilEnd(int relayPort) {
    TestSocket client = Connect(relayPort);
    client.Send("hello");  // a relay that closed at once may refuse it
    EXPECT_TRUE(SeesEnd(client));
    return LocalPort(client);
}

int EchoedOnceThenQuiet(int relayPort) {
    TestSocket client = Connect(relayPort);
    EXPECT_TRUE(client.Send("ping"));
    EXPECT_EQ(client.Read(4), "ping");
    EXPECT_TRUE(SeesEnd(client));
    return LocalPort(client);
}

struct LogCase {
    const char* name;
    // The time-outs are the event engine's alone; the rest is logged alike by both.
    std::vector<std::string> engines;
    std::vector<std::string> arguments;
    Target target;
    int (*client)(int relayPort);
    // The phrases each line holds; "{client}" and "{target}" stand for the
    // addresses with their ports.
    std::vector<std::vector<std::string>> lines;
};

// One case on one engine.
struct LogRun {
    LogCase c;
    std::string engine;
};

void PrintTo(const LogRun& run, std::ostream* out) {
    *out << run.c.name << " on " << run.engine;
}

std::string Filled(std::string phrase, int clientPort, int targetPort) {
    for (const auto& [token, port] : {std::pair{std::string("{client}"), clientPort},
                                      std::pair{std::string("{target}"), targetPort}}) {
        if (const auto at = phrase.find(token); at != std::string::npos) {
            phrase.replace(at, token.size(), "127.0.0.1:" + std::to_string(port));
        }
    }
    return phrase;
}

class RelayLogLineTest : public testing::TestWithParam<LogRun> {};

TEST_P(RelayLogLineTest, EachEventIsOneLineWithItsWords) {
    const LogCase& c = GetParam().c;
    const CaseTarget target(c.target);
    std::vector<std::string> arguments = {"--target-port", std::to_string(target.Port())};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    int port = 0;
    auto relay = StartRelay(OnEngine(GetParam().engine, arguments), &port);
    ASSERT_NE(relay, nullptr);

    const int clientPort = c.client(port);
    for (const auto& phrases : c.lines) {
        std::vector<std::string> filled;
        filled.reserve(phrases.size());
        for (const std::string& phrase : phrases) {
            filled.push_back(Filled(phrase, clientPort, target.Port()));
        }
        EXPECT_TRUE(WaitUntil([&] { return !LineWith(relay->Stderr(), filled).empty(); }))
            << "no line with '" << filled.front() << "' in:\n"
            << relay->Stderr();
    }
}

const std::vector<LogCase> kLogCases = {
    LogCase{"TargetEndsLast",
            kEngines,
            {},
            Target::Echo,
            &SendsEchoedThenEnds,
            {{"level=info event=open id=1 client={client} target={target}\n"},
             {"level=info event=close id=1 client={client} target={target} "
              "reason=target_closed up=5000 down=5000 duration_ms="}}},
    LogCase{"ClientEndsLast",
            kEngines,
            {},
            Target::SendsThenEnds,
            &SendsThenReadsToEnd,
            {{"level=info event=close id=1 client={client} target={target} "
              "reason=client_closed up=3000 down=5000 duration_ms="}}},
    LogCase{"LimitReached",
            kEngines,
            {"--limit", "2"},
            Target::Echo,
            &RefusedBesideOneHeld,
            {{"level=warn event=refused client={client} reason=limit\n"}}},
    LogCase{"NotAllowed",
            kEngines,
            {"--allow", "10.0.0.0/8"},
            Target::Echo,
            &SendsHelloUntilEnd,
            {{"level=warn event=refused client={client} reason=not_allowed\n"}}},
    LogCase{"TargetResets",
            kEngines,
            {},
            Target::ResetsAfterFiveBytes,
            &SendsHelloUntilEnd,
            {{"level=info event=close id=1 client={client} target={target} reason=reset "
              "up=5 down=0 duration_ms=",
              " error=\"Connection reset by peer\"\n"}}},
    LogCase{"ConnectTimeOut",
            {"events"},
            {"--connect-timeout", "1"},
            Target::NeverAnswers,
            &SendsHelloUntilEnd,
            {{"level=info event=close id=1 client={client} reason=connect_timeout up=0 "
              "down=0 duration_ms="}}},
    LogCase{"TargetRefuses",
            kEngines,
            {},
            Target::NotListening,
            &SendsHelloUntilEnd,
            {{"level=info event=close id=1 client={client} reason=connect_failed up=0 "
              "down=0 duration_ms=",
              " error=\"Connection refused\"\n"}}},
    LogCase{"IdleTimeOut",
            {"events"},
            {"--idle-timeout", "1"},
            Target::Echo,
            &EchoedOnceThenQuiet,
            {{"level=info event=close id=1 client={client} target={target} "
              "reason=idle_timeout up=4 down=4 duration_ms="}}}};

std::vector<LogRun> LogRuns() {
    std::vector<LogRun> runs;
    for (const LogCase& c : kLogCases) {
        for (const std::string& engine : c.engines) {
            runs.push_back({c, engine});
        }
    }
    return runs;
}

INSTANTIATE_TEST_SUITE_P(Cases, RelayLogLineTest, testing::ValuesIn(LogRuns()),
                         [](const testing::TestParamInfo<LogRun>& info) {
                             return info.param.c.name + Titled(info.param.engine);
                         });

struct LevelCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> shown;  // events
};

void PrintTo(const LevelCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<std::string> kScenarioEvents = {
    "listening", "accepted", "open", "close", "refused", "reload_failed", "stopping", "stopped"};

class RelayLogLevelTest : public testing::TestWithParam<LevelCase> {};

// One relayed client, one refused at the limit, a reload of a broken file,
// a stop: each level keeps its own lines and those above it.
TEST_P(RelayLogLevelTest, KeepsTheLinesOfItsLevelAndAbove) {
    const LevelCase& c = GetParam();
    EchoServer echo;
    const ScratchDirectory directory;
    const std::string settings =
        "[Vorlane]\nDestPort=" + std::to_string(echo.Port()) + "\nConnectionLimit=";
    const std::string path = directory.WriteFile("relay.ini", settings + "2\n");
    // Some levels have no listening line to wait for.
    const int port = FreePort();
    std::vector<std::string> arguments = {"--config", path, "--listen", std::to_string(port)};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    RelayProcess relay(OnEngine("events", arguments));
    ASSERT_TRUE(WaitUntil([&] { return IsListening(static_cast<std::uint16_t>(port)); }))
        << relay.Stderr();

    {
        TestSocket held = Connect(port);
        ASSERT_TRUE(held.Send("held"));
        ASSERT_EQ(held.Read(4), "held");
        TestSocket refused = Connect(port);
        EXPECT_TRUE(SeesEnd(refused));
    }
    directory.WriteFile("relay.ini", settings + "ten\n");
    relay.Signal(SIGHUP);
    ASSERT_TRUE(relay.WaitForStderr("event=reload_failed ", kPatienceMs)) << relay.Stderr();
    relay.Signal(SIGTERM);
    ASSERT_EQ(relay.WaitForExit(kPatienceMs), 0);

    const std::string err = relay.Stderr();
    for (const std::string& event : kScenarioEvents) {
        const bool shown = std::find(c.shown.begin(), c.shown.end(), event) != c.shown.end();
        EXPECT_EQ(Contains(err, " event=" + event + " "), shown) << event << " in:\n" << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, RelayLogLevelTest,
    testing::Values(LevelCase{"Quiet", {"--quiet"}, {"reload_failed"}},
                    LevelCase{"Warn", {"--log-level", "warn"}, {"refused", "reload_failed"}},
                    LevelCase{"InfoByDefault",
                              {},
                              {"listening", "open", "close", "refused", "reload_failed", "stopping",
                               "stopped"}},
                    LevelCase{"Debug", {"--log-level", "debug"}, kScenarioEvents}),
    [](const testing::TestParamInfo<LevelCase>& info) { return info.param.name; });

struct StartFailureCase {
    const char* name;
    std::vector<std::string> arguments;  // "{taken}" is a port another socket listens on
    std::string error;
};

void PrintTo(const StartFailureCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayStartFailureTest : public testing::TestWithParam<StartFailureCase> {};

TEST_P(RelayStartFailureTest, SaysWhichStepFailedAndWhyThenExitsOne) {
    const StartFailureCase& c = GetParam();
    const EchoServer busy;
    std::vector<std::string> arguments = {"--engine", "events"};
    for (const std::string& argument : c.arguments) {
        arguments.push_back(argument == "{taken}" ? std::to_string(busy.Port()) : argument);
    }
    RelayProcess relay(arguments);
    EXPECT_EQ(relay.WaitForExit(kPatienceMs), 1);
    EXPECT_TRUE(Contains(relay.Stderr(),
                         " level=error event=start_failed message=\"Listen failed, Maybe the local "
                         "port you specified is taken, please try another port!\" error=\"" +
                             c.error + "\"\n"))
        << relay.Stderr();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayStartFailureTest,
    testing::Values(
        StartFailureCase{"PortTaken", {"--listen", "{taken}"}, "bind: Address already in use"},
        // A documentation address, on no interface of this machine.
        StartFailureCase{"AddressNotLocal",
                         {"--bind", "192.0.2.1", "--listen", "0"},
                         "bind: Cannot assign requested address"}),
    [](const testing::TestParamInfo<StartFailureCase>& info) { return info.param.name; });

// ---- Time stamps ----

struct StampCase {
    const char* name;
    std::vector<std::string> environment;
    bool stamped;  // else each line starts with its journal priority
};

void PrintTo(const StampCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayTimeStampTest : public testing::TestWithParam<StampCase> {};

// The journal stamps lines itself and takes each one's priority from its
// start; it is known by the stream it handed the relay, so a variable
// inherited by a relay writing elsewhere changes nothing.
TEST_P(RelayTimeStampTest, EveryLineStartsWithTheTimeUnlessTheJournalTakesIt) {
    const StampCase& c = GetParam();
    EchoServer echo;
    int port = 0;
    auto relay = StartRelay(
        OnEngine("events", {"--target-port", std::to_string(echo.Port()), "--stats", "1"}), &port,
        c.environment);
    ASSERT_NE(relay, nullptr);
    EXPECT_EQ(EchoThrough(port, "stamp"), "stamp");
    EXPECT_TRUE(relay->WaitForStdout("event=stats ", kPatienceMs));
    relay->Signal(SIGTERM);
    ASSERT_EQ(relay->WaitForExit(kPatienceMs), 0);

    const std::regex line(c.stamped ? R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (level|event)=\S.*)"
                                    : R"(<[3467]>(level|event)=\S.*)");
    for (const std::string& output : {relay->Stderr(), relay->Stdout()}) {
        int count = 0;
        std::size_t start = 0;
        for (std::size_t end = output.find('\n'); end != std::string::npos;
             start = end + 1, end = output.find('\n', start)) {
            EXPECT_TRUE(std::regex_match(output.substr(start, end - start), line))
                << output.substr(start, end - start);
            ++count;
        }
        EXPECT_EQ(start, output.size()) << "a line without its newline";
        EXPECT_GT(count, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayTimeStampTest,
    testing::Values(StampCase{"NoJournal", {}, true},
                    StampCase{"JournalTakesStderr", {"JOURNAL_STREAM={stderr}"}, false},
                    StampCase{"JournalIsAnotherStream", {"JOURNAL_STREAM=1:1"}, true}),
    [](const testing::TestParamInfo<StampCase>& info) { return info.param.name; });

// ---- Journal priorities ----

// `journalctl -p err` finds the errors by the priority each line starts with.
TEST(RelayJournalTest, EachLineStartsWithThePriorityOfItsLevel) {
    EchoServer echo;
    const ScratchDirectory directory;
    const std::string settings = "[Vorlane]\nDestPort=" + std::to_string(echo.Port()) + "\n";
    const std::string path = directory.WriteFile("relay.ini", settings);
    int port = 0;
    auto relay = StartRelay(OnEngine("events", {"--config", path, "--allow", "10.0.0.0/8"}), &port,
                            {"JOURNAL_STREAM={stderr}"});
    ASSERT_NE(relay, nullptr);
    SendsHelloUntilEnd(port);
    directory.WriteFile("relay.ini", settings + "ConnectionLimit=ten\n");
    relay->Signal(SIGHUP);
    ASSERT_TRUE(relay->WaitForStderr("event=reload_failed ", kPatienceMs)) << relay->Stderr();
    relay->Signal(SIGTERM);
    ASSERT_EQ(relay->WaitForExit(kPatienceMs), 0);

    const std::string err = "\n" + relay->Stderr();
    for (const char* start :
         {"<6>level=info event=listening ", "<4>level=warn event=refused ",
          "<3>level=error event=reload_failed ", "<6>level=info event=stopped "}) {
        EXPECT_TRUE(Contains(err, std::string("\n") + start)) << start << " in:\n" << err;
    }
}

// ---- Floods of refused clients ----

// A client from 127.0.0.2 (on loopback, any 127.0.0.0/8 source is ours),
// its connect and reads bounded in time.
TestSocket ConnectFromSecondLoopback(int port) {
    TestSocket socket(::socket(AF_INET, SOCK_STREAM, 0));
    const timeval patience{kPatienceMs / 1000, 0};
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7F000002);
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return TestSocket();
    }
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return TestSocket();
    }
    return TestSocket(socket.Release());
}

std::size_t CountOf(const std::string& text, const std::string& phrase) {
    std::size_t count = 0;
    for (std::size_t at = text.find(phrase); at != std::string::npos;
         at = text.find(phrase, at + 1)) {
        ++count;
    }
    return count;
}

// A flood of denied clients with the log a pipe nobody reads: the log must
// neither bury the relay's other lines nor hold up the allowed clients.
TEST(RelayFloodTest, DeniedFloodIsCountedAndAllowedClientsAreStillRelayed) {
    constexpr int kDenied = 2000;
    EchoServer echo;
    const int port = FreePort();
    RelayProcess relay(OnEngine("events", {"--listen", std::to_string(port), "--target-port",
                                           std::to_string(echo.Port()), "--allow", "127.0.0.2"}),
                       {}, StderrTo::UnreadPipe);
    ASSERT_TRUE(WaitUntil([&] { return IsListening(static_cast<std::uint16_t>(port)); }));

    // Non-blocking, so a relay that stopped accepting cannot stall the flood.
    for (int i = 0; i < kDenied; ++i) {
        ConnectNonBlocking(static_cast<std::uint16_t>(port));
    }
    TestSocket allowed = ConnectFromSecondLoopback(port);
    ASSERT_TRUE(allowed.valid());
    ASSERT_TRUE(allowed.Send("still relayed"));
    EXPECT_EQ(allowed.Read(13), "still relayed") << "the allowed client waits on the log";
    allowed.Close();

    relay.Signal(SIGTERM);
    const std::string err = relay.ReadStderrPipe(2 * kPatienceMs);
    EXPECT_EQ(relay.WaitForExit(kPatienceMs), 0);
    EXPECT_TRUE(Contains(err, " level=warn event=refused client=127.0.0.1:")) << err;
    EXPECT_TRUE(Contains(err, " level=info event=open id=1 client=127.0.0.2:")) << err;
    // The first refusal of an interval has its line, the rest are counted.
    EXPECT_LE(CountOf(err, " event=refused "), 5U) << err;
    std::smatch summary;
    ASSERT_TRUE(std::regex_search(
        err, summary,
        std::regex(" level=warn event=refused_summary reason=not_allowed count=(\\d+) "
                   "seconds=\\d+\n")))
        << err;
    EXPECT_GT(std::stoi(summary[1].str()), kDenied / 2) << err;
}

// ---- Reload on SIGHUP ----

std::string EngineName(const testing::TestParamInfo<std::string>& info) {
    return Titled(info.param);
}

std::string TargetLine(const EchoServer& target) {
    return "DestPort=" + std::to_string(target.Port()) + "\n";
}

// A relay whose settings all come from its config file, so that a reload
// reads every one of them again.
class RelayReloadTest : public testing::TestWithParam<std::string> {
  protected:
    // On a free port the file names, after the file's other lines.
    bool Start(const std::string& lines) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = FreePort();
            Write(port_, lines);
            relay_ = std::make_unique<RelayProcess>(OnEngine(GetParam(), {"--config", path_}));
            if (relay_->WaitForStderr(ListeningPort(port_), kPatienceMs)) {
                return true;
            }
        }
        return false;
    }

    // Rewrites the file, signals and waits for the line that answers.
    bool Reload(int port, const std::string& lines, const std::string& answer) {
        Write(port, lines);
        relay_->Signal(SIGHUP);
        return relay_->WaitForStderr(answer, kPatienceMs);
    }

    std::string Answer(const std::string& listener) const {
        return " level=info event=reload file=" + path_ + " listener=" + listener + "\n";
    }

    void Write(int port, const std::string& lines) {
        path_ = directory_.WriteFile(
            "relay.ini", "[Vorlane]\nLocalListenPort=" + std::to_string(port) + "\n" + lines);
    }

    ScratchDirectory directory_;
    std::string path_;
    int port_ = 0;
    std::unique_ptr<RelayProcess> relay_;
};

// The threaded engine's run keeps the settings it began with: a new target
// takes a new run, and so a new listener.
TEST_P(RelayReloadTest, NewTargetServesNewClientsWhileOpenOnesKeepTheirs) {
    EchoServer first;
    EchoServer second;
    ASSERT_TRUE(Start(TargetLine(first)));
    TestSocket before = Connect(port_);
    ASSERT_TRUE(before.Send("before"));
    ASSERT_EQ(before.Read(6), "before");

    ASSERT_TRUE(
        Reload(port_, TargetLine(second), Answer(GetParam() == "events" ? "kept" : "reopened")))
        << relay_->Stderr();
    EXPECT_EQ(EchoThrough(port_, "after"), "after");
    EXPECT_EQ(second.Received(), "after");
    ASSERT_TRUE(before.Send(" still"));
    EXPECT_EQ(before.Read(6), " still");
    EXPECT_EQ(first.Received(), "before still");
}

// A byte map switched under a live stream would garble it: each connection
// keeps the mode of the run that admitted it.
TEST_P(RelayReloadTest, NewModeMapsNewClientsWhileOpenOnesKeepTheirs) {
    EchoServer echo;
    ASSERT_TRUE(Start(TargetLine(echo)));
    TestSocket before = Connect(port_);
    ASSERT_TRUE(before.Send("before"));
    ASSERT_EQ(before.Read(6), "before");

    ASSERT_TRUE(Reload(port_, TargetLine(echo) + "EncodeServer=1\n",
                       Answer(GetParam() == "events" ? "kept" : "reopened")))
        << relay_->Stderr();
    ASSERT_TRUE(before.Send(" still"));
    EXPECT_EQ(before.Read(6), " still");
    // Mapped on the way in and again on the way back.
    EXPECT_EQ(EchoThrough(port_, "after"), "after");
    std::string after = "after";
    EncodePacket(after.data(), static_cast<int>(after.size()));
    EXPECT_EQ(echo.Received(), "before still" + after);
}

TEST_P(RelayReloadTest, NewListenPortReopensTheListener) {
    EchoServer echo;
    ASSERT_TRUE(Start(TargetLine(echo)));
    const int oldPort = port_;
    const int newPort = FreePort();
    ASSERT_TRUE(Reload(newPort, TargetLine(echo), Answer("reopened"))) << relay_->Stderr();
    EXPECT_EQ(EchoThrough(newPort, "new"), "new");
    EXPECT_FALSE(Connect(oldPort).valid());
}

TEST_P(RelayReloadTest, BrokenFileIsReportedAndTheRunningSettingsStay) {
    EchoServer first;
    EchoServer second;
    ASSERT_TRUE(Start(TargetLine(first)));
    ASSERT_TRUE(Reload(port_, TargetLine(second) + "ConnectionLimit=ten\n",
                       " level=error event=reload_failed file=" + path_ + " error=\"" + path_ +
                           ": ConnectionLimit=ten is not a number from 0 to 2147483647\"\n"))
        << relay_->Stderr();
    EXPECT_EQ(EchoThrough(port_, "old"), "old");
    EXPECT_EQ(first.Received(), "old");
    EXPECT_EQ(second.AcceptedCount(), 0);
}

// A misspelled key would leave its default in force: the reload is refused
// like any broken file, and the running allow-list stays.
TEST_P(RelayReloadTest, FileWithAnUnknownKeyIsRefused) {
    EchoServer echo;
    ASSERT_TRUE(Start(TargetLine(echo) + "AllowFrom=127.0.0.0/8\n"));
    ASSERT_TRUE(Reload(port_, TargetLine(echo) + "AllowForm=127.0.0.0/8\n",
                       " level=error event=reload_failed file=" + path_ + " error=\"" + path_ +
                           ": AllowForm=127.0.0.0/8 is not a known key\"\n"))
        << relay_->Stderr();
    EXPECT_FALSE(Contains(relay_->Stderr(), " event=reload ")) << relay_->Stderr();
    EXPECT_EQ(EchoThrough(port_, "kept"), "kept");
}

INSTANTIATE_TEST_SUITE_P(Engines, RelayReloadTest, testing::ValuesIn(kEngines), EngineName);

// ---- Drain on SIGTERM ----

class RelayDrainTest : public testing::TestWithParam<std::string> {
  protected:
    // A relay in front of the echo target, a client that has had an echo
    // through it, and the stop asked for.
    void StartAndStop(const std::string& drainTimeout, const std::string& sent) {
        relay_ = StartRelay(OnEngine(GetParam(), {"--target-port", std::to_string(echo_.Port()),
                                                  "--drain-timeout", drainTimeout}),
                            &port_);
        ASSERT_NE(relay_, nullptr);
        client_ = Connect(port_);
        ASSERT_TRUE(client_.Send(sent));
        ASSERT_EQ(client_.Read(sent.size()), sent);
        relay_->Signal(SIGTERM);
        ASSERT_TRUE(relay_->WaitForStderr(
            " level=info event=stopping live=1 drain_timeout=" + drainTimeout + "\n", kPatienceMs))
            << relay_->Stderr();
    }

    EchoServer echo_;
    int port_ = 0;
    std::unique_ptr<RelayProcess> relay_;
    TestSocket client_;
};

TEST_P(RelayDrainTest, LiveTransferFinishesAndNoNewClientIsServed) {
    const std::string payload = EveryByteValue(200000);
    const std::string rest = payload.substr(payload.size() / 2);
    StartAndStop("10", payload.substr(0, payload.size() / 2));

    TestSocket late = Connect(port_);
    if (late.valid()) {
        late.Send("late");
        bool sawEnd = false;
        EXPECT_EQ(late.ReadToEnd(&sawEnd), "") << "served after the stop";
    }
    ASSERT_TRUE(client_.Send(rest));
    EXPECT_EQ(client_.Read(rest.size()), rest);
    client_.ShutdownSend();
    EXPECT_TRUE(SeesEnd(client_));
    client_.Close();

    EXPECT_EQ(relay_->WaitForExit(kPatienceMs), 0);
    EXPECT_TRUE(Contains(relay_->Stderr(), " level=info event=stopped drained=all\n"))
        << relay_->Stderr();
    EXPECT_EQ(echo_.AcceptedCount(), 1);
    EXPECT_EQ(echo_.Received(), payload);
}

TEST_P(RelayDrainTest, ClientStillOpenAtTheDeadlineIsCut) {
    StartAndStop("1", "idle");
    EXPECT_EQ(relay_->WaitForExit(500), std::nullopt) << "ended before the drain time was up";
    EXPECT_EQ(relay_->WaitForExit(kPatienceMs), 0);
    EXPECT_TRUE(SeesEnd(client_));
    EXPECT_TRUE(Contains(relay_->Stderr(), " level=info event=stopped drained=cut_at_deadline\n"))
        << relay_->Stderr();
}

TEST_P(RelayDrainTest, SecondSignalEndsTheDrainAtOnce) {
    StartAndStop("30", "idle");
    relay_->Signal(SIGTERM);
    EXPECT_EQ(relay_->WaitForExit(kPatienceMs), 0) << "still draining";
    EXPECT_TRUE(SeesEnd(client_));
    const std::string err = relay_->Stderr();
    EXPECT_TRUE(Contains(err, "level=warn event=stopped_at_once\n")) << err;
    EXPECT_FALSE(Contains(err, " event=stopped ")) << err;
}

INSTANTIATE_TEST_SUITE_P(Engines, RelayDrainTest, testing::ValuesIn(kEngines), EngineName);

// ---- Signals before the service runs ----

// True once the relay's main thread blocks the signal, as /proc shows it.
bool BlocksSignal(pid_t pid, int signal) {
    return WaitUntil(
        [&] {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; std::getline(status, line);) {
                unsigned long long mask = 0;
                if (std::sscanf(line.c_str(), "SigBlk: %llx", &mask) == 1) {
                    return (mask >> (signal - 1) & 1) != 0;
                }
            }
            return false;
        },
        std::chrono::milliseconds(2000));
}

// Hands the bytes to the process reading the FIFO; false when none opens it in time.
bool FeedFifo(const std::string& path, const std::string& bytes) {
    int fd = -1;
    WaitUntil([&] {
        fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);  // fails while no reader has it open
        return fd >= 0;
    });
    if (fd < 0) {
        return false;
    }
    const bool written =
        write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return written;
}

class RelayEarlySignalTest : public testing::TestWithParam<int> {};

// The signal comes while the relay still reads its config file, a FIFO that
// nobody has written yet: it is held, not fatal. A stop then ends the relay
// cleanly; a reload is carried out once it runs (and reads the file again).
// systemd counts a death by SIGHUP as a clean exit and would not restart it.
TEST_P(RelayEarlySignalTest, SignalWhileTheConfigIsReadIsHeldNotFatal) {
    const int signal = GetParam();
    EchoServer echo;
    const ScratchDirectory directory;
    const std::string fifo = directory.Path() + "/relay.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string settings = "[Vorlane]\n" + TargetLine(echo);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int port = FreePort();
        RelayProcess relay({"--config", fifo, "--listen", std::to_string(port)});
        EXPECT_TRUE(BlocksSignal(relay.Pid(), signal)) << "not held while the config is read";
        relay.Signal(signal);
        ASSERT_TRUE(FeedFifo(fifo, settings)) << "ended before reading its config";
        if (signal == SIGHUP) {
            ASSERT_TRUE(relay.WaitForStderr(ListeningPort(port), kPatienceMs)) << relay.Stderr();
            ASSERT_TRUE(FeedFifo(fifo, settings)) << relay.Stderr();
            ASSERT_TRUE(relay.WaitForStderr(" level=info event=reload ", kPatienceMs))
                << relay.Stderr();
            EXPECT_EQ(EchoThrough(port, "alive"), "alive");
            relay.Signal(SIGTERM);
        }
        ASSERT_EQ(relay.WaitForExit(kPatienceMs), 0) << relay.Stderr();
        EXPECT_FALSE(Contains(relay.Stderr(), "level=error")) << relay.Stderr();
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, RelayEarlySignalTest, testing::Values(SIGHUP, SIGTERM),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == SIGHUP ? "Sighup" : "Sigterm";
                         });

// ---- Readiness for systemd ----

// A stand-in for systemd's notification socket, given to the relay as
// NOTIFY_SOCKET: a path, or "@name" in the abstract namespace.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (path.front() == '@') {
            address.sun_path[0] = '\0';
        }
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~NotifySocket() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool IsValid() const { return fd_ >= 0; }
    std::string Variable() const { return "NOTIFY_SOCKET=" + path_; }

    // The next datagram; empty when none comes in time.
    std::string Next(int timeoutMs) const {
        if (!net::WaitReadable(fd_, timeoutMs)) {
            return "";
        }
        char buffer[4096];
        const ssize_t size = recv(fd_, buffer, sizeof buffer, 0);
        return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : "";
    }

  private:
    std::string path_;
    int fd_ = -1;
};

class RelayReadinessTest : public testing::TestWithParam<std::string> {};

// READY=1 comes only once the relay and its metrics endpoint accept, so a
// unit ordered after it finds the port bound; a reload and a stop are told too.
TEST_P(RelayReadinessTest, TellsSystemdOnceItServesAndAroundAReloadAndAStop) {
    EchoServer echo;
    const ScratchDirectory directory;
    const NotifySocket systemd(directory.Path() + "/notify");
    ASSERT_TRUE(systemd.IsValid());
    const int port = FreePort();
    const int metricsPort = FreePort();
    RelayProcess relay(OnEngine(GetParam(), {"--listen", std::to_string(port), "--target-port",
                                             std::to_string(echo.Port()), "--metrics",
                                             std::to_string(metricsPort)}),
                       {systemd.Variable()});

    ASSERT_EQ(systemd.Next(kPatienceMs), "READY=1") << relay.Stderr();
    EXPECT_TRUE(IsListening(static_cast<std::uint16_t>(port)));
    EXPECT_TRUE(IsListening(static_cast<std::uint16_t>(metricsPort)));
    relay.Signal(SIGHUP);
    EXPECT_EQ(systemd.Next(kPatienceMs), "RELOADING=1");
    EXPECT_EQ(systemd.Next(kPatienceMs), "READY=1");
    EXPECT_TRUE(relay.WaitForStderr(" event=reload ", kPatienceMs)) << relay.Stderr();
    relay.Signal(SIGTERM);
    EXPECT_EQ(systemd.Next(kPatienceMs), "STOPPING=1");
    EXPECT_EQ(relay.WaitForExit(kPatienceMs), 0);
    EXPECT_EQ(systemd.Next(100), "");
}

INSTANTIATE_TEST_SUITE_P(Engines, RelayReadinessTest, testing::ValuesIn(kEngines), EngineName);

TEST(RelayReadinessTest, ReachesASocketInTheAbstractNamespace) {
    const NotifySocket systemd("@vorlane-notify-" + std::to_string(getpid()));
    ASSERT_TRUE(systemd.IsValid());
    int port = 0;
    auto relay = StartRelay({"--target-port", "1"}, &port, {systemd.Variable()});
    ASSERT_NE(relay, nullptr);
    EXPECT_EQ(systemd.Next(kPatienceMs), "READY=1");
}

}  // namespace
