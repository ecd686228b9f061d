// The link key on vorlane-relay: made by --generate-key, read from the config
// file or --key-file, and never shown, not even in the error for a bad one.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <variant>
#include <vector>

#include "relay_process.h"
#include "scratch_directory.h"
#include "seal/link_key.h"
#include "server/config/relay_config.h"
#include "test_socket.h"

namespace {

using testing_support::kPatienceMs;
using testing_support::RelayProcess;
using testing_support::ScratchDirectory;

// Two keys as --generate-key prints them.
const std::string kKey = "q83vASNFZ4mrze8BI0VniavN7wEjRWeJq83vASNFZ4k=";
const std::string kOtherKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

TEST(RelayGenerateKeyTest, PrintsANewKeyOnOneLineEachTime) {
    std::vector<std::string> keys;
    for (int i = 0; i < 2; ++i) {
        RelayProcess relay({"--generate-key"});
        EXPECT_EQ(relay.WaitForExit(kPatienceMs), 0);
        EXPECT_EQ(relay.Stderr(), "");
        const std::string out = relay.Stdout();
        EXPECT_TRUE(std::regex_match(out, std::regex("[A-Za-z0-9+/]{43}=\n"))) << out;
        EXPECT_TRUE(std::holds_alternative<seal::LinkKey>(
            seal::ParseLinkKey(out.substr(0, out.size() - 1))))
            << out;
        keys.push_back(out);
    }
    EXPECT_NE(keys[0], keys[1]);
}

struct KeyCase {
    const char* name;
    std::string config;   // the [Vorlane] section's lines; no --config when empty
    std::string keyFile;  // the key file's bytes; no --key-file when empty
    std::string shown;    // --check-config's LinkKey line
};

void PrintTo(const KeyCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<std::string> KeyArguments(const ScratchDirectory& directory, const std::string& config,
                                      const std::string& keyFile) {
    std::vector<std::string> arguments;
    if (!config.empty()) {
        arguments.insert(arguments.end(),
                         {"--config", directory.WriteFile("a.ini", "[Vorlane]\n" + config)});
    }
    if (!keyFile.empty()) {
        arguments.insert(arguments.end(), {"--key-file", directory.WriteFile("link.key", keyFile)});
    }
    return arguments;
}

class RelayKeyTest : public testing::TestWithParam<KeyCase> {};

// --check-config says whether a key is set, and the key is nowhere in its output.
TEST_P(RelayKeyTest, CheckConfigShowsTheKeyAsSetWithoutIt) {
    const KeyCase& c = GetParam();
    const ScratchDirectory directory;
    std::vector<std::string> arguments = KeyArguments(directory, c.config, c.keyFile);
    arguments.insert(arguments.end(), {"--encode", "server", "--check-config"});
    RelayProcess relay(arguments);
    EXPECT_EQ(relay.WaitForExit(kPatienceMs), 0);
    EXPECT_EQ(relay.Stderr(), "");
    const std::string out = relay.Stdout();
    EXPECT_NE(out.find("\n" + c.shown + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.find(kKey.substr(0, 16)), std::string::npos) << out;
    EXPECT_EQ(out.find(kOtherKey.substr(0, 16)), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayKeyTest,
    testing::Values(
        KeyCase{"NoKey", "DestPort=9\n", "", "LinkKey="},
        KeyCase{"EmptyInTheConfig", "LinkKey=\n", "", "LinkKey="},
        KeyCase{"FromTheConfig", "LinkKey=" + kKey + "\n", "", "LinkKey=(set, not shown)"},
        KeyCase{"FromAKeyFileWithoutALineBreak", "", kKey, "LinkKey=(set, not shown)"},
        KeyCase{"FromAKeyFileWithALineBreak", "", kKey + "\n", "LinkKey=(set, not shown)"},
        KeyCase{"FromAKeyFileWithAWindowsLineBreak", "", kKey + "\r\n", "LinkKey=(set, not shown)"},
        KeyCase{"KeyFileOverTheConfig", "LinkKey=" + kOtherKey + "\n", kKey + "\n",
                "LinkKey=(set, not shown)"}),
    [](const testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

// The print hides the key, so it cannot be run as it is: read back, it is
// refused rather than taken as a run without the key.
TEST(RelayKeyPrintTest, APrintWithAHiddenKeyIsRefusedWhenReadBack) {
    const ScratchDirectory directory;
    RelayProcess relay(
        {"--check-config", "--encode", "client", "--key-file", directory.WriteFile("k", kKey)});
    ASSERT_EQ(relay.WaitForExit(kPatienceMs), 0);
    const std::string printed = directory.WriteFile("printed.ini", relay.Stdout());
    RelayProcess again({"--check-config", "--config", printed});
    EXPECT_EQ(again.WaitForExit(kPatienceMs), 2);
    EXPECT_NE(again.Stderr().find("printed.ini: LinkKey: the link key is not base64"),
              std::string::npos)
        << again.Stderr();
}

// In process: which key the run gets, byte for byte.
TEST(RelayKeyLoadTest, TheKeyFilesKeyWinsOverTheConfigs) {
    const ScratchDirectory directory;
    RelayOptions options;
    options.configPath =
        directory.WriteFile("a.ini", "[Vorlane]\nEncodeServer=1\nLinkKey=" + kOtherKey + "\n");
    auto fromConfig = LoadRelayConfig(options);
    ASSERT_TRUE(std::holds_alternative<RelayConfig>(fromConfig));
    const auto& configKey = std::get<RelayConfig>(fromConfig).start.linkKey;
    ASSERT_TRUE(configKey.has_value());
    EXPECT_EQ(seal::FormatLinkKey(*configKey), kOtherKey);

    options.keyFilePath = directory.WriteFile("link.key", kKey + "\n");
    auto fromFile = LoadRelayConfig(options);
    ASSERT_TRUE(std::holds_alternative<RelayConfig>(fromFile));
    const auto& fileKey = std::get<RelayConfig>(fromFile).start.linkKey;
    ASSERT_TRUE(fileKey.has_value());
    EXPECT_EQ(seal::FormatLinkKey(*fileKey), kKey);
}

struct BadKeyCase {
    const char* name;
    std::string config;
    std::string keyFile;  // "{missing}": --key-file names a file that is not there
    std::string named;    // after "vorlane-relay: "
    std::string secret;   // must not reach stderr
};

void PrintTo(const BadKeyCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayBadKeyTest : public testing::TestWithParam<BadKeyCase> {};

// Refused before listening, naming where the key came from and never showing it.
TEST_P(RelayBadKeyTest, ExitsTwoNamingTheKeyWithoutShowingIt) {
    const BadKeyCase& c = GetParam();
    const ScratchDirectory directory;
    std::vector<std::string> arguments;
    if (c.keyFile == "{missing}") {
        arguments = KeyArguments(directory, c.config, "");
        arguments.insert(arguments.end(), {"--key-file", directory.Path() + "/no-such.key"});
    } else {
        arguments = KeyArguments(directory, c.config, c.keyFile);
    }
    for (const bool check : {false, true}) {
        std::vector<std::string> run = arguments;
        run.insert(run.end(), {"--listen", "0"});
        if (check) {
            run.push_back("--check-config");
        }
        RelayProcess relay(run);
        EXPECT_EQ(relay.WaitForExit(kPatienceMs), 2);
        const std::string err = relay.Stderr();
        EXPECT_EQ(err.rfind("vorlane-relay: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.named), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        if (!c.secret.empty()) {
            EXPECT_EQ(err.find(c.secret), std::string::npos) << err;
        }
        EXPECT_EQ(relay.Stdout(), "");
    }
}

// A good key with one character changed: no part of it may show.
const std::string kAlmostKey = "q83vASNFZ4mrze8BI0Vni!vN7wEjRWeJq83vASNFZ4k=";

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayBadKeyTest,
    testing::Values(
        BadKeyCase{"NotBase64InTheConfig", "LinkKey=" + kAlmostKey + "\n", "",
                   "a.ini: LinkKey: the link key is not base64", "q83vASNFZ4mrze8"},
        BadKeyCase{"ShortKeyInTheConfig", "LinkKey=c2VjcmV0LXNlY3JldC1zZWNyZXQ=\n", "",
                   "a.ini: LinkKey: the link key is 20 bytes; it must be exactly 32", "c2VjcmV0"},
        // Every key of the file is checked, even one the key file overrides.
        BadKeyCase{"BadKeyInTheConfigUnderAGoodKeyFile", "LinkKey=" + kAlmostKey + "\n", kKey,
                   "a.ini: LinkKey:", "q83vASNFZ4mrze8"},
        BadKeyCase{"NotBase64InTheKeyFile", "", kAlmostKey + "\n", "--key-file '",
                   "q83vASNFZ4mrze8"},
        BadKeyCase{"TwoLinesInTheKeyFile", "", kKey + "\n" + kKey + "\n",
                   "link.key': the link key is not base64", "q83vASNFZ4mrze8"},
        BadKeyCase{"LongKeyInTheKeyFile", "", kKey.substr(0, 40) + kKey,
                   "link.key': the link key is", "q83vASNFZ4mrze8"},
        BadKeyCase{"MissingKeyFile", "", "{missing}", "--key-file: cannot read '", ""},
        // A good key with neither mode would leave the link plain.
        BadKeyCase{"KeyWithoutAModeInTheConfig", "LinkKey=" + kKey + "\n", "",
                   "a.ini: LinkKey: a link key needs client or server mode", kKey.substr(0, 16)},
        BadKeyCase{"KeyFileWithoutAMode", "EncodeClient=0\n", kKey,
                   "link.key': a link key needs client or server mode", kKey.substr(0, 16)}),
    [](const testing::TestParamInfo<BadKeyCase>& info) { return info.param.name; });

}  // namespace
