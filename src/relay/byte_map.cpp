#include "relay/byte_map.h"

EncodeMode ChooseEncodeMode(bool encodeClient, bool encodeServer) {
    if (encodeClient) {
        return EncodeMode::Client;
    }
    return encodeServer ? EncodeMode::Server : EncodeMode::None;
}

void EncodePacket(char* buffer, int length) {
    auto* bytes = reinterpret_cast<unsigned char*>(buffer);
    for (int i = 0; i < length; ++i) {
        bytes[i] = static_cast<unsigned char>(~bytes[i] + 251);
    }
}

void DecodePacket(char* buffer, int length) {
    auto* bytes = reinterpret_cast<unsigned char*>(buffer);
    for (int i = 0; i < length; ++i) {
        bytes[i] = static_cast<unsigned char>(~(bytes[i] + 5));
    }
}

void MapChunk(EncodeMode mode, bool fromClient, char* buffer, int length) {
    if (mode == EncodeMode::None) {
        return;
    }
    const bool fromNamedSide = (mode == EncodeMode::Client) == fromClient;
    if (fromNamedSide) {
        EncodePacket(buffer, length);
    } else {
        DecodePacket(buffer, length);
    }
}
