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
