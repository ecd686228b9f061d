// relay_bench: throughput, latency and connection rate through relay commands,
// side by side in one run, against a loopback target of its own.
//
//   relay_bench [--relay-path PATH] [--only NAME,...] [--peer NAME=COMMAND]...
//               [--bytes N] [--connections N] [--round-trips N]
//               [--connect-seconds S] [--connect-max N] [--idle-connections N]
//               [--idle-seconds S] [--rounds N] [--hold-cpus-awake] [--markdown FILE]
//   relay_bench --serve-target PORT   (the target alone, until killed: for the idle test)

#include <unistd.h>
#include <CLI/CLI.hpp>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "idle_connections.h"
#include "idle_latency_hold.h"
#include "measured_relay.h"
#include "peers.h"
#include "report.h"
#include "seal/link_key.h"
#include "socket_util.h"
#include "ssh_server.h"
#include "target_server.h"

namespace bench {
namespace {

// A program built next to relay_bench.
std::string BesideThisProgram(const std::string& name) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? name : (self.parent_path() / name).string();
}

struct Options {
    std::string relay_path = "vorlane-relay";
    std::string floor_path = BesideThisProgram("floor_relay");
    std::vector<std::string> only;
    std::vector<std::string> extra_peers;
    uint64_t bytes = uint64_t{1} << 30;
    int connections = 16;
    int round_trips = 20000;
    double connect_seconds = 5;
    int connect_max = 20000;
    int idle_connections = 8000;
    int idle_seconds = 60;
    int rounds = 1;
    bool hold_cpus_awake = false;
    std::string markdown_path;
};

constexpr std::chrono::seconds kStartBudget(10);

using Placeholders = std::vector<std::pair<std::string, std::string>>;

// Lets a relay finish closing the previous test's connections (a forking
// socat reaps its children) before the next test is timed.
void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

std::string Tail(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::string last;
    while (std::getline(file, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

// Runs the measurements in order of rising wear on the relay; the connect
// rate comes last since it leaves thousands of sockets in TIME_WAIT.
void Measure(const Options& options, uint16_t port, bool byte_map, PeerResult& result,
             const std::function<bool()>& relay_alive) {
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"upload", [&] { result.upload = MeasureUpload(port, options.bytes, byte_map); }},
        {"download", [&] { result.download = MeasureDownload(port, options.bytes, byte_map); }},
        {"aggregate",
         [&] {
             result.aggregate =
                 MeasureAggregate(port, options.bytes, options.connections, byte_map);
         }},
        {"ping-pong", [&] { result.ping = MeasurePingPong(port, options.round_trips, byte_map); }},
        {"connect rate",
         [&] {
             result.connects_per_second = MeasureConnectRate(
                 port,
                 std::chrono::milliseconds(static_cast<int64_t>(options.connect_seconds * 1000)),
                 options.connect_max, byte_map);
         }},
    };
    for (const auto& [name, step] : steps) {
        std::cerr << "  " << name << "..." << std::flush;
        try {
            step();
            std::cerr << " done\n";
        } catch (const std::exception& error) {
            std::cerr << " failed: " << error.what() << "\n";
            if (result.note.empty()) {
                result.note = std::string(name) + " failed: " + error.what();
            }
            if (!relay_alive()) {
                result.note += " (relay exited)";
                return;
            }
        }
        Settle();
    }
}

// A relay started in front of a target port, listening, with the far end of
// its pair when it has one; or why not. Declared in the order they start, so
// the near end stops first.
struct StartedRelay {
    std::unique_ptr<testing_support::SshServer> sshd;
    std::unique_ptr<MeasuredRelay> far;
    std::unique_ptr<MeasuredRelay> process;
    uint16_t port = 0;
    std::string failure;

    bool Running() const { return process && process->Running() && (!far || far->Running()); }
    std::vector<pid_t> Groups() const {
        std::vector<pid_t> groups = {process->group()};
        if (far) {
            groups.push_back(far->group());
        }
        if (sshd) {
            groups.push_back(sshd->Pid());
        }
        return groups;
    }
};

// Starts one command with its config file and waits until it listens on port.
std::unique_ptr<MeasuredRelay> Launch(const std::string& command, const std::string& config,
                                      const std::string& config_path, const std::string& log_path,
                                      const Placeholders& values, uint16_t port,
                                      std::string* failure) {
    if (!config.empty()) {
        std::ofstream(config_path) << FillPlaceholders(config, values);
    }
    std::vector<std::string> argv;
    for (const std::string& word : SplitWords(command)) {
        argv.push_back(FillPlaceholders(word, values));
    }
    auto process = std::make_unique<MeasuredRelay>(argv, log_path);
    if (!WaitUntilAccepting(port, kStartBudget) || !process->Running()) {
        *failure = argv.front() + " did not start listening: " + Tail(log_path);
        return nullptr;
    }
    return process;
}

StartedRelay StartRelay(const PeerSpec& peer, uint16_t target_port, const std::string& work_dir,
                        const Placeholders& run_values) {
    StartedRelay started;
    started.port = PickFreePort();
    const std::string base = work_dir + "/" + peer.name;
    Placeholders values = run_values;
    values.insert(values.end(), {
                                    {"listen", std::to_string(started.port)},
                                    {"target_port", std::to_string(target_port)},
                                    {"config", base + ".conf"},
                                    {"far_config", base + "-far.conf"},
                                });
    if (peer.far_sshd) {
        started.sshd = std::make_unique<testing_support::SshServer>();
        if (!started.sshd->Listening()) {
            started.failure = started.sshd->Failure();
            return started;
        }
        values.insert(values.end(), {{"link_port", std::to_string(started.sshd->Port())},
                                     {"ssh_user", started.sshd->User()},
                                     {"ssh_key", started.sshd->ClientKey()}});
    } else if (!peer.far_command.empty()) {
        const uint16_t link_port = PickFreePort();
        values.push_back({"link_port", std::to_string(link_port)});
        started.far = Launch(peer.far_command, peer.far_config, base + "-far.conf",
                             base + "-far.log", values, link_port, &started.failure);
        if (!started.far) {
            return started;
        }
    }
    started.process = Launch(peer.command, peer.config, base + ".conf", base + ".log", values,
                             started.port, &started.failure);
    return started;
}

// The idle test, on a relay process of its own in front of a target process
// of its own: the clients alone fill much of this process's descriptors.
void MeasureIdleConnections(const Options& options, const PeerSpec& peer,
                            const std::string& work_dir, const Placeholders& run_values,
                            PeerResult& result) {
    const int wanted = peer.idle_at_most < 0
                           ? options.idle_connections
                           : std::min(options.idle_connections, peer.idle_at_most);
    if (wanted <= 0) {
        return;
    }
    std::cerr << "  idle connections (" << wanted << ")..." << std::flush;
    try {
        const uint16_t target_port = PickFreePort();
        const MeasuredRelay target(
            {"/proc/self/exe", "--serve-target", std::to_string(target_port)},
            work_dir + "/target.log");
        if (!WaitUntilAccepting(target_port, kStartBudget)) {
            throw std::runtime_error("the target process did not start");
        }
        const StartedRelay relay = StartRelay(peer, target_port, work_dir, run_values);
        if (!relay.process) {
            throw std::runtime_error(relay.failure);
        }
        const IdleHold hold = MeasureIdle(relay.port, wanted, peer.byte_map, relay.Groups(),
                                          std::chrono::seconds(options.idle_seconds));
        result.idle_connections = hold.connections;
        result.idle_kib_per_connection = hold.KiBPerConnection();
        result.idle_threads_before = hold.before.threads;
        result.idle_threads_after = hold.after.threads;
        if (!hold.shortfall.empty() && result.note.empty()) {
            result.note =
                "idle: " + std::to_string(hold.connections) + " held, then " + hold.shortfall;
        }
        std::cerr << " " << hold.connections << " held\n";
    } catch (const std::exception& error) {
        std::cerr << " failed: " << error.what() << "\n";
        if (result.note.empty()) {
            result.note = std::string("idle connections failed: ") + error.what();
        }
    }
}

// The programs a peer needs that are not installed, or empty.
std::string MissingPrograms(const PeerSpec& peer) {
    std::string missing;
    for (const std::string& command : {peer.command, peer.far_command}) {
        const std::vector<std::string> words = SplitWords(command);
        if (!words.empty() && FindExecutable(words[0]).empty()) {
            missing += (missing.empty() ? "" : ", ") + words[0];
        }
    }
    if (peer.far_sshd) {
        const std::string ssh = testing_support::SshServer::MissingPrograms();
        missing += (missing.empty() || ssh.empty() ? "" : ", ") + ssh;
    }
    return missing;
}

PeerResult RunPeer(const Options& options, const PeerSpec& peer, const std::string& work_dir,
                   const Placeholders& run_values) {
    PeerResult result;
    result.name = peer.name;
    result.command = peer.command;
    result.far_command = peer.far_sshd ? "sshd -D -e -f {its own config}" : peer.far_command;
    std::cerr << peer.name << "\n";

    const std::string missing = MissingPrograms(peer);
    if (!missing.empty()) {
        result.skipped = true;
        result.note = missing + " not found";
        std::cerr << "  skipped: " << result.note << "\n";
        return result;
    }

    {
        TargetServer target;  // a fresh one per relay: no TIME_WAIT left over from the last
        if (peer.command.empty()) {
            Measure(options, target.port(), peer.byte_map, result, [] { return true; });
            return result;
        }
        const StartedRelay relay = StartRelay(peer, target.port(), work_dir, run_values);
        if (!relay.process) {
            result.note = relay.failure;
            std::cerr << "  " << result.note << "\n";
            return result;
        }
        Measure(options, relay.port, peer.byte_map, result, [&relay] { return relay.Running(); });
    }
    MeasureIdleConnections(options, peer, work_dir, run_values, result);
    return result;
}

// The values every peer's placeholders share in this run (see peers.h).
Placeholders RunValues(const std::string& work_dir) {
    const std::string key_file = work_dir + "/spiped.key";
    std::array<char, 32> random_bytes{};
    std::ifstream("/dev/urandom", std::ios::binary).read(random_bytes.data(), random_bytes.size());
    std::ofstream(key_file, std::ios::binary).write(random_bytes.data(), random_bytes.size());
    return {{"link_key", seal::FormatLinkKey(seal::GenerateLinkKey())}, {"key_file", key_file}};
}

std::vector<PeerSpec> ChosenPeers(const Options& options) {
    std::vector<PeerSpec> peers = StandardPeers(options.relay_path, options.floor_path);
    for (const std::string& text : options.extra_peers) {
        peers.push_back(ParsePeer(text));
    }
    if (options.only.empty()) {
        return peers;
    }
    std::vector<PeerSpec> chosen;
    for (const std::string& name : options.only) {
        bool known = false;
        for (const PeerSpec& peer : peers) {
            if (peer.name == name) {
                chosen.push_back(peer);
                known = true;
            }
        }
        if (!known) {
            throw std::invalid_argument("unknown relay: " + name);
        }
    }
    return chosen;
}

// Ctrl+C: stop the relay being measured before leaving.
void OnInterrupt(int) {
    KillMeasuredRelays();
    _exit(130);
}

std::string Report(const Options& options, const std::vector<PeerResult>& results,
                   bool cpus_held_awake) {
    std::ostringstream out;
    out << options.rounds << (options.rounds == 1 ? " round" : " rounds, medians") << "; idle CPUs "
        << (cpus_held_awake ? "held awake (polling)" : "free to sleep") << ".\n\n";
    WriteResultTable(out, results, options.connections);
    out << "\nCommands ({listen}: the relay's port, {target_port}: the bench's target):\n\n";
    WriteCommands(out, results);
    out << "\nGoals for vorlane-relay, as ratios within this run:\n\n";
    WriteGoals(out, results);
    return out.str();
}

int Run(int argc, char** argv) {
    Options options;
    CLI::App app("Throughput, latency and connection rate through TCP relays, side by side");
    // run.sh passes its defaults first and the caller's arguments after: the last one wins.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--relay-path", options.relay_path, "vorlane-relay to measure");
    app.add_option("--floor-path", options.floor_path, "floor_relay, the yardstick relay");
    app.add_option("--only", options.only, "measure only these relays, in this order")
        ->delimiter(',')
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--peer", options.extra_peers,
                   "another relay: NAME=COMMAND with {listen} and {target_port}")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--bytes", options.bytes, "bytes per bulk transfer")->check(CLI::PositiveNumber);
    app.add_option("--connections", options.connections, "connections in the aggregate test")
        ->check(CLI::Range(2, 1000));
    app.add_option("--round-trips", options.round_trips, "64-byte ping-pongs")
        ->check(CLI::Range(1, 10000000));
    app.add_option("--connect-seconds", options.connect_seconds, "connection-rate test length")
        ->check(CLI::Range(0.1, 600.0));
    app.add_option("--connect-max", options.connect_max, "connection-rate test count cap")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--idle-connections", options.idle_connections,
                   "idle connections to hold through each relay; 0: no idle test")
        ->check(CLI::Range(0, 9000));
    app.add_option("--idle-seconds", options.idle_seconds, "idle test: the most time to open them")
        ->check(CLI::Range(1, 600));
    uint16_t serve_target_port = 0;
    app.add_option("--serve-target", serve_target_port)->group("");  // for the idle test
    app.add_option("--rounds", options.rounds, "passes over all relays; figures are medians")
        ->check(CLI::Range(1, 100));
    app.add_flag("--hold-cpus-awake", options.hold_cpus_awake,
                 "keep idle CPUs polling (root): wake-ups then cost what the relay costs");
    app.add_option("--markdown", options.markdown_path, "also write the report here");
    CLI11_PARSE(app, argc, argv);
    if (serve_target_port != 0) {
        const TargetServer target(serve_target_port);
        for (;;) {
            pause();  // SIGTERM from the bench ends the process
        }
    }

    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    std::optional<IdleLatencyHold> awake;
    if (options.hold_cpus_awake) {
        awake.emplace();
        if (!awake->held()) {
            std::cerr << "relay_bench: cannot hold CPUs awake (needs root); going on without\n";
        }
    }

    char work_template[] = "/tmp/relay-bench.XXXXXX";
    const char* work_dir = mkdtemp(work_template);
    if (work_dir == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    // Rounds go through every relay in turn, so a slow spell on the shared
    // machine falls on all of them rather than on one.
    const std::vector<PeerSpec> peers = ChosenPeers(options);
    const Placeholders run_values = RunValues(work_dir);
    std::vector<std::vector<PeerResult>> rounds(peers.size());
    for (int round = 1; round <= options.rounds; ++round) {
        std::cerr << "round " << round << " of " << options.rounds << "\n";
        for (size_t i = 0; i < peers.size(); ++i) {
            if (round == 1 || !rounds[i].front().skipped) {
                rounds[i].push_back(RunPeer(options, peers[i], work_dir, run_values));
                WriteResultRow(std::cerr, rounds[i].back());
            }
        }
    }
    std::filesystem::remove_all(work_dir);
    std::vector<PeerResult> results;
    results.reserve(rounds.size());
    for (const std::vector<PeerResult>& peer_rounds : rounds) {
        results.push_back(MedianOfRounds(peer_rounds));
    }

    const std::string report = Report(options, results, awake && awake->held());
    std::cout << report;
    if (!options.markdown_path.empty()) {
        std::ofstream(options.markdown_path) << report;
    }
    return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
    try {
        return bench::Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "relay_bench: " << error.what() << "\n";
        return 1;
    }
}
