// The relays to compare: how to start each one in front of a target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct PeerSpec {
    std::string name;
    // Words of the command, with {listen}, {target_port}, {config} and the
    // far end's and the run's values (below) filled in at start. Empty: no
    // relay, the client talks to the target directly.
    std::string command;
    // Text written to a private file whose path replaces {config}.
    std::string config;
    // The relay puts every byte through the byte map (see wire.h).
    bool byte_map = false;
    // The most idle connections to hold through it; -1: as many as asked.
    int idle_at_most = -1;
    // The far end of a pair, started first: it listens on {link_port} and
    // reaches {target_port}, and command reaches it at {link_port}. Its
    // config text goes to the file {far_config}.
    std::string far_command{};
    std::string far_config{};
    // Or the far end is a private sshd (tests/support's) on {link_port},
    // which command logs in to as {ssh_user} with the key file {ssh_key}.
    bool far_sshd = false;
};

// Placeholders the run fills the same for every peer: {link_key}, a new
// vorlane-relay link key; {key_file}, a file of 32 random bytes for spiped.

// direct, socat, rinetd, haproxy, and vorlane-relay on both engines: threads
// at 2 KiB and 64 KiB chunks, events at its default buffer, with the byte
// map, and at other buffer sizes (relay_path: the vorlane-relay to run); and
// epoll-floor, the least a relay can do (floor_path: floor_relay), as a yardstick.
// Then the pairs, whose link between two processes is mapped or sealed:
// vorlane-relay's (mapped, and sealed with a link key), spiped's, and an
// ssh -L forward through a private sshd.
std::vector<PeerSpec> StandardPeers(const std::string& relay_path, const std::string& floor_path);

// "NAME=COMMAND", for a relay the standard list does not know.
PeerSpec ParsePeer(const std::string& text);

// Replaces every {key} that values names; unknown keys stay as written.
std::string FillPlaceholders(std::string text,
                             const std::vector<std::pair<std::string, std::string>>& values);

std::vector<std::string> SplitWords(const std::string& command);

}  // namespace bench
