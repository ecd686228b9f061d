// Byte blobs and an open pair of ends for the sealed link's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "seal/link_sealer.h"
#include "seal/noise_hash.h"

namespace seal_testing {

using Blob = std::vector<std::uint8_t>;

inline seal::Bytes View(const Blob& blob) {
    return {blob.data(), blob.size()};
}

inline Blob RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Blob bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

struct Received {
    std::optional<seal::LinkError> error;
    Blob plain;
};

inline Received Deliver(seal::LinkSealer& to, const Blob& bytes) {
    Received r;
    r.error = to.Receive(View(bytes), r.plain);
    return r;
}

// Two ends with one key, handshake done and the link open both ways.
struct OpenLink {
    seal::LinkKey key = seal::GenerateLinkKey();
    seal::LinkSealer initiator{seal::Role::initiator, key};
    seal::LinkSealer responder{seal::Role::responder, key};

    OpenLink() {
        EXPECT_FALSE(Deliver(responder, initiator.TakeOutput()).error);
        EXPECT_FALSE(Deliver(initiator, responder.TakeOutput()).error);
        EXPECT_FALSE(Deliver(responder, initiator.TakeOutput()).error);
        EXPECT_TRUE(initiator.Open() && responder.Open());
    }

    Blob SealFromInitiator(const Blob& plain) {
        EXPECT_FALSE(initiator.Seal(View(plain)));
        return initiator.TakeOutput();
    }
};

}  // namespace seal_testing
