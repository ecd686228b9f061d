// The handshake and transport messages against the published Noise test
// vectors (the file golang-github-flynn-noise-dev installs), byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "seal/nnpsk0_handshake.h"

namespace {

using seal::Bytes;
using seal::HashKind;
using seal::NnPsk0Handshake;
using seal::Role;

using Blob = std::vector<std::uint8_t>;
using Vector = std::map<std::string, std::string>;  // key=value lines of one case

Blob FromHex(const std::string& hex) {
    Blob bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

template <typename Secret>
Secret SecretFromHex(const std::string& hex) {
    const Blob bytes = FromHex(hex);
    Secret secret;
    EXPECT_EQ(bytes.size(), secret.size());
    std::copy(bytes.begin(), bytes.end(), secret.bytes.begin());
    return secret;
}

Bytes View(const Blob& blob) {
    return {blob.data(), blob.size()};
}

// Every case of the file whose protocol name is the one asked for.
std::vector<Vector> CasesFor(const std::string& protocol) {
    std::ifstream file(VORLANE_NOISE_VECTORS);
    EXPECT_TRUE(file) << "cannot read " << VORLANE_NOISE_VECTORS;
    std::vector<Vector> cases;
    Vector current;
    std::string line;
    auto finish = [&] {
        if (current["handshake"] == protocol)
            cases.push_back(current);
        current.clear();
    };
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty()) {
            finish();
            continue;
        }
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            current[line.substr(0, equals)] = line.substr(equals + 1);
    }
    finish();
    return cases;
}

void CheckCase(HashKind kind, const Vector& v) {
    const Blob prologue = FromHex(v.count("prologue") ? v.at("prologue") : "");
    const auto psk = SecretFromHex<seal::LinkKey>(v.at("preshared_key"));
    NnPsk0Handshake initiator(Role::initiator, kind, psk, View(prologue),
                              SecretFromHex<seal::PrivateKey>(v.at("gen_init_ephemeral")));
    NnPsk0Handshake responder(Role::responder, kind, psk, View(prologue),
                              SecretFromHex<seal::PrivateKey>(v.at("gen_resp_ephemeral")));

    // Messages 0 and 1 are the handshake; then the two sides take turns.
    NnPsk0Handshake* writers[] = {&initiator, &responder};
    for (int i = 0; i < 2; ++i) {
        const std::string n = std::to_string(i);
        const Blob payload = FromHex(v.at("msg_" + n + "_payload"));
        Blob message;
        Blob read;
        ASSERT_TRUE(writers[i]->WriteMessage(View(payload), message));
        EXPECT_EQ(message, FromHex(v.at("msg_" + n + "_ciphertext"))) << "message " << n;
        ASSERT_TRUE(writers[1 - i]->ReadMessage(View(message), read)) << "message " << n;
        EXPECT_EQ(read, payload);
    }
    ASSERT_TRUE(initiator.Finished() && responder.Finished());
    seal::TransportCiphers ends[] = {initiator.Split(), responder.Split()};
    for (int i = 2; v.count("msg_" + std::to_string(i) + "_payload"); ++i) {
        const std::string n = std::to_string(i);
        const Blob payload = FromHex(v.at("msg_" + n + "_payload"));
        auto& sender = ends[i % 2].send;
        auto& receiver = ends[1 - i % 2].receive;
        Blob message;
        Blob read;
        ASSERT_EQ(sender.EncryptWithAd({nullptr, 0}, View(payload), message),
                  seal::CipherResult::ok);
        EXPECT_EQ(message, FromHex(v.at("msg_" + n + "_ciphertext"))) << "message " << n;
        ASSERT_EQ(receiver.DecryptWithAd({nullptr, 0}, View(message), read),
                  seal::CipherResult::ok);
        EXPECT_EQ(read, payload);
    }
}

class NoiseVectors : public testing::TestWithParam<HashKind> {};

TEST_P(NoiseVectors, EveryPublishedCaseMatchesByteForByte) {
    const std::string protocol = NnPsk0Handshake::ProtocolName(GetParam());
    const auto cases = CasesFor(protocol);
    // The file holds four cases of each: with and without prologue and payloads.
    ASSERT_EQ(cases.size(), 4u) << protocol;
    for (const auto& v : cases) {
        SCOPED_TRACE(v.count("prologue") ? "with prologue" : "without prologue");
        CheckCase(GetParam(), v);
    }
}

INSTANTIATE_TEST_SUITE_P(Hashes, NoiseVectors, testing::Values(HashKind::sha256, HashKind::blake2s),
                         [](const auto& info) { return std::string(seal::HashName(info.param)); });

}  // namespace
