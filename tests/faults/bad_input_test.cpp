// The headless relay fed odd settings files and malformed option values.
// A file's effect shows in how a client is treated: ConnectionLimit=0 read
// from it refuses the client, the default limit serves it; a file whose
// structure does not hold (no [Vorlane] section, an unknown or repeated key)
// is rejected before anyone is served.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "loopback_server.h"
#include "relay_process.h"
#include "test_socket.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace testing_support;

constexpr char kRefusal[] = "too many connection\r\n";

class ScratchFile {
  public:
    explicit ScratchFile(const std::string& bytes) {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("vorlane-bad-input-" + std::to_string(seed()) + ".ini");
        std::ofstream(path_, std::ios::binary) << bytes;
    }
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    std::string path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

enum class Treated { Served, Refused, Rejected };

struct ConfigCase {
    const char* name;
    std::string file;
    Treated treated;
};

void PrintTo(const ConfigCase& c, std::ostream* out) {
    *out << c.name;
}

class ConfigFileTest : public testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigFileTest, RelayReadsWhatThePrivateProfileCallsWould) {
    const ConfigCase& c = GetParam();
    LoopbackServer echo([](TestSocket& connection, int) { LoopbackServer::Echo(connection); });
    const ScratchFile file(c.file);
    ListeningRelay relay(echo.Port(), {"--config", file.path()});
    if (c.treated == Treated::Rejected) {
        ASSERT_TRUE(relay.Process().WaitForExit(10000).has_value());
        EXPECT_EQ(relay.Process().ExitCode(), 2);
        const std::string err = relay.Process().Stderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        return;
    }
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();

    TestSocket client = Connect(relay.Port());
    SetReceiveTimeout(client.fd(), 10000);
    ASSERT_TRUE(SendAll(client.fd(), "ping", 4));
    ::shutdown(client.fd(), SHUT_WR);
    const std::string answer = ReceiveUntilEnd(client.fd(), 64);
    EXPECT_EQ(answer, c.treated == Treated::Served ? "ping" : kRefusal);
}

const std::string kMegabyte(1 << 20, 'm');

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigFileTest,
    testing::Values(
        ConfigCase{"Empty", "", Treated::Rejected},
        ConfigCase{"BinaryJunkOnly", "\x00\xff\xfe[\x00\x01=\x02\r\n\x80\x81"s, Treated::Rejected},
        ConfigCase{"BinaryJunkBeforeSection",
                   "\x00\xff\x7f junk\r\n[Vorlane]\r\nConnectionLimit=0\r\n"s, Treated::Refused},
        ConfigCase{"ByteOrderMark", "\xEF\xBB\xBF[Vorlane]\r\nConnectionLimit=0\r\n",
                   Treated::Refused},
        ConfigCase{"LineFeedsOnly", "[Vorlane]\nConnectionLimit=0\n", Treated::Refused},
        ConfigCase{"NoFinalLineEnd", "[Vorlane]\r\nConnectionLimit=0", Treated::Refused},
        ConfigCase{"MegabyteValueBeforeTheKey",
                   "[Vorlane]\r\nDestAddr=" + kMegabyte + "\r\nConnectionLimit=0\r\n",
                   Treated::Refused},
        ConfigCase{"MegabyteUnknownKey",
                   "[Vorlane]\r\nNotes=" + kMegabyte + "\r\nConnectionLimit=0\r\n",
                   Treated::Rejected},
        ConfigCase{"MegabyteLineWithoutEquals",
                   "[Vorlane]\r\n" + kMegabyte + "\r\nConnectionLimit=0\r\n", Treated::Rejected},
        ConfigCase{"MegabyteLineInAnotherSection",
                   "[Notes]\r\n" + kMegabyte + "\r\n[Vorlane]\r\nConnectionLimit=0\r\n",
                   Treated::Refused},
        ConfigCase{"DuplicateKeys", "[Vorlane]\r\nConnectionLimit=100\r\nConnectionLimit=0\r\n",
                   Treated::Rejected},
        ConfigCase{"DuplicateSections",
                   "[Vorlane]\r\nDestAddr=127.0.0.1\r\n[Vorlane]\r\nConnectionLimit=0\r\n",
                   Treated::Rejected},
        ConfigCase{"OtherLetterCases", "[VORLANE]\r\nconnectionLIMIT=0\r\n", Treated::Refused},
        ConfigCase{"QuotesAndBlanksAroundValue", "[Vorlane]\r\nConnectionLimit = '100' \r\n",
                   Treated::Served},
        ConfigCase{"KeyInAnotherSection", "[Other]\r\nConnectionLimit=0\r\n[Vorlane]\r\n",
                   Treated::Served},
        ConfigCase{"CommentedOutKey", "[Vorlane]\r\n;ConnectionLimit=0\r\n", Treated::Served}),
    [](const testing::TestParamInfo<ConfigCase>& info) { return info.param.name; });

// Values the option parser must refuse with one line naming the option, and
// exit 2 before it listens.
struct OptionCase {
    const char* name;
    std::vector<std::string> arguments;  // the option first
};

void PrintTo(const OptionCase& c, std::ostream* out) {
    *out << c.name;
}

class MalformedOptionTest : public testing::TestWithParam<OptionCase> {};

TEST_P(MalformedOptionTest, ExitsTwoWithOneLineNamingTheOption) {
    const std::vector<std::string>& arguments = GetParam().arguments;
    RelayProcess relay(arguments);
    ASSERT_EQ(relay.WaitForExit(10000), 2);
    const std::string err = relay.Stderr();
    EXPECT_NE(err.find(arguments.front()), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(relay.Stdout(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Values, MalformedOptionTest,
    testing::Values(
        OptionCase{"EmptyPort", {"--listen", ""}}, OptionCase{"PortWithBlank", {"--listen", " 80"}},
        OptionCase{"PortWithSuffix", {"--listen", "80x"}},
        OptionCase{"PortInHex", {"--target-port", "0x50"}},
        OptionCase{"PortFarAboveRange", {"--listen", "99999999999999999999"}},
        OptionCase{"LimitAboveInt", {"--limit", "4294967296"}},
        OptionCase{"LimitWithSign", {"--limit", "+-5"}}, OptionCase{"EmptyMode", {"--encode", ""}},
        OptionCase{"BufferWithUnit", {"--buffer", "1k"}}, OptionCase{"EmptyAllow", {"--allow", ""}},
        OptionCase{"AllowWithoutPrefix", {"--allow", "127.0.0.1/"}},
        OptionCase{"BindPartAbove255", {"--bind", "127.0.0.256"}},
        OptionCase{"ConfigIsADirectory", {"--config", "/"}}),
    [](const testing::TestParamInfo<OptionCase>& info) { return info.param.name; });

}  // namespace
