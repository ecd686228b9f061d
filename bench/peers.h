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
};

// direct, socat, rinetd, haproxy, and vorlane-relay at its default chunk size
// and at 64 KiB (relay_path: the vorlane-relay to run).
std::vector<PeerSpec> StandardPeers(const std::string& relay_path);

// "NAME=COMMAND", for a relay the standard list does not know.
PeerSpec ParsePeer(const std::string& text);

// Replaces every {key} that values names; unknown keys stay as written.
std::string FillPlaceholders(std::string text,
                             const std::vector<std::pair<std::string, std::string>>& values);

std::vector<std::string> SplitWords(const std::string& command);

}  // namespace bench
