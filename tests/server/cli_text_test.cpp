// The texts of the relay's options and config values turned into values.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "server/config/setting_values.h"
#include "server/logging/log_writer.h"
#include "server/text/address_text.h"
#include "server/text/number_text.h"
#include "settings/field_integer.h"

namespace {

TEST(AllowRangeTest, ListSkipsBlanksAndNamesTheBadItem) {
    const auto ranges = ParseAllowList(" 10.0.0.0/8 ,, 127.0.0.1,");
    ASSERT_TRUE(ranges.has_value());
    ASSERT_EQ(ranges->size(), 2U);
    EXPECT_EQ((*ranges)[1].ToString(), "127.0.0.1/32");
    EXPECT_EQ(ParseAllowList("")->size(), 0U);

    std::string bad;
    EXPECT_FALSE(ParseAllowList("10.0.0.0/8, 10.0.0.0/99", &bad).has_value());
    EXPECT_EQ(bad, "10.0.0.0/99");
    const auto mixed = ParseAllowList("fd00::/8,10.0.0.0/8");
    ASSERT_TRUE(mixed.has_value());
    EXPECT_EQ((*mixed)[0].ToString(), "fd00::/8");
}

// No value can end its line, pose as another key or be read two ways.
TEST(LogValueTest, PlainWordsStandAndEverythingElseIsQuoted) {
    struct Case {
        std::string value;
        std::string written;
    };
    const Case cases[] = {
        {"client_closed", "client_closed"},
        {"[::1]:1988", "[::1]:1988"},
        {"/etc/vorlane/a.ini", "/etc/vorlane/a.ini"},
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},  // UTF-8 stands as it is
        {"Connection refused", "\"Connection refused\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\relay", "\"C:\\\\relay\""},
        {"two\nlines\r", "\"two\\nlines\\r\""},
        {"tab\t", "\"tab\\t\""},
        {std::string("nul\0bell\a\x7f", 10), "\"nul\\x00bell\\x07\\x7f\""},
        {"a=b", "\"a=b\""},
        {"", "\"\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LogValue(c.value), c.written) << c.value;
    }
}

TEST(UtcTimestampTest, IsoDateTimeWithMillisecondsInUtc) {
    using namespace std::chrono;
    EXPECT_EQ(UtcTimestamp(system_clock::time_point(seconds(1796931600) + milliseconds(123))),
              "2026-12-10T19:40:00.123Z");
    EXPECT_EQ(UtcTimestamp(system_clock::time_point(milliseconds(7))), "1970-01-01T00:00:00.007Z");
}

TEST(FieldIntegerTest, ReadsLikeAnEditFieldRead) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"1987", 1987},
        {"70000", 70000},
        {"12abc", 12},
        {" 7", 7},
        {"\r\n\t9", 9},
        {" - 3", 0},
        {"-5", -5},
        {"+3", 3},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", 0},
        {"99999999999999999999999", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadFieldInteger(c.text), c.value) << c.text;
    }
}

TEST(UnsignedDecimalTest, AcceptsDigitsUpToTheMaximum) {
    EXPECT_EQ(ParseUnsignedDecimal("65535", 65535), 65535);
    EXPECT_EQ(ParseUnsignedDecimal("0", 65535), 0);
    for (const char* bad : {"65536", "", "-1", "+1", " 1", "1 ", "0x10", "99999999999999999999"}) {
        EXPECT_FALSE(ParseUnsignedDecimal(bad, 65535).has_value()) << bad;
    }
}

struct ValueCase {
    Setting setting;  // one of each kind, Numbers of each range
    const char* text;
    bool good;
};

// The one checker per kind, with the table's ranges, which both the command line and the config
// file use.
TEST(SettingValueTest, EachKindTakesItsWholeValuesOnly) {
    const ValueCase cases[] = {
        {Setting::LocalListenPort, "0", true},
        {Setting::LocalListenPort, "65535", true},
        {Setting::LocalListenPort, "007", true},
        {Setting::LocalListenPort, "65536", false},
        {Setting::LocalListenPort, "83617", false},  // must not wrap to 18081
        {Setting::LocalListenPort, "ten", false},
        {Setting::LocalListenPort, "-1", false},
        {Setting::LocalListenPort, "", false},
        {Setting::LocalListenPort, "1e3", false},
        {Setting::LocalListenPort, "0x10", false},
        {Setting::LocalListenPort, " 7", false},
        {Setting::LocalListenPort, "7 ", false},
        {Setting::LocalListenPort, "+7", false},
        {Setting::LocalListenPort, "99999999999999999999999", false},
        {Setting::DestPort, "1", true},
        {Setting::DestPort, "65535", true},
        {Setting::DestPort, "0", false},
        {Setting::ConnectionLimit, "0", true},
        {Setting::ConnectionLimit, "2147483647", true},
        {Setting::ConnectionLimit, "2147483648", false},
        {Setting::ConnectionLimit, "ten", false},
        {Setting::EncodeClient, "0", true},
        {Setting::EncodeClient, "1", true},
        {Setting::EncodeClient, "01", false},
        {Setting::EncodeClient, "yes", false},
        {Setting::EncodeClient, "", false},
        {Setting::Buffer, "1", true},
        {Setting::Buffer, "1048576", true},
        {Setting::Buffer, "0", false},
        {Setting::Buffer, "1048577", false},
        {Setting::IdleTimeout, "0", true},
        {Setting::IdleTimeout, "31536000", true},
        {Setting::IdleTimeout, "31536001", false},
        {Setting::IdleTimeout, "1.5", false},
        {Setting::BindAddr, "10.0.0.1", true},
        {Setting::BindAddr, "::1", true},
        {Setting::BindAddr, "localhost", false},
        {Setting::BindAddr, "[::1]", false},
        {Setting::BindAddr, "", false},
        {Setting::AllowFrom, "", true},
        {Setting::AllowFrom, "10.0.0.0/8, fd00::/8", true},
        {Setting::AllowFrom, "10.0.0.0/33", false},
        {Setting::AllowFrom, "10.0.0.0/8, nowhere", false},
        {Setting::LogLevel, "error", true},
        {Setting::LogLevel, "warn", true},
        {Setting::LogLevel, "info", true},
        {Setting::LogLevel, "debug", true},
        {Setting::LogLevel, "INFO", false},
        {Setting::LogLevel, "verbose", false},
        {Setting::LogLevel, "", false},
        {Setting::Metrics, "9100", true},
        {Setting::Metrics, "0.0.0.0:9100", true},
        {Setting::Metrics, "[::]:9100", true},
        {Setting::Metrics, "::1:9100", false},
        {Setting::Metrics, "[::1]9100", false},
        {Setting::Metrics, "localhost:9100", false},
        {Setting::Metrics, ":9100", false},
        {Setting::Metrics, "9100:", false},
        {Setting::Metrics, "0", false},
        {Setting::Metrics, "65536", false},
        {Setting::Metrics, "", false},
        {Setting::Engine, "events", true},
        {Setting::Engine, "threads", true},
        {Setting::Engine, "Events", false},
        {Setting::DestAddr, "", true},
        {Setting::DestAddr, " any\ttext ", true},
    };
    for (const ValueCase& c : cases) {
        EXPECT_EQ(IsValueOf(RowOf(c.setting), c.text), c.good)
            << "'" << c.text << "' as " << ExpectedValue(RowOf(c.setting));
    }
}

// The table is the one place a default and a range are written: a typo there
// would reach the help, the checks and every run.
TEST(SettingValueTest, EveryDefaultIsAValueOfItsOwnKey) {
    for (const SettingRow& row : kSettings) {
        SCOPED_TRACE(row.key);
        EXPECT_LE(row.minValue, row.maxValue);
        // An empty default means "not set", which the reader allows for that key alone.
        if (row.defaultValue[0] != '\0') {
            EXPECT_TRUE(IsValueOf(row, row.defaultValue)) << ExpectedValue(row);
        }
        EXPECT_EQ(row.option[0] == '\0', row.help[0] == '\0');
    }
}

TEST(SettingValueTest, ValuesReadAsTheirTypesAndPrintBack) {
    EXPECT_EQ(CheckNumber(RowOf(Setting::LocalListenPort), "65535"), 65535);
    EXPECT_EQ(CheckNumber(RowOf(Setting::IdleTimeout), "31536000"), 31536000);
    EXPECT_EQ(CheckNumber(RowOf(Setting::Buffer), "1048576"), 1048576);
    EXPECT_EQ(CheckBox("1"), true);
    EXPECT_EQ(CheckLogLevel("warn"), LogLevel::Warn);
    EXPECT_EQ(CheckEngine("threads"), EngineChoice::Threads);
    EXPECT_EQ(CheckEncode("server"), EncodeMode::Server);
    EXPECT_FALSE(CheckEncode("both").has_value());

    struct EndpointCase {
        const char* text;
        const char* printed;  // no address means loopback
    };
    for (const EndpointCase& c :
         {EndpointCase{"9100", "127.0.0.1:9100"}, EndpointCase{"0.0.0.0:1", "0.0.0.0:1"},
          EndpointCase{"[::1]:65535", "[::1]:65535"}}) {
        const auto endpoint = CheckEndpoint(c.text);
        ASSERT_TRUE(endpoint.has_value()) << c.text;
        EXPECT_EQ(EndpointText(*endpoint), c.printed);
    }
}

}  // namespace
