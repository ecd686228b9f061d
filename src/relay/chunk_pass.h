// What a threaded pump does to each chunk between its receive and its send:
// the run's byte map in place, or, on a sealed link, its own half of the
// link (sealing toward the link, opening from it). Each pump has its own.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "relay/byte_map.h"
#include "seal/link_halves.h"

class ChunkPass {
  public:
    // The byte map of the run's mode, in the direction of the pump.
    ChunkPass(EncodeMode mode, bool fromClient) : m_mode(mode), m_fromClient(fromClient) {}
    explicit ChunkPass(seal::SealingHalf& sealing) : m_sealing(&sealing) {}
    explicit ChunkPass(seal::OpeningHalf& opening) : m_opening(&opening) {}

    struct Passed {
        const char* data = nullptr;  // what to send on
        int length = 0;
        int plainLength = 0;  // the plain bytes it stands for, for the totals
    };
    // The chunk may be changed in place; what to send stays valid until the
    // next call.
    std::optional<seal::LinkError> Pass(char* chunk, int length, Passed& passed);
    // The source ended its stream: toward the link, `passed` is the end
    // marker to send before the half-close; from it, an error unless the
    // peer's marker came first.
    std::optional<seal::LinkError> SourceEnded(Passed& passed);

  private:
    EncodeMode m_mode = EncodeMode::None;
    bool m_fromClient = false;
    seal::SealingHalf* m_sealing = nullptr;
    seal::OpeningHalf* m_opening = nullptr;
    std::vector<std::uint8_t> m_passed;  // sealed or opened bytes of the last chunk
};
