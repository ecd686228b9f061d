// Load test for a relay program: starts it on a free loopback port in front of
// this program's own target, opens many connections at once, moves checked
// data both ways on all of them, closes them, and then expects the relay to
// hold exactly the descriptors and threads it held before the load.
//
// relay_stress [--connections N] [--bytes N] [--window N] [--timeout S]
//              [--settle S] [--ini FILE] [--stats-count TEXT] [--expect-clean-exit]
//              -- COMMAND ARGS...
// In COMMAND and ARGS, {listen}, {target} and {limit} become the relay's port,
// the target's port and a connection limit that admits every connection.
// --ini writes a settings file for the window program with the same values.
// --stats-count names the text after which the relay's output carries its
// connection count (its pump threads): it must reach twice the connections
// while all are open and 0 once they are closed.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "load_run.h"
#include "process_probe.h"
#include "test_socket.h"
#include "wait.h"

namespace {

struct Options {
    LoadPlan plan;
    int settleSeconds = 20;
    std::string iniPath;
    std::string statsCount;
    bool expectCleanExit = false;
    std::vector<std::string> command;
};

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: relay_stress [--connections N] [--bytes N] [--window N] [--timeout S]\n"
                 "       [--settle S] [--ini FILE] [--stats-count TEXT] [--expect-clean-exit]\n"
                 "       -- COMMAND ARGS...\n");
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    int i = 1;
    auto value = [&](const char* name) -> long {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", name);
            Usage();
        }
        char* end = nullptr;
        long number = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || number < 0) {
            std::fprintf(stderr, "%s: not a number: %s\n", name, argv[i]);
            Usage();
        }
        return number;
    };
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--connections") {
            options.plan.connections = static_cast<int>(value("--connections"));
        } else if (arg == "--bytes") {
            options.plan.bytesEach = static_cast<std::size_t>(value("--bytes"));
        } else if (arg == "--window") {
            options.plan.openWindow = static_cast<int>(value("--window"));
        } else if (arg == "--timeout") {
            options.plan.timeout = std::chrono::seconds(value("--timeout"));
        } else if (arg == "--settle") {
            options.settleSeconds = static_cast<int>(value("--settle"));
        } else if (arg == "--ini" && i + 1 < argc) {
            options.iniPath = argv[++i];
        } else if (arg == "--stats-count" && i + 1 < argc) {
            options.statsCount = argv[++i];
        } else if (arg == "--expect-clean-exit") {
            options.expectCleanExit = true;
        } else if (arg == "--") {
            options.command.assign(argv + i + 1, argv + argc);
            break;
        } else {
            Usage();
        }
    }
    if (options.command.empty() || options.plan.connections < 1) {
        Usage();
    }
    return options;
}

void Replace(std::string& text, const std::string& name, const std::string& value) {
    for (std::size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + value.size())) {
        text.replace(at, name.size(), value);
    }
}

bool RaiseDescriptorLimit(int needed) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= static_cast<rlim_t>(needed);
}

void WriteSettings(const std::string& path, std::uint16_t listen, std::uint16_t target, int limit) {
    std::ofstream file(path, std::ios::binary);
    file << "[Vorlane]\r\nLocalListenPort=" << listen << "\r\nConnectionLimit=" << limit
         << "\r\nDestAddr=127.0.0.1\r\nDestPort=" << target
         << "\r\nEncodeClient=0\r\nEncodeServer=0\r\nAutoStart=1\r\nMinHideToTray=0\r\n";
}

// A reading taken once descriptors and threads have held still for a while.
ProcessSnapshot SteadySnapshot(pid_t pid) {
    ProcessSnapshot last = ReadProcess(pid);
    for (int i = 0; i < 25; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ProcessSnapshot now = ReadProcess(pid);
        if (now.threads == last.threads && now.descriptors == last.descriptors) {
            return now;
        }
        last = now;
    }
    return last;
}

void Print(const char* what, const ProcessSnapshot& s) {
    std::printf("%-26s descriptors %5d  threads %5d  resident %7ld KiB\n", what, s.descriptors,
                s.threads, s.residentKiB);
}

int Fail(testing_support::ChildProcess& relay, const std::string& message) {
    std::printf("FAILED: %s\n", message.c_str());
    relay.Stop();
    std::string err = relay.Stderr();
    if (err.size() > 4000) {
        err = "..." + err.substr(err.size() - 4000);
    }
    std::printf("relay stderr:\n%s\n", err.c_str());
    return 1;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The number after the last occurrence of text in the relay's output, or -1.
int ReportedCount(testing_support::ChildProcess& relay, const std::string& text) {
    const std::string out = relay.Stdout();
    const std::size_t at = out.rfind(text);
    if (at == std::string::npos) {
        return -1;
    }
    return std::atoi(out.c_str() + at + text.size());
}

// Waits for the once-a-second report to show the count; true at once without a text.
bool CountReaches(testing_support::ChildProcess& relay, const std::string& text, int expected) {
    if (text.empty()) {
        return true;
    }
    if (!testing_support::WaitUntil([&] { return ReportedCount(relay, text) == expected; },
                                    std::chrono::seconds(10))) {
        std::printf("the relay reports %d connections, expected %d\n", ReportedCount(relay, text),
                    expected);
        return false;
    }
    return true;
}

// Watches the port rather than the program's output, so any relay program fits.
bool WaitUntilListening(testing_support::ChildProcess& relay, std::uint16_t port) {
    testing_support::WaitUntil(
        [&] { return testing_support::IsListening(port) || !relay.Running(); },
        std::chrono::seconds(90));
    return testing_support::IsListening(port);
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    const int connections = options.plan.connections;
    // Limits are per process: this one holds a client and a target socket per
    // connection, and so does the relay, which inherits the limit.
    if (!RaiseDescriptorLimit(2 * connections + 64)) {
        std::printf("FAILED: the descriptor limit is too low for %d connections\n", connections);
        return 1;
    }
    LoadRun run(options.plan);
    if (!run.Listen()) {
        std::printf("FAILED: %s\n", run.error().c_str());
        return 1;
    }
    const int limit = 2 * connections + 10;  // the limit counts two threads per connection
    std::uint16_t relayPort = 0;
    std::unique_ptr<testing_support::ChildProcess> relay;
    // A port taken by someone else between choosing and binding it ends the
    // relay at once; a new port is tried then, twice at most.
    for (int attempt = 0; attempt < 3; ++attempt) {
        relayPort = testing_support::FreePort();
        testing_support::ChildOptions child;
        for (std::string arg : options.command) {
            Replace(arg, "{listen}", std::to_string(relayPort));
            Replace(arg, "{target}", std::to_string(run.targetPort()));
            Replace(arg, "{limit}", std::to_string(limit));
            child.argv.push_back(arg);
        }
        if (!options.iniPath.empty()) {
            WriteSettings(options.iniPath, relayPort, run.targetPort(), limit);
        }
        relay.reset();
        relay = std::make_unique<testing_support::ChildProcess>(child);
        if (!relay->Started()) {
            std::printf("FAILED: cannot start %s\n", child.argv[0].c_str());
            return 1;
        }
        if (WaitUntilListening(*relay, relayPort)) {
            break;
        }
        std::printf("the relay ended before it listened; stderr:\n%s\n", relay->Stderr().c_str());
        if (attempt == 2 || relay->ExitCode() < 0) {
            return Fail(*relay, "the relay did not listen on port " + std::to_string(relayPort));
        }
    }
    std::printf("relay pid %d listening on %u, target on %u\n", static_cast<int>(relay->Pid()),
                relayPort, run.targetPort());
    ProcessSnapshot before = SteadySnapshot(relay->Pid());
    Print("before the load:", before);

    auto start = std::chrono::steady_clock::now();
    if (!run.OpenAll(relayPort)) {
        return Fail(*relay, run.error());
    }
    ProcessSnapshot idle = SteadySnapshot(relay->Pid());
    std::printf("%d connections open after %.1f s\n", connections, SecondsSince(start));
    Print("with all connections idle:", idle);
    if (!CountReaches(*relay, options.statsCount, 2 * connections)) {
        return Fail(*relay, "the reported count does not match the open connections");
    }
    std::printf("per connection: %.1f KiB resident, %.2f threads\n",
                static_cast<double>(idle.residentKiB - before.residentKiB) / connections,
                static_cast<double>(idle.threads - before.threads) / connections);

    start = std::chrono::steady_clock::now();
    if (!run.TransferAndClose()) {
        return Fail(*relay, run.error());
    }
    double seconds = SecondsSince(start);
    std::printf("%llu bytes checked in %.1f s (%.1f MiB/s)\n",
                static_cast<unsigned long long>(run.bytesChecked()), seconds,
                static_cast<double>(run.bytesChecked()) / seconds / 1048576.0);

    ProcessSnapshot after;
    testing_support::WaitUntil(
        [&] {
            after = ReadProcess(relay->Pid());
            return after.threads == before.threads && after.descriptors == before.descriptors;
        },
        std::chrono::milliseconds(static_cast<long long>(options.settleSeconds * 1000)));
    Print("after all closed:", after);
    if (after.threads != before.threads || after.descriptors != before.descriptors) {
        return Fail(*relay,
                    "the relay kept " + std::to_string(after.descriptors - before.descriptors) +
                        " descriptors and " + std::to_string(after.threads - before.threads) +
                        " threads after every connection closed");
    }

    if (!CountReaches(*relay, options.statsCount, 0)) {
        return Fail(*relay, "the reported count did not return to 0");
    }

    relay->Stop();
    if (options.expectCleanExit && relay->ExitCode() != 0) {
        return Fail(*relay, "the relay exited with " + std::to_string(relay->ExitCode()));
    }
    std::printf("passed: %d connections, %zu bytes each way\n", connections,
                options.plan.bytesEach);
    return 0;
}
