// Ephemeral pairs made ahead: a pair reused by two handshakes, or a private
// key that does not match its public one, would break every link it touches.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "seal/ephemeral_keys.h"

namespace {

TEST(EphemeralKeys, EveryPairTakenAtOnceFromManyThreadsIsFreshAndWhole) {
    constexpr int kThreads = 4;
    constexpr int kEach = 40;  // far more than are kept ready: some made inline
    std::vector<std::vector<seal::KeyPair>> taken(kThreads);
    std::vector<std::thread> takers;
    for (auto& mine : taken) {
        takers.emplace_back([&mine] {
            for (int i = 0; i < kEach; ++i) {
                mine.push_back(seal::TakeEphemeralKeyPair());
            }
        });
    }
    for (std::thread& taker : takers) {
        taker.join();
    }
    std::set<seal::PublicKey> publics;
    std::set<std::array<std::uint8_t, seal::kDhSize>> privates;
    for (const auto& mine : taken) {
        for (const seal::KeyPair& pair : mine) {
            publics.insert(pair.public_key);
            privates.insert(pair.private_key.bytes);
            EXPECT_EQ(seal::KeyPairFrom(pair.private_key).public_key, pair.public_key);
        }
    }
    EXPECT_EQ(publics.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(privates.size(), static_cast<std::size_t>(kThreads * kEach));
}

}  // namespace
