// Link keys as people type them into a config: only an exact 32-byte base64
// key is accepted, and the error never echoes the text.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "seal/link_key.h"

namespace {

// A valid key (bytes 0..31) and its one accepted spelling.
const std::string kValid = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

TEST(LinkKey, ParsesTheOneValidSpelling) {
    const auto parsed = seal::ParseLinkKey(kValid);
    ASSERT_TRUE(std::holds_alternative<seal::LinkKey>(parsed));
    const auto& key = std::get<seal::LinkKey>(parsed);
    for (std::size_t i = 0; i < key.size(); ++i) {
        EXPECT_EQ(key.bytes[i], i);
    }
    EXPECT_EQ(seal::FormatLinkKey(key), kValid);
}

TEST(LinkKey, RejectsEverythingElseWithAClearReason) {
    struct Case {
        std::string text;
        std::string reason;
    };
    const Case cases[] = {
        {"", "empty"},
        {kValid.substr(0, 43), "not base64"},  // padding missing
        {kValid + "AAAA", "not base64"},       // data after padding
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIj", "36 bytes"},
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg==", "31 bytes"},
        {" " + kValid, "not base64"},   // blank before
        {kValid + "\n", "not base64"},  // line end kept
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8A", "33 bytes"},
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh9=", "not base64"},  // unused bits set
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaG-wdHh8=", "not base64"},  // URL alphabet
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxw=Hh8=", "not base64"},  // "=" inside
    };
    for (const auto& c : cases) {
        const auto parsed = seal::ParseLinkKey(c.text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
        const auto& message = std::get<std::string>(parsed);
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.text << ": " << message;
        if (c.text.size() > 8) {
            EXPECT_EQ(message.find(c.text.substr(4, 8)), std::string::npos) << "echoes the key";
        }
    }
}

TEST(LinkKey, GeneratedKeysAreFreshAndReadBack) {
    const auto first = seal::GenerateLinkKey();
    const auto second = seal::GenerateLinkKey();
    EXPECT_NE(first.bytes, second.bytes);
    const std::string text = seal::FormatLinkKey(first);
    EXPECT_EQ(text.size(), 44u);
    const auto parsed = seal::ParseLinkKey(text);
    ASSERT_TRUE(std::holds_alternative<seal::LinkKey>(parsed));
    EXPECT_EQ(std::get<seal::LinkKey>(parsed).bytes, first.bytes);
}

}  // namespace
