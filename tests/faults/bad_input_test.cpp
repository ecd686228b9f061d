// The headless relay fed odd settings files and malformed option values.
// A file's effect shows in how a client is treated: ConnectionLimit=0 read
// from it refuses the client, the default limit serves it.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "loopback_socket.h"
#include "relay_process.h"
#include "scripted_target.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

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

enum class Treated { Served, Refused };

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
    ScriptedTarget echo(
        [](loopback::Socket& connection, int) { ScriptedTarget::Echo(connection); });
    const ScratchFile file(c.file);
    RelayProcess relay(echo.port(), {"--config", file.path()});
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.process().Output(OutputStream::Err);

    loopback::Socket client = loopback::Connect(relay.port());
    loopback::SetReceiveTimeout(client.fd(), 10000);
    ASSERT_TRUE(loopback::SendAll(client.fd(), "ping", 4));
    ::shutdown(client.fd(), SHUT_WR);
    const std::string answer = loopback::ReceiveUntilEnd(client.fd(), 64);
    EXPECT_EQ(answer, c.treated == Treated::Served ? "ping" : kRefusal);
}

const std::string kMegabyte(1 << 20, 'm');

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigFileTest,
    testing::Values(
        ConfigCase{"Empty", "", Treated::Served},
        ConfigCase{"BinaryJunkOnly", "\x00\xff\xfe[\x00\x01=\x02\r\n\x80\x81"s, Treated::Served},
        ConfigCase{"BinaryJunkBeforeSection",
                   "\x00\xff\x7f junk\r\n[Vorlane]\r\nConnectionLimit=0\r\n"s, Treated::Refused},
        ConfigCase{"ByteOrderMark", "\xEF\xBB\xBF[Vorlane]\r\nConnectionLimit=0\r\n",
                   Treated::Refused},
        ConfigCase{"LineFeedsOnly", "[Vorlane]\nConnectionLimit=0\n", Treated::Refused},
        ConfigCase{"NoFinalLineEnd", "[Vorlane]\r\nConnectionLimit=0", Treated::Refused},
        ConfigCase{"MegabyteLineBeforeTheKey",
                   "[Vorlane]\r\nNotes=" + kMegabyte + "\r\nConnectionLimit=0\r\n",
                   Treated::Refused},
        ConfigCase{"MegabyteLineWithoutEquals",
                   "[Vorlane]\r\n" + kMegabyte + "\r\nConnectionLimit=0\r\n", Treated::Refused},
        ConfigCase{"FirstOfDuplicateKeysWins",
                   "[Vorlane]\r\nConnectionLimit=100\r\nConnectionLimit=0\r\n", Treated::Served},
        ConfigCase{"OnlyFirstOfDuplicateSectionsIsRead",
                   "[Vorlane]\r\nDestAddr=127.0.0.1\r\n[Vorlane]\r\nConnectionLimit=0\r\n",
                   Treated::Served},
        ConfigCase{"OtherLetterCases", "[VORLANE]\r\nconnectionLIMIT=0\r\n", Treated::Refused},
        ConfigCase{"QuotesAndBlanksAroundValue", "[Vorlane]\r\nConnectionLimit = ' 100 ' \r\n",
                   Treated::Served},
        ConfigCase{"KeyInAnotherSection", "[Other]\r\nConnectionLimit=0\r\n[Vorlane]\r\n",
                   Treated::Served},
        ConfigCase{"CommentedOutKey", "[Vorlane]\r\n;ConnectionLimit=0\r\n", Treated::Served}),
    [](const testing::TestParamInfo<ConfigCase>& info) { return info.param.name; });

// Values the option parser must refuse with one line naming the option, and
// exit 2 before it listens.
class MalformedOptionTest
    : public testing::TestWithParam<std::pair<const char*, std::vector<std::string>>> {};

TEST_P(MalformedOptionTest, ExitsTwoWithOneLineNamingTheOption) {
    const std::vector<std::string>& arguments = GetParam().second;
    std::vector<std::string> argv = {VORLANE_RELAY_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess relay(ChildOptions{argv});
    ASSERT_TRUE(relay.WaitForExit(10s));
    EXPECT_EQ(relay.ExitCode(), 2);
    const std::string err = relay.Output(OutputStream::Err);
    EXPECT_NE(err.find(arguments.front()), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(relay.Output(OutputStream::Out), "");
}

INSTANTIATE_TEST_SUITE_P(
    Values, MalformedOptionTest,
    testing::Values(
        std::make_pair("EmptyPort", std::vector<std::string>{"--listen", ""}),
        std::make_pair("PortWithBlank", std::vector<std::string>{"--listen", " 80"}),
        std::make_pair("PortWithSuffix", std::vector<std::string>{"--listen", "80x"}),
        std::make_pair("PortInHex", std::vector<std::string>{"--target-port", "0x50"}),
        std::make_pair("PortFarAboveRange",
                       std::vector<std::string>{"--listen", "99999999999999999999"}),
        std::make_pair("LimitAboveInt", std::vector<std::string>{"--limit", "4294967296"}),
        std::make_pair("LimitWithSign", std::vector<std::string>{"--limit", "+-5"}),
        std::make_pair("EmptyMode", std::vector<std::string>{"--encode", ""}),
        std::make_pair("BufferWithUnit", std::vector<std::string>{"--buffer", "1k"}),
        std::make_pair("EmptyAllow", std::vector<std::string>{"--allow", ""}),
        std::make_pair("AllowWithoutPrefix", std::vector<std::string>{"--allow", "127.0.0.1/"}),
        std::make_pair("BindPartAbove255", std::vector<std::string>{"--bind", "127.0.0.256"}),
        std::make_pair("ConfigIsADirectory", std::vector<std::string>{"--config", "/"})),
    [](const auto& info) { return std::string(info.param.first); });

}  // namespace
