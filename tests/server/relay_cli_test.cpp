// vorlane-relay as users run it: a real child process relaying over loopback.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "loopback_server.h"
#include "platform/ip_address.h"
#include "relay_process.h"
#include "relay_test_helpers.h"
#include "scratch_directory.h"
#include "test_socket.h"
#include "vorlane_version.h"

namespace {

using cli_testing::EchoThrough;
using cli_testing::EveryByteValue;
using cli_testing::kEngines;
using cli_testing::OnEngine;
using cli_testing::Titled;
using testing_support::EchoServer;
using testing_support::FreePort;
using testing_support::kPatienceMs;
using testing_support::ListeningPort;
using testing_support::RelayProcess;
using testing_support::ScratchDirectory;
using testing_support::StartRelay;
using testing_support::TestSocket;

// For tests whose only parameter is the engine.
class EngineTest : public testing::TestWithParam<std::string> {};

std::string EngineName(const testing::TestParamInfo<std::string>& info) {
    return Titled(info.param);
}

class RelayStopTest : public testing::TestWithParam<std::tuple<int, std::string>> {};

// A client that stays connected past the drain time is cut: the stop does not
// wait for it longer than asked.
TEST_P(RelayStopTest, RelaysUntilSignalledThenExitsAfterTheDrainTime) {
    const auto [signal, engine] = GetParam();
    EchoServer echo;
    int port = 0;
    auto relay = StartRelay(OnEngine(engine, {"--target-port", std::to_string(echo.Port()),
                                              "--stats", "--drain-timeout", "0"}),
                            &port);
    ASSERT_NE(relay, nullptr);

    TestSocket client = testing_support::Connect(port);
    const std::string payload = EveryByteValue(5000);
    ASSERT_TRUE(client.Send(payload));
    EXPECT_EQ(client.Read(payload.size()), payload);
    EXPECT_TRUE(relay->WaitForStdout(" clients=1 shares=2 refused=0 up=\"4.9 KB\" down=\"4.9 KB\"",
                                     kPatienceMs))
        << relay->Stdout();

    relay->Signal(signal);
    EXPECT_EQ(relay->WaitForExit(kPatienceMs), 0);
    bool sawEnd = false;
    client.ReadToEnd(&sawEnd);
    EXPECT_TRUE(sawEnd) << "the client left open was not closed";
    const std::string err = relay->Stderr();
    EXPECT_NE(err.find(" level=info event=stopping live=1 drain_timeout=0\n"), std::string::npos)
        << err;
    const std::string last = " level=info event=stopped drained=cut_at_deadline\n";
    EXPECT_TRUE(err.size() > last.size() && err.substr(err.size() - last.size()) == last) << err;
    EXPECT_EQ(err.find("level=error"), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Signals, RelayStopTest,
                         testing::Combine(testing::Values(SIGTERM, SIGINT),
                                          testing::ValuesIn(kEngines)),
                         [](const testing::TestParamInfo<RelayStopTest::ParamType>& info) {
                             return (std::get<0>(info.param) == SIGTERM ? "Sigterm" : "Sigint") +
                                    Titled(std::get<1>(info.param));
                         });

struct ErrorCase {
    const char* name;
    std::vector<std::string> arguments;  // "{config}" is the config file, "{taken}" a busy port
    std::string config;
    int exitCode;
    std::string message;
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.name;
}

// A case and the engine it runs on; none for errors found before either starts.
class RelayErrorTest : public testing::TestWithParam<std::tuple<ErrorCase, std::string>> {};

TEST_P(RelayErrorTest, ExitsWithItsCodeAndOneLineNamingTheCause) {
    const auto& [c, engine] = GetParam();
    const EchoServer busy;
    const ScratchDirectory directory;
    const std::string configPath = directory.WriteFile("relay.ini", c.config);
    std::vector<std::string> arguments;
    for (const std::string& argument : c.arguments) {
        if (argument == "{config}") {
            arguments.push_back(configPath);
        } else if (argument == "{taken}") {
            arguments.push_back(std::to_string(busy.Port()));
        } else {
            arguments.push_back(argument);
        }
    }

    RelayProcess relay(OnEngine(engine, arguments));
    EXPECT_EQ(relay.WaitForExit(kPatienceMs), c.exitCode);
    const std::string err = relay.Stderr();
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(relay.Stdout(), "");
    EXPECT_EQ(busy.AcceptedCount(), 0);
}

const char kBlankTarget[] = "Please input target IP or domain first!";
const char kPortTaken[] =
    "Listen failed, Maybe the local port you specified is taken, please try another port!";

std::string ErrorCaseName(const testing::TestParamInfo<RelayErrorTest::ParamType>& info) {
    return std::get<0>(info.param).name + Titled(std::get<1>(info.param));
}

// Refused by the command line or the config file before any engine runs.
INSTANTIATE_TEST_SUITE_P(
    OptionErrors, RelayErrorTest,
    testing::Combine(
        testing::Values(
            ErrorCase{"ListenNotANumber", {"--listen", "abc"}, "", 2, "--listen"},
            ErrorCase{"ListenAbovePortRange", {"--listen", "65536"}, "", 2, "--listen"},
            ErrorCase{"NegativeTargetPort", {"--target-port", "-1"}, "", 2, "--target-port"},
            ErrorCase{"TargetPortZero", {"--target-port", "0"}, "", 2, "--target-port"},
            ErrorCase{"NegativeLimit", {"--limit", "-1"}, "", 2, "--limit"},
            ErrorCase{"NonNumericLimit", {"--limit", "many"}, "", 2, "--limit"},
            ErrorCase{"UnknownMode", {"--encode", "both"}, "", 2, "--encode"},
            ErrorCase{"ZeroBuffer", {"--buffer", "0"}, "", 2, "--buffer"},
            ErrorCase{"BufferAboveOneMegabyte", {"--buffer", "1048577"}, "", 2, "--buffer"},
            ErrorCase{"BindToHostName", {"--bind", "localhost"}, "", 2, "--bind"},
            ErrorCase{"AllowPrefixTooLong", {"--allow", "10.0.0.0/33"}, "", 2, "--allow"},
            ErrorCase{"UnknownOption", {"--frobnicate"}, "", 2, "--frobnicate"},
            ErrorCase{"MissingValue", {"--target"}, "", 2, "--target"},
            ErrorCase{"UnreadableConfig",
                      {"--config", "no-such-directory/Setting.ini"},
                      "",
                      2,
                      "--config"},
            ErrorCase{"V6BindOnThreadsEngine",
                      {"--engine", "threads", "--bind", "::1"},
                      "",
                      2,
                      "--bind: '::1' is not an IPv4 address"},
            ErrorCase{"V6BindInConfigOnThreadsEngine",
                      {"--engine", "threads", "--config", "{config}"},
                      "[Vorlane]\nBindAddr=::1\n",
                      2,
                      "BindAddr=::1 is not an IPv4 address"},
            ErrorCase{"StatsNotANumber", {"--stats", "x"}, "", 2, "--stats: 'x'"},
            ErrorCase{"UnknownLogLevel", {"--log-level", "verbose"}, "", 2, "--log-level"},
            ErrorCase{"QuietWithLogLevel",
                      {"--quiet", "--log-level", "info"},
                      "",
                      2,
                      "--log-level excludes --quiet"},
            ErrorCase{"NegativeDrainTimeout", {"--drain-timeout", "-1"}, "", 2, "--drain-timeout"},
            // systemd's stop time-out would kill a longer drain.
            ErrorCase{"DrainTimeoutAboveTheUnitsStopTime",
                      {"--drain-timeout", "61"},
                      "",
                      2,
                      "--drain-timeout: '61' is not a number from 0 to 60"},
            // Shown escaped: no terminal command and no second line reach the reader.
            ErrorCase{"EscapeSequenceInValue",
                      {"--listen", "8\x1b[2J"},
                      "",
                      2,
                      "vorlane-relay: --listen: '8\\x1b[2J' is not"},
            ErrorCase{"LineBreakInValue", {"--limit", "1\n2"}, "", 2, "--limit: '1\\x0a2'"},
            ErrorCase{"InvalidBytesInValue",
                      {"--engine", "\xff\xc2\x9b\xc3\xa9"},
                      "",
                      2,
                      "--engine: '\\xff\\xc2\\x9b\xc3\xa9' is not"},
            ErrorCase{"ControlByteInUnknownOption", {"--fr\aob"}, "", 2, "--fr\\x07ob"},
            ErrorCase{"ControlByteInConfigPath",
                      {"--config", "no-such\x1b]0;x\a.ini"},
                      "",
                      2,
                      "--config: cannot read 'no-such\\x1b]0;x\\x07.ini'"},
            // A typo in the file's structure would leave every default in force.
            ErrorCase{"MisspelledSection",
                      {"--config", "{config}"},
                      "[Vorlan]\nAllowFrom=10.0.0.0/8\n",
                      2,
                      "relay.ini: has no [Vorlane] section"},
            ErrorCase{"CheckConfigRefusesAnUnknownKey",
                      {"--check-config", "--config", "{config}"},
                      "[Vorlane]\nAllowForm=10.0.0.0/8\n",
                      2,
                      "relay.ini: AllowForm=10.0.0.0/8 is not a known key"},
            ErrorCase{"MetricsV6WithoutBrackets", {"--metrics", "::1:9100"}, "", 2, "--metrics"}),
        testing::Values(std::string())),
    ErrorCaseName);

// Refused by the engine when it starts, each engine on its own.
INSTANTIATE_TEST_SUITE_P(
    StartRefusals, RelayErrorTest,
    testing::Combine(
        testing::Values(ErrorCase{"BlankTarget", {"--target", " \t"}, "", 1, kBlankTarget},
                        ErrorCase{"EmptyTargetInConfig",
                                  {"--config", "{config}"},
                                  "[Vorlane]\r\nDestAddr=\r\n",
                                  1,
                                  kBlankTarget},
                        ErrorCase{"PortTaken", {"--listen", "{taken}"}, "", 1, kPortTaken}),
        testing::ValuesIn(kEngines)),
    ErrorCaseName);

struct BadFileCase {
    const char* name;
    std::string lines;      // of the [Vorlane] section
    std::string complaint;  // after "vorlane-relay: FILE: "
};

void PrintTo(const BadFileCase& c, std::ostream* out) {
    *out << c.name;
}

// Good ranges past 255 characters, then a bad one.
std::string LongRangeList() {
    std::string list;
    for (int i = 0; i < 24; ++i) {
        list += "10.0.0.0/8,";
    }
    return list + "10.0.0.0/99";
}
const std::string kLongRangeList = LongRangeList();

class RelayBadFileTest : public testing::TestWithParam<BadFileCase> {};

// Checked before any engine runs, whatever the command line overrides, even
// the window's own keys the relay does not use.
TEST_P(RelayBadFileTest, ExitsTwoWithOneLineNamingFileKeyAndValue) {
    const BadFileCase& c = GetParam();
    const ScratchDirectory directory;
    const std::string path = directory.WriteFile("a.ini", "[Vorlane]\r\n" + c.lines);
    RelayProcess relay({"--config", path, "--listen", "0", "--limit", "5"});
    EXPECT_EQ(relay.WaitForExit(kPatienceMs), 2);
    EXPECT_EQ(relay.Stderr(), "vorlane-relay: " + path + ": " + c.complaint + "\n");
    EXPECT_EQ(relay.Stdout(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayBadFileTest,
    testing::Values(
        BadFileCase{"LimitNotANumber", "ConnectionLimit=ten\r\n",
                    "ConnectionLimit=ten is not a number from 0 to 2147483647"},
        BadFileCase{"PortDoesNotWrap", "LocalListenPort=83617\r\n",
                    "LocalListenPort=83617 is not a number from 0 to 65535"},
        BadFileCase{"EmptyTargetPort", "DestPort=\r\n",
                    "DestPort= is not a number from 1 to 65535"},
        BadFileCase{"TargetPortZero", "DestPort=0\r\n",
                    "DestPort=0 is not a number from 1 to 65535"},
        BadFileCase{"TrailingJunk", "locallistenport = 80x\r\n",
                    "LocalListenPort=80x is not a number from 0 to 65535"},
        BadFileCase{"BoxNotZeroOrOne", "EncodeClient=yes\r\n", "EncodeClient=yes is not 0 or 1"},
        BadFileCase{"WindowOnlyBox", "MinHideToTray=2\r\n", "MinHideToTray=2 is not 0 or 1"},
        BadFileCase{"HexBuffer", "Buffer=0x10\r\n",
                    "Buffer=0x10 is not a number from 1 to 1048576"},
        BadFileCase{"NegativeIdleTimeout", "IdleTimeout=-1\r\n",
                    "IdleTimeout=-1 is not a number from 0 to 31536000"},
        BadFileCase{"ExponentConnectTimeout", "ConnectTimeout=1e3\r\n",
                    "ConnectTimeout=1e3 is not a number from 0 to 31536000"},
        BadFileCase{"EmptyDrainTimeout", "DrainTimeout=\r\n",
                    "DrainTimeout= is not a number from 0 to 60"},
        BadFileCase{"DrainTimeoutAboveTheUnitsStopTime", "DrainTimeout=61\r\n",
                    "DrainTimeout=61 is not a number from 0 to 60"},
        BadFileCase{"UnknownLogLevel", "LogLevel=verbose\r\n",
                    "LogLevel=verbose is not one of error, warn, info, debug"},
        BadFileCase{"UnknownEngine", "Engine=fibers\r\n",
                    "Engine=fibers is not one of events, threads"},
        BadFileCase{"MetricsHostName", "Metrics=localhost:9100\r\n",
                    "Metrics=localhost:9100 is not [ADDRESS:]PORT with a port from 1 to 65535"},
        BadFileCase{"BindToName", "BindAddr=any\r\n",
                    "BindAddr=any is not an IPv4 or IPv6 address"},
        BadFileCase{"BadRangeInList", "AllowFrom=10.0.0.0/8, nowhere\r\n",
                    "AllowFrom=10.0.0.0/8, nowhere is not a list of ranges such as 10.0.0.0/8, "
                    "10.1.2.3, fd00::/8"},
        // Read whole: a cut at 255 characters would drop the bad range.
        BadFileCase{"BadRangePastTheWindowsCut", "AllowFrom=" + kLongRangeList + "\r\n",
                    "AllowFrom=" + kLongRangeList +
                        " is not a list of ranges such as 10.0.0.0/8, 10.1.2.3, fd00::/8"},
        // Each of these used to leave the default in force: every client admitted.
        BadFileCase{"CommasWithoutARange", "AllowFrom= , ,\r\n",
                    "AllowFrom=, , is not a list of ranges such as 10.0.0.0/8, 10.1.2.3, fd00::/8"},
        BadFileCase{"MisspelledKey", "AllowForm=10.0.0.0/8\r\n",
                    "AllowForm=10.0.0.0/8 is not a known key"},
        BadFileCase{"EmptyKeyBeforeARealOne", "AllowFrom=\r\nallowfrom=10.0.0.0/8\r\n",
                    "AllowFrom is given twice"},
        BadFileCase{"SecondSection", "DestPort=1988\r\n[VORLANE]\r\nAllowFrom=10.0.0.0/8\r\n",
                    "has a second [Vorlane] section"},
        BadFileCase{"LineWithoutEquals", "AllowFrom 10.0.0.0/8\r\n",
                    "'AllowFrom 10.0.0.0/8' is not a Key=value line"},
        BadFileCase{"ControlBytesInValue", "DestPort=8\x1b[2J\x7f\r\n",
                    "DestPort=8\\x1b[2J\\x7f is not a number from 1 to 65535"}),
    [](const testing::TestParamInfo<BadFileCase>& info) { return info.param.name; });

struct CheckConfigCase {
    const char* name;
    std::string file;  // none when empty
    std::vector<std::string> arguments;
    std::string printed;
};

void PrintTo(const CheckConfigCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayCheckConfigTest : public testing::TestWithParam<CheckConfigCase> {};

// --check-config prints the settings as resolved and exits without listening;
// what it prints is itself a config file that resolves to the same.
TEST_P(RelayCheckConfigTest, PrintsTheResolvedSettingsAsAConfigFile) {
    const CheckConfigCase& c = GetParam();
    const ScratchDirectory directory;
    std::vector<std::string> arguments = {"--check-config"};
    if (!c.file.empty()) {
        arguments.insert(arguments.end(), {"--config", directory.WriteFile("a.ini", c.file)});
    }
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    RelayProcess relay(arguments);
    EXPECT_EQ(relay.WaitForExit(kPatienceMs), 0);
    EXPECT_EQ(relay.Stdout(), c.printed);
    EXPECT_EQ(relay.Stderr(), "");

    RelayProcess again({"--check-config", "--config", directory.WriteFile("b.ini", c.printed)});
    EXPECT_EQ(again.WaitForExit(kPatienceMs), 0);
    EXPECT_EQ(again.Stdout(), c.printed);
}

const char kDefaultsPrinted[] =
    "[Vorlane]\nLocalListenPort=1987\nConnectionLimit=100\nDestAddr=127.0.0.1\nDestPort=1988\n"
    "EncodeClient=0\nEncodeServer=0\nBindAddr=\nAllowFrom=\nClientsPerAddress=40\nBuffer=262144\n"
    "ConnectTimeout=10\nIdleTimeout=0\nFirstByteTimeout=30\nDrainTimeout=10\nLogLevel=info\nStats="
    "0\nMetrics=\nEngine=events\nLinkKey=\n";

const char kEveryKey[] =
    "; by hand\r\n[vorlane]\r\nlocallistenport = 80\r\nConnectionLimit=7\r\n"
    "DestAddr=\" db.example#newline#\"\r\nDestPort=5432\r\nEncodeClient=0\r\nEncodeServer=1\r\n"
    "AutoStart=1\r\nMinHideToTray=1\r\nBindAddr=127.0.0.2\r\nAllowFrom= 10.0.0.0/8 ,fd00::/8\r\n"
    "Buffer=\r\nConnectTimeout=3\r\nIdleTimeout=60\r\nDrainTimeout=0\r\nLogLevel=debug\r\n"
    "ClientsPerAddress=3\r\nFirstByteTimeout=7\r\n"
    "Stats=5\r\nMetrics=9100\r\nEngine=threads\r\n[Other]\r\nLocalListenPort=1\r\n";

// The window's read stops at a NUL, which leaves a CR at the end; the reader
// would drop it as a blank unless the printed value is quoted.
const std::string kTargetEndingInCr("[Vorlane]\nDestAddr=host\r\0junk\n", 30);

std::string DefaultsWithTarget(const std::string& line) {
    std::string printed = kDefaultsPrinted;
    const std::string defaultLine = "DestAddr=127.0.0.1\n";
    return printed.replace(printed.find(defaultLine), defaultLine.size(), line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayCheckConfigTest,
    testing::Values(
        CheckConfigCase{"Defaults", "", {}, kDefaultsPrinted},
        CheckConfigCase{"TargetEndingInACarriageReturn",
                        kTargetEndingInCr,
                        {},
                        DefaultsWithTarget("DestAddr=\"host\r\"\n")},
        CheckConfigCase{
            "EveryKeyFromTheFile",
            kEveryKey,
            {},
            "[Vorlane]\nLocalListenPort=80\nConnectionLimit=7\n"
            "DestAddr=\" db.example#newline#\"\nDestPort=5432\nEncodeClient=0\n"
            "EncodeServer=1\nBindAddr=127.0.0.2\nAllowFrom=10.0.0.0/8, fd00::/8\n"
            "ClientsPerAddress=3\nBuffer=2048\nConnectTimeout=3\nIdleTimeout=60\n"
            "FirstByteTimeout=7\nDrainTimeout=0\n"
            "LogLevel=debug\nStats=5\nMetrics=127.0.0.1:9100\nEngine=threads\nLinkKey=\n"},
        // A bare --stats followed by another option is one second.
        CheckConfigCase{"CommandLineOverTheFile",
                        kEveryKey,
                        {"--stats",
                         "--listen",
                         "0",
                         "--engine",
                         "events",
                         "--encode",
                         "none",
                         "--allow",
                         "::1",
                         "--bind",
                         "::1",
                         "--quiet",
                         "--metrics",
                         "[::1]:1",
                         "--drain-timeout",
                         "30",
                         "--target",
                         "h",
                         "--buffer",
                         "100",
                         "--clients-per-address",
                         "0",
                         "--first-byte-timeout",
                         "5"},
                        "[Vorlane]\nLocalListenPort=0\nConnectionLimit=7\nDestAddr=h\n"
                        "DestPort=5432\nEncodeClient=0\nEncodeServer=0\nBindAddr=::1\n"
                        "AllowFrom=::1/128\nClientsPerAddress=0\nBuffer=100\nConnectTimeout=3\n"
                        "IdleTimeout=60\nFirstByteTimeout=5\nDrainTimeout=30\nLogLevel="
                        "error\nStats=1\nMetrics=[::1]:1\n"
                        "Engine=events\nLinkKey=\n"}),
    [](const testing::TestParamInfo<CheckConfigCase>& info) { return info.param.name; });

TEST(RelayHelpTest, PrintsUsageAndExitsZero) {
    RelayProcess relay({"--help"});
    EXPECT_EQ(relay.WaitForExit(kPatienceMs), 0);
    for (const char* option : {"--config", "--listen", "--target", "--target-port", "--limit",
                               "--encode", "--buffer", "--stats", "--bind", "--allow"}) {
        EXPECT_NE(relay.Stdout().find(option), std::string::npos) << option;
    }
}

TEST(RelayHelpTest, VersionOptionsPrintTheProjectVersionAndExitZero) {
    for (const char* option : {"--version", "-V"}) {
        RelayProcess relay({option});
        EXPECT_EQ(relay.WaitForExit(kPatienceMs), 0) << option;
        EXPECT_EQ(relay.Stdout(), "vorlane-relay " VORLANE_VERSION_TEXT "\n") << option;
    }
}

// The config file gives the listening port, a quoted target and both encode
// boxes; the command line overrides.
using RelayConfigTest = EngineTest;

TEST_P(RelayConfigTest, FileValuesAreUsedAndTheCommandLineWins) {
    const std::string& engine = GetParam();
    EchoServer echo;
    const ScratchDirectory directory;
    const std::string unusedTargetPort = std::to_string(FreePort());
    std::unique_ptr<RelayProcess> fromFile;
    std::string configPath;
    int filePort = 0;
    for (int attempt = 0; attempt < 3 && !fromFile; ++attempt) {
        filePort = FreePort();
        configPath = directory.WriteFile(
            "Setting.ini", "; by hand\n[vorlane]\nlocallistenport = " + std::to_string(filePort) +
                               "\nDestAddr=' 127.0.0.1 '\nDestPort=" + unusedTargetPort +
                               "\nEncodeClient=1\nEncodeServer=1\n");
        fromFile = std::make_unique<RelayProcess>(OnEngine(
            engine, {"--config", configPath, "--target-port", std::to_string(echo.Port())}));
        if (!fromFile->WaitForStderr(ListeningPort(filePort), kPatienceMs)) {
            fromFile.reset();
        }
    }
    ASSERT_NE(fromFile, nullptr);
    // Client mode: the target sees mapped bytes, the client plain ones.
    EXPECT_EQ(EchoThrough(filePort, "GET "), "GET ");
    EXPECT_EQ(echo.Received(), "\xB3\xB5\xA6\xDA");

    int port = 0;
    auto overridden = StartRelay(OnEngine(engine, {"--config", configPath, "--encode", "none",
                                                   "--target-port", std::to_string(echo.Port())}),
                                 &port);
    ASSERT_NE(overridden, nullptr);
    EXPECT_EQ(EchoThrough(port, "PUT "), "PUT ");
    EXPECT_EQ(echo.Received(),
              "\xB3\xB5\xA6\xDA"
              "PUT ");
}

INSTANTIATE_TEST_SUITE_P(Engines, RelayConfigTest, testing::ValuesIn(kEngines), EngineName);

struct AllowCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string allowFromLine;  // config file line, if any
    bool admitted;
};

void PrintTo(const AllowCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayAllowTest : public testing::TestWithParam<std::tuple<AllowCase, std::string>> {};

TEST_P(RelayAllowTest, AdmitsOnlyClientsInsideTheRanges) {
    const auto& [c, engine] = GetParam();
    EchoServer echo;
    const ScratchDirectory directory;
    std::vector<std::string> arguments = {
        "--target-port", std::to_string(echo.Port()), "--stats", "--config",
        directory.WriteFile("r.ini", "[Vorlane]\n" + c.allowFromLine)};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    int port = 0;
    auto relay = StartRelay(OnEngine(engine, arguments), &port);
    ASSERT_NE(relay, nullptr);

    TestSocket client = testing_support::Connect(port);
    ASSERT_TRUE(client.valid());
    client.Send("hello");
    if (c.admitted) {
        EXPECT_EQ(client.Read(5), "hello");
        EXPECT_TRUE(relay->WaitForStdout(" refused=0 ", kPatienceMs)) << relay->Stdout();
        EXPECT_EQ(echo.AcceptedCount(), 1);
    } else {
        bool sawEnd = false;
        EXPECT_EQ(client.ReadToEnd(&sawEnd), "");
        EXPECT_TRUE(relay->WaitForStdout(" refused=1 ", kPatienceMs)) << relay->Stdout();
        EXPECT_EQ(echo.AcceptedCount(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayAllowTest,
    testing::Combine(
        testing::Values(
            AllowCase{"OutsideCommandLineRange", {"--allow", "10.0.0.0/8"}, "", false},
            AllowCase{
                "InsideSecondRange", {"--allow", "10.0.0.0/8", "--allow", "127.0.0.1"}, "", true},
            AllowCase{"OutsideConfigRanges", {}, "AllowFrom = 10.0.0.0/8, 192.168.0.0/16\n", false},
            AllowCase{"InsideConfigRange", {}, "AllowFrom=10.0.0.0/8,127.0.0.0/8\n", true},
            AllowCase{"CommandLineReplacesConfigRanges",
                      {"--allow", "10.0.0.0/8"},
                      "AllowFrom=127.0.0.0/8\n",
                      false}),
        testing::ValuesIn(kEngines)),
    [](const testing::TestParamInfo<RelayAllowTest::ParamType>& info) {
        return std::get<0>(info.param).name + Titled(std::get<1>(info.param));
    });

bool ConnectsTo(std::uint32_t hostOrderAddr, int port) {
    const net::Socket socket = net::CreateTcpSocket();
    const bool connected =
        net::Connect(socket, net::IpAddress::FromV4(hostOrderAddr).V4NetworkOrder(),
                     static_cast<std::uint16_t>(port));
    net::Close(socket);
    return connected;
}

using RelayBindTest = EngineTest;

TEST_P(RelayBindTest, ListensOnTheGivenAddressOnly) {
    EchoServer echo;
    int port = 0;
    auto relay = StartRelay(
        OnEngine(GetParam(), {"--bind", "127.0.0.2", "--target-port", std::to_string(echo.Port())}),
        &port);
    ASSERT_NE(relay, nullptr);
    EXPECT_FALSE(ConnectsTo(0x7F000001, port));

    const net::Socket socket = net::CreateTcpSocket();
    ASSERT_TRUE(net::Connect(socket, net::IpAddress::FromV4(0x7F000002).V4NetworkOrder(),
                             static_cast<std::uint16_t>(port)));
    TestSocket client(socket);
    ASSERT_TRUE(client.Send("bound"));
    EXPECT_EQ(client.Read(5), "bound");
}

INSTANTIATE_TEST_SUITE_P(Engines, RelayBindTest, testing::ValuesIn(kEngines), EngineName);

}  // namespace
