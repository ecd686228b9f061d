// Reading and changing INI text the way Windows' private-profile calls do.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "settings/ini_document.h"
#include "settings/newline_marker.h"
#include "settings/profile_file.h"

using namespace std::string_literals;

namespace {

struct ReadCase {
    const char* name;
    std::string file;
    std::string key;
    int bufferSize;
    std::string expected;  // the default is "dflt"
};

// Failures name the case rather than dump its bytes.
void PrintTo(const ReadCase& c, std::ostream* out) {
    *out << c.name;
}

class IniReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(IniReadTest, ReadsLikeThePrivateProfileCall) {
    const ReadCase& c = GetParam();
    const IniDocument document = IniDocument::Parse(c.file);
    EXPECT_EQ(ProfileValue(document, "Vorlane", c.key, "dflt", c.bufferSize), c.expected);
}

const std::string kLongValue(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, IniReadTest,
    testing::Values(
        ReadCase{"EmptyFile", "", "DestPort", 256, "dflt"},
        ReadCase{"MissingSection", "[Other]\r\nDestPort=1\r\n", "DestPort", 256, "dflt"},
        ReadCase{"MissingKey", "[Vorlane]\r\nDestAddr=x\r\n", "DestPort", 256, "dflt"},
        ReadCase{"EmptyValueIsNotDefault", "[Vorlane]\r\nDestPort=\r\n", "DestPort", 256, ""},
        ReadCase{"BlanksAroundNameAndValue", "  [ Vorlane ] \r\n\t DestPort \t=  1 2 \t\r\n",
                 "DestPort", 256, "1 2"},
        ReadCase{"DoubleQuotesStripped", "[Vorlane]\nK=\"  a b \"\n", "K", 256, "  a b "},
        ReadCase{"SingleQuotesStripped", "[Vorlane]\nK= 'a' \n", "K", 256, "a"},
        ReadCase{"OnlyOnePairStripped", "[Vorlane]\nK=\"\"a\"\"\n", "K", 256, "\"a\""},
        ReadCase{"MismatchedQuotesKept", "[Vorlane]\nK='a\"\n", "K", 256, "'a\""},
        ReadCase{"LoneQuoteKept", "[Vorlane]\nK=\"\n", "K", 256, "\""},
        ReadCase{"NamesIgnoreCase", "[vORLANE]\nlocallistenport=5\n", "LocalListenPort", 256, "5"},
        ReadCase{"FirstDuplicateKeyWins", "[Vorlane]\nK=1\nk=2\n", "K", 256, "1"},
        ReadCase{"OnlyFirstSectionIsRead", "[Vorlane]\nA=1\n[Other]\n[VORLANE]\nK=2\n", "K", 256,
                 "dflt"},
        ReadCase{"KeyOfAnotherSection", "[Other]\nK=1\n[Vorlane]\n", "K", 256, "dflt"},
        ReadCase{"KeyBeforeAnySection", "K=1\n[Vorlane]\n", "K", 256, "dflt"},
        ReadCase{"LineWithoutEquals", "[Vorlane]\nK\n", "K", 256, "dflt"},
        ReadCase{"CommentIsNoKey", "[Vorlane]\n;K=1\n", "K", 256, "dflt"},
        ReadCase{"ValueKeepsLaterEquals", "[Vorlane]\nK=a=b\n", "K", 256, "a=b"},
        ReadCase{"UnclosedBracketIsNoSection", "[Vorlane]\n[Other\nK=1\n", "K", 256, "1"},
        ReadCase{"LastLineWithoutNewline", "[Vorlane]\r\nK=7", "K", 256, "7"},
        ReadCase{"ByteOrderMarkBeforeSection", "\xEF\xBB\xBF[Vorlane]\r\nK=3\r\n", "K", 256, "3"},
        ReadCase{"BinaryJunkAround", "\x01\xff\0\0[x\n\0=\0\n[Vorlane]\r\nK=4\r\n\x80\0"s, "K", 256,
                 "4"},
        ReadCase{"NulEndsValue", "[Vorlane]\nK=ab\0cd\n"s, "K", 256, "ab"},
        ReadCase{"ValueCutToBuffer", "[Vorlane]\nK=" + kLongValue + "\n", "K", 256,
                 std::string(255, 'x')},
        ReadCase{"DefaultCutToBuffer", "", "K", 3, "df"},
        ReadCase{"OneCharacterBufferGetsNothing", "[Vorlane]\nK=1\n", "K", 1, ""}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

struct WriteCase {
    const char* name;
    std::string before;
    std::string key;
    std::string after;  // after setting key to "v" in section Vorlane
};

void PrintTo(const WriteCase& c, std::ostream* out) {
    *out << c.name;
}

class IniWriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(IniWriteTest, ChangesOnlyWhatTheWriteNeeds) {
    const WriteCase& c = GetParam();
    IniDocument document = IniDocument::Parse(c.before);
    document.Set("Vorlane", c.key, "v");
    EXPECT_EQ(document.Serialize(), c.after);
    EXPECT_EQ(document.Find("Vorlane", c.key), "v");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteTest,
    testing::Values(
        WriteCase{"NewFile", "", "K", "[Vorlane]\r\nK=v\r\n"},
        WriteCase{"ReplaceInPlaceKeepingTheRest",
                  "; top\n[Vorlane]\nA = 1\nK = \"old\" \nB=2\n[Other]\nK=9\n", "K",
                  "; top\n[Vorlane]\nA = 1\nK=v\nB=2\n[Other]\nK=9\n"},
        WriteCase{"ReplaceKeepsTheFilesSpelling", "[vorlane]\r\n  kEy=1\r\n", "KEY",
                  "[vorlane]\r\nkEy=v\r\n"},
        WriteCase{"ReplaceFirstOfDuplicates", "[Vorlane]\nK=1\nK=2\n", "K",
                  "[Vorlane]\nK=v\nK=2\n"},
        WriteCase{"AddAfterLastEntryOfSection",
                  "[Vorlane]\r\nA=1\r\n\r\n; about Other\r\n[Other]\r\nB=2\r\n", "K",
                  "[Vorlane]\r\nA=1\r\nK=v\r\n\r\n; about Other\r\n[Other]\r\nB=2\r\n"},
        WriteCase{"AddToFirstOfDuplicateSections", "[Vorlane]\n[Vorlane]\nK=2\n", "K",
                  "[Vorlane]\nK=v\r\n[Vorlane]\nK=2\n"},
        WriteCase{"AddAfterHeaderWithoutNewline", "[Vorlane]", "K", "[Vorlane]\r\nK=v\r\n"},
        WriteCase{"AddSectionAfterUnterminatedLine", "[Other]\r\nB=2", "K",
                  "[Other]\r\nB=2\r\n\r\n[Vorlane]\r\nK=v\r\n"},
        WriteCase{"AddSectionAfterBlankLine", "[Other]\n\n", "K",
                  "[Other]\n\n[Vorlane]\r\nK=v\r\n"},
        WriteCase{"ByteOrderMarkKept", "\xEF\xBB\xBF[Vorlane]\r\n", "K",
                  "\xEF\xBB\xBF[Vorlane]\r\nK=v\r\n"},
        WriteCase{"JunkKept", "\0\x01junk\n[Vorlane]\nK=1"s, "K", "\0\x01junk\n[Vorlane]\nK=v"s}),
    [](const testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

TEST(IniDocumentTest, OneMegabyteLineIsReadWhole) {
    const std::string big(1 << 20, 'a');
    IniDocument document = IniDocument::Parse("[Vorlane]\nBig=" + big + "\nK=1\n" + big);
    EXPECT_EQ(document.Find("Vorlane", "Big"), big);
    EXPECT_EQ(document.Find("Vorlane", "K"), "1");
    document.Set("Vorlane", "K", "2");
    EXPECT_EQ(document.Serialize(), "[Vorlane]\nBig=" + big + "\nK=2\n" + big);
}

// Random text over the characters that steer the parser: parsing keeps every
// byte, and a value that was set is the value found.
TEST(IniDocumentTest, RandomTextRoundTripsAndTakesWrites) {
    const std::string alphabet = "[]=;'\"\r\n\t \0\xEF\xBB\xBFvKk"s;
    std::mt19937 random(1987);
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 40, ' ');
        for (char& c : text) {
            c = alphabet[random() % alphabet.size()];
        }
        IniDocument document = IniDocument::Parse(text);
        ASSERT_EQ(document.Serialize(), text);
        document.Set("v", "K", "value");
        ASSERT_EQ(document.Find("V", "k"), "value") << testing::PrintToString(text);
        const std::string written = document.Serialize();
        ASSERT_EQ(IniDocument::Parse(written).Serialize(), written);
    }
}

TEST(NewlineMarkerTest, ConvertsLeftToRightWithoutOverlaps) {
    struct Case {
        std::string stored;
        std::string shown;
    };
    const Case cases[] = {
        {"", ""},
        {"a#newline#b", "a\r\nb"},
        {"#newline##newline#", "\r\n\r\n"},
        {"#newline#newline#", "\r\nnewline#"},
        {"##newline#", "#\r\n"},
        {"#newline", "#newline"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NewlineMarkersToCrLf(c.stored), c.shown) << c.stored;
        EXPECT_EQ(CrLfToNewlineMarkers(c.shown), c.stored) << c.stored;
    }
    // A lone CR or LF is no line break of an edit field and stays.
    EXPECT_EQ(CrLfToNewlineMarkers("\r\r\n\n"), "\r#newline#\n");
    EXPECT_EQ(CrLfToNewlineMarkers("a\nb\r"), "a\nb\r");
}

}  // namespace
