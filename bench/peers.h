// The relays to compare: how to start each one in front of a target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct PeerSpec {
    std::string name;
    // Words of the command, with {listen}, {target_port} and {config} filled in
    // at start. Empty: no relay, the client talks to the target directly.
    std::string command;
    // Text written to a private file whose path replaces {config}.
    std::string config;
    // The relay puts every byte through the byte map (see wire.h).
    bool byte_map = false;
    // The most idle connections to hold through it; -1: as many as asked.
    int idle_at_most = -1;
};

// direct, socat, rinetd, haproxy, and vorlane-relay on both engines: threads
// at 2 KiB and 64 KiB chunks, events at its default buffer, with the byte
// map, and at other buffer sizes (relay_path: the vorlane-relay to run); and
// epoll-floor, the least a relay can do (floor_path: floor_relay), as a yardstick.
std::vector<PeerSpec> StandardPeers(const std::string& relay_path, const std::string& floor_path);

// "NAME=COMMAND", for a relay the standard list does not know.
PeerSpec ParsePeer(const std::string& text);

// Replaces every {key} that values names; unknown keys stay as written.
std::string FillPlaceholders(std::string text,
                             const std::vector<std::pair<std::string, std::string>>& values);

std::vector<std::string> SplitWords(const std::string& command);

}  // namespace bench
