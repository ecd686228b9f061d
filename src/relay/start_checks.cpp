#include "relay/start_checks.h"

#include <algorithm>

#include "relay/run_texts.h"

namespace {

constexpr auto kLargestChunkSize = static_cast<std::size_t>(kLargestBuffer);
constexpr char kRefusal[] = "too many connection\r\n";

// In the range the settings table gives the key.
bool InRange(int value, Setting setting) {
    return value >= RowOf(setting).minValue && value <= RowOf(setting).maxValue;
}

}  // namespace

std::string TrimmedTarget(const std::string& text) {
    const char* const space = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::optional<StartRefusal> CheckStartRequest(const StartRequest& request) {
    if (TrimmedTarget(request.targetText).empty()) {
        return StartRefusal::NoTarget;
    }
    if (!InRange(request.targetPort, Setting::DestPort)) {
        return StartRefusal::BadTargetPort;
    }
    if (!InRange(request.localPort, Setting::LocalListenPort)) {
        return StartRefusal::BadLocalPort;
    }
    if (request.linkKeyMalformed) {
        return StartRefusal::BadLinkKey;
    }
    return std::nullopt;
}

const char* StartRefusalMessage(StartRefusal refusal) {
    switch (refusal) {
        case StartRefusal::NoTarget:
            return "Please input target IP or domain first!";
        case StartRefusal::BadTargetPort:
            return "Please input a target port from 1 to 65535!";
        case StartRefusal::BadLocalPort:
            return "Please input a local port from 0 to 65535!";
        case StartRefusal::BadLinkKey:
            return kBadLinkKeyText;
    }
    return "";
}

std::size_t EffectiveChunkSize(std::size_t requested) {
    return requested == 0 ? kClassicChunkSize : std::min(requested, kLargestChunkSize);
}

std::string RefusalBytes(EncodeMode mode) {
    std::string bytes(kRefusal, sizeof kRefusal - 1);
    if (mode == EncodeMode::Server) {
        EncodePacket(bytes.data(), static_cast<int>(bytes.size()));
    }
    return bytes;
}
