#include "peers.h"

#include <sstream>
#include <stdexcept>

namespace bench {

std::vector<PeerSpec> StandardPeers(const std::string& relay_path, const std::string& floor_path) {
    // maxconn above the idle-connection test's 8000, yet within a 20000
    // descriptor limit (haproxy wants two per connection). The time-outs,
    // which haproxy insists on, are long enough never to fire.
    const std::string haproxy_config =
        "global\n"
        "    maxconn 9000\n"
        "    nbthread 2\n"
        "defaults\n"
        "    mode tcp\n"
        "    timeout connect 10s\n"
        "    timeout client 120s\n"
        "    timeout server 120s\n"
        "frontend relay\n"
        "    bind 127.0.0.1:{listen}\n"
        "    maxconn 9000\n"
        "    default_backend target\n"
        "backend target\n"
        "    server target 127.0.0.1:{target_port} maxconn 9000\n";
    const std::string vorlane =
        relay_path + " --listen {listen} --target 127.0.0.1 --target-port {target_port}" +
        " --limit 100000 --clients-per-address 0 --first-byte-timeout 0";
    const std::string threads = vorlane + " --engine threads";
    const std::string events = vorlane + " --engine events";
    // A pair: a Client-mode relay maps (or, with a key, seals) the link
    // toward a Server-mode one, which hands plain bytes to the target.
    const std::string pair_end = relay_path +
                                 " --listen {listen} --target 127.0.0.1 --target-port {link_port}"
                                 " --limit 100000 --clients-per-address 0 --first-byte-timeout 0"
                                 " --engine events --config {config}";
    const std::string pair_far_end =
        relay_path +
        " --listen {link_port} --target 127.0.0.1 --target-port {target_port}"
        " --limit 100000 --clients-per-address 0 --first-byte-timeout 0"
        " --engine events --config {far_config}";
    const std::string sealed = "LinkKey={link_key}\n";
    // spiped allows 100 connections by default; the connection-rate test
    // leaves more than that closing at once.
    const std::string spiped = "spiped -F -n 20000 -k {key_file}";
    // Every forwarded connection is a channel of one ssh connection.
    const std::string ssh_forward =
        "ssh -N -F /dev/null -i {ssh_key} -o IdentitiesOnly=yes -o BatchMode=yes"
        " -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o ExitOnForwardFailure=yes"
        " -o Ciphers=chacha20-poly1305@openssh.com -L {listen}:127.0.0.1:{target_port}"
        " -p {link_port} {ssh_user}@127.0.0.1";
    // socat forks a process per connection: a thousand is as many as the
    // idle test asks of it.
    constexpr int kForkingIdleAtMost = 1000;
    return {
        {"direct", "", ""},
        {"socat-b2048",
         "socat -b 2048 TCP-LISTEN:{listen},fork,reuseaddr,bind=127.0.0.1 "
         "TCP:127.0.0.1:{target_port}",
         "", false, kForkingIdleAtMost},
        {"socat",
         "socat TCP-LISTEN:{listen},fork,reuseaddr,bind=127.0.0.1 TCP:127.0.0.1:{target_port}", "",
         false, kForkingIdleAtMost},
        {"rinetd", "rinetd -f -c {config}", "127.0.0.1 {listen} 127.0.0.1 {target_port}\n"},
        {"haproxy", "haproxy -db -f {config}", haproxy_config},
        {"epoll-floor", floor_path + " {listen} {target_port}", ""},
        {"vorlane-threads", threads + " --buffer 2048", ""},
        {"vorlane-threads-64k", threads + " --buffer 65536", ""},
        {"vorlane-events", events, ""},
        {"vorlane-events-map", events + " --encode server", "", true},
        {"vorlane-events-16k", events + " --buffer 16384", ""},
        {"vorlane-events-256k", events + " --buffer 262144", ""},
        {"vorlane-events-1m", events + " --buffer 1048576", ""},
        {"vorlane-pair-map", pair_end, "[Vorlane]\nEncodeClient=1\n", false, -1, pair_far_end,
         "[Vorlane]\nEncodeServer=1\n"},
        {"vorlane-pair-sealed", pair_end, "[Vorlane]\n" + sealed + "EncodeClient=1\n", false, -1,
         pair_far_end, "[Vorlane]\n" + sealed + "EncodeServer=1\n"},
        {"spiped", spiped + " -e -s [127.0.0.1]:{listen} -t [127.0.0.1]:{link_port}", "", false, -1,
         spiped + " -d -s [127.0.0.1]:{link_port} -t [127.0.0.1]:{target_port}", ""},
        {"ssh-chacha20", ssh_forward, "", false, -1, "", "", true},
    };
}

PeerSpec ParsePeer(const std::string& text) {
    const size_t equals = text.find('=');
    if (equals == 0 || equals == std::string::npos || equals + 1 == text.size()) {
        throw std::invalid_argument("expected NAME=COMMAND, got: " + text);
    }
    return {text.substr(0, equals), text.substr(equals + 1), ""};
}

std::string FillPlaceholders(std::string text,
                             const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [key, value] : values) {
        const std::string placeholder = "{" + key + "}";
        for (size_t at = text.find(placeholder); at != std::string::npos;
             at = text.find(placeholder, at + value.size())) {
            text.replace(at, placeholder.size(), value);
        }
    }
    return text;
}

std::vector<std::string> SplitWords(const std::string& command) {
    std::istringstream stream(command);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

}  // namespace bench
