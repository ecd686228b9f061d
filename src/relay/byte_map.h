// The fixed, keyless byte map two relays put on the link between them:
// b -> (250 - b) mod 256, its own inverse. Encode and Decode compute the same
// map by different steps; which one a pump applies depends on the mode.
#pragma once

#include <cstdint>

#include "settings/named_values.h"

enum class EncodeMode : std::int32_t { None = 0, Client = 1, Server = 2 };

// The names --encode takes and the logs write.
inline constexpr NameTable<EncodeMode, 3> kEncodeModeNames = {{
    {"none", EncodeMode::None},
    {"client", EncodeMode::Client},
    {"server", EncodeMode::Server},
}};

// The mode of a run from the two boxes; Client wins when both are ticked.
EncodeMode ChooseEncodeMode(bool encodeClient, bool encodeServer);

// Rewrite bytes [0, length) in place; a length of 0 or less changes nothing.
void EncodePacket(char* buffer, int length);
void DecodePacket(char* buffer, int length);

// Applies the map a pump uses for one chunk: the side the mode names has its
// bytes encoded on the way in and decoded on the way out.
void MapChunk(EncodeMode mode, bool fromClient, char* buffer, int length);
