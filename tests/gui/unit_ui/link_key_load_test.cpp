// The window's link key: read from Setting.ini at start through the system's
// private-profile call, refused at Start when malformed, never saved.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "relay/start_checks.h"
#include "seal/link_key.h"
#include "settings/profile_file.h"
#include "settings/setting_keys.h"
#include "ui/settings_persistence.h"

namespace {

const std::string kKey = "q83vASNFZ4mrze8BI0VniavN7wEjRWeJq83vASNFZ4k=";

struct LoadCase {
    const char* name;
    std::string file;  // Setting.ini's bytes; no file when empty
    bool hasKey;
    bool malformed;
};

void PrintTo(const LoadCase& c, std::ostream* out) {
    *out << c.name;
}

class LinkKeyLoadTest : public testing::TestWithParam<LoadCase> {
  protected:
    void SetUp() override {
        m_directory = std::filesystem::temp_directory_path() / "vorlane-link-key-test";
        std::filesystem::create_directories(m_directory);
        m_path = (m_directory / kSettingsFileName).string();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }

    std::filesystem::path m_directory;
    std::string m_path;
};

TEST_P(LinkKeyLoadTest, ReadsTheKeyAsTheRelayDoes) {
    const LoadCase& c = GetParam();
    if (!c.file.empty()) {
        std::ofstream(m_path, std::ios::binary) << c.file;
    }
    const WindowLinkKey loaded = LoadLinkKey(m_path, kSettingsSection);
    EXPECT_EQ(loaded.key.has_value(), c.hasKey);
    EXPECT_EQ(loaded.malformed, c.malformed);
    if (loaded.key) {
        EXPECT_EQ(seal::FormatLinkKey(*loaded.key), kKey);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkKeyLoadTest,
    testing::Values(
        LoadCase{"NoFile", "", false, false},
        LoadCase{"NoKey", "[Vorlane]\r\nDestPort=5\r\n", false, false},
        LoadCase{"EmptyKey", "[Vorlane]\r\nLinkKey=\r\n", false, false},
        LoadCase{"Key", "[Vorlane]\r\nLinkKey=" + kKey + "\r\n", true, false},
        LoadCase{"KeyInBlanks", "[vorlane]\r\nlinkkey =  " + kKey + " \r\n", true, false},
        LoadCase{"KeyInAnotherSection", "[Other]\r\nLinkKey=" + kKey + "\r\n", false, false},
        LoadCase{"ShortKey", "[Vorlane]\r\nLinkKey=c2VjcmV0LXNlY3JldC1zZWNyZXQ=\r\n", false, true},
        LoadCase{"NotBase64", "[Vorlane]\r\nLinkKey=not a key\r\n", false, true}),
    [](const testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

// Start refuses a malformed key with its own message, after the field checks,
// and a missing key changes nothing.
TEST(LinkKeyStartTest, AMalformedKeyRefusesTheStart) {
    StartRequest request;
    request.targetText = "127.0.0.1";
    request.targetPort = 1988;
    request.localPort = 1987;
    EXPECT_FALSE(CheckStartRequest(request).has_value());
    request.linkKeyMalformed = true;
    ASSERT_EQ(CheckStartRequest(request), StartRefusal::BadLinkKey);
    EXPECT_EQ(std::string(StartRefusalMessage(StartRefusal::BadLinkKey))
                  .rfind("The link key in Setting.ini is not valid.", 0),
              0u);
    request.targetText = " ";
    EXPECT_EQ(CheckStartRequest(request), StartRefusal::NoTarget);
}

}  // namespace
