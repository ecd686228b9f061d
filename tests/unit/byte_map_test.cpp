#include <gtest/gtest.h>

#include <string>

#include "relay/byte_map.h"

namespace {

unsigned char Encoded(unsigned char b) {
    char c = static_cast<char>(b);
    EncodePacket(&c, 1);
    return static_cast<unsigned char>(c);
}

unsigned char Decoded(unsigned char b) {
    char c = static_cast<char>(b);
    DecodePacket(&c, 1);
    return static_cast<unsigned char>(c);
}

TEST(ByteMap, SamplePairsHoldBothWaysThroughBothOperations) {
    const unsigned char pairs[][2] = {
        {0x00, 0xFA}, {0x01, 0xF9}, {0x05, 0xF5}, {0x0A, 0xF0}, {0x0D, 0xED}, {0x20, 0xDA},
        {0x30, 0xCA}, {0x41, 0xB9}, {0x61, 0x99}, {0x7D, 0x7D}, {0x7E, 0x7C}, {0x7F, 0x7B},
        {0x80, 0x7A}, {0xFB, 0xFF}, {0xFC, 0xFE}, {0xFD, 0xFD},
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(static_cast<int>(pair[0]));
        EXPECT_EQ(Encoded(pair[0]), pair[1]);
        EXPECT_EQ(Encoded(pair[1]), pair[0]);
        EXPECT_EQ(Decoded(pair[0]), pair[1]);
        EXPECT_EQ(Decoded(pair[1]), pair[0]);
    }
    std::string text = "GET ";
    EncodePacket(text.data(), 4);
    EXPECT_EQ(text, "\xB3\xB5\xA6\xDA");
}

TEST(ByteMap, EveryByteMapsTo250MinusItselfAndBackByEitherOrder) {
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b) {
        all[static_cast<std::size_t>(b)] = static_cast<char>(b);
        EXPECT_EQ(Encoded(static_cast<unsigned char>(b)), (250 - b) & 0xFF) << b;
        EXPECT_EQ(Decoded(static_cast<unsigned char>(b)), (250 - b) & 0xFF) << b;
    }
    const int length = static_cast<int>(all.size());
    void (*const operations[])(char*, int) = {EncodePacket, DecodePacket};
    for (auto first : operations) {
        for (auto second : operations) {
            std::string buffer = all;
            first(buffer.data(), length);
            EXPECT_NE(buffer, all);
            second(buffer.data(), length);
            EXPECT_EQ(buffer, all);
        }
    }
}

TEST(ByteMap, EmptyOrNegativeLengthLeavesBufferAlone) {
    for (const int length : {0, -1, -2048}) {
        std::string buffer = "abc";
        EncodePacket(buffer.data(), length);
        DecodePacket(buffer.data(), length);
        EXPECT_EQ(buffer, "abc") << length;
    }
}

TEST(ByteMap, ClientWinsTheModeChoice) {
    EXPECT_EQ(ChooseEncodeMode(false, false), EncodeMode::None);
    EXPECT_EQ(ChooseEncodeMode(true, false), EncodeMode::Client);
    EXPECT_EQ(ChooseEncodeMode(false, true), EncodeMode::Server);
    EXPECT_EQ(ChooseEncodeMode(true, true), EncodeMode::Client);
}

}  // namespace
