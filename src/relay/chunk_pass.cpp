#include "relay/chunk_pass.h"

std::optional<seal::LinkError> ChunkPass::Pass(char* chunk, int length, Passed& passed) {
    passed = {chunk, length, length};
    if (m_sealing == nullptr && m_opening == nullptr) {
        MapChunk(m_mode, m_fromClient, chunk, length);
        return std::nullopt;
    }
    m_passed.clear();
    const seal::Bytes bytes{reinterpret_cast<const std::uint8_t*>(chunk),
                            static_cast<std::size_t>(length)};
    const auto error = m_sealing != nullptr ? m_sealing->Seal(bytes, m_passed)
                                            : m_opening->Receive(bytes, m_passed);
    if (error) {
        return error;
    }
    passed.data = reinterpret_cast<const char*>(m_passed.data());
    passed.length = static_cast<int>(m_passed.size());
    if (m_opening != nullptr) {
        passed.plainLength = passed.length;
    }
    return std::nullopt;
}

std::optional<seal::LinkError> ChunkPass::SourceEnded(Passed& passed) {
    passed = {};
    if (m_opening != nullptr) {
        return m_opening->PeerClosed();
    }
    if (m_sealing == nullptr) {
        return std::nullopt;
    }
    m_passed.clear();
    if (const auto error = m_sealing->SealEnd(m_passed)) {
        return error;
    }
    passed.data = reinterpret_cast<const char*>(m_passed.data());
    passed.length = static_cast<int>(m_passed.size());
    return std::nullopt;
}
