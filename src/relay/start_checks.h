// What both engines share before and around a run: the checks a Start makes
// before it opens anything, the chunk size it settles on, and the text a
// client over the limit receives.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "relay/byte_map.h"
#include "relay/start_request.h"

// The target as typed, without leading and trailing white space.
std::string TrimmedTarget(const std::string& text);

// Why a Start is refused before anything is opened, in the order checked.
enum class StartRefusal {
    NoTarget,       // the target text is empty once trimmed
    BadTargetPort,  // not 1 to 65535 (it would otherwise be cut to 16 bits)
    BadLocalPort,   // not 0 to 65535
    BadLinkKey,     // the settings' link key is malformed
};
std::optional<StartRefusal> CheckStartRequest(const StartRequest& request);
// The message a front end shows for it.
const char* StartRefusalMessage(StartRefusal refusal);

// The request's chunk size: 0 takes the window's, and no chunk exceeds the Buffer key's largest.
std::size_t EffectiveChunkSize(std::size_t requested);

// "too many connection\r\n" as it goes on the wire: in Server mode the client
// is the far relay, which maps every byte it receives, so the text is mapped
// like every other byte towards it; unmapped it would reach its client as garbage.
std::string RefusalBytes(EncodeMode mode);
