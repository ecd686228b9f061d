#include "relay_process.h"

#include <signal.h>

#include "test_socket.h"

namespace testing_support {
namespace {

ChildOptions RelayOptions(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment, StderrTo stderrTo) {
    ChildOptions options;
    options.argv = {VORLANE_RELAY_PATH};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.environment = environment;
    options.stderrTo = stderrTo;
    return options;
}

std::vector<std::string> InFrontOf(const std::string& targetHost, std::uint16_t targetPort,
                                   std::vector<std::string> extraArguments) {
    std::vector<std::string> arguments = {"--target",        targetHost,
                                          "--target-port",   std::to_string(targetPort),
                                          "--drain-timeout", "0"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    return arguments;
}

// Long enough for a sanitizer build on a loaded machine.
constexpr int kStartPatienceMs = 20000;
constexpr int kStartAttempts = 3;

}  // namespace

RelayProcess::RelayProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, StderrTo stderrTo)
    : ChildProcess(RelayOptions(arguments, environment, stderrTo)) {}

RelayProcess::~RelayProcess() {
    // No drain to wait for: what the test wanted to see has been seen.
    Signal(SIGKILL);
}

std::string ListeningPort(int port) {
    return " port=" + std::to_string(port) + " target=";
}

ListeningRelay::ListeningRelay(std::vector<std::string> arguments,
                               std::vector<std::string> environment)
    : m_arguments(std::move(arguments)), m_environment(std::move(environment)) {
    Launch();
}

ListeningRelay::ListeningRelay(std::uint16_t targetPort, std::vector<std::string> extraArguments)
    : ListeningRelay("127.0.0.1", targetPort, std::move(extraArguments)) {}

ListeningRelay::ListeningRelay(const std::string& targetHost, std::uint16_t targetPort,
                               std::vector<std::string> extraArguments)
    : ListeningRelay(InFrontOf(targetHost, targetPort, std::move(extraArguments))) {}

void ListeningRelay::Launch() {
    m_port = FreePort();
    std::vector<std::string> arguments = {"--listen", std::to_string(m_port)};
    arguments.insert(arguments.end(), m_arguments.begin(), m_arguments.end());
    m_process.reset();  // the previous try, if any, has ended
    m_process = std::make_unique<RelayProcess>(arguments, m_environment);
}

bool ListeningRelay::WaitUntilListening() {
    for (int attempt = 1;; ++attempt) {
        if (m_process->WaitForStderr(ListeningPort(m_port), kStartPatienceMs)) {
            return true;
        }
        if (m_process->Running() || attempt == kStartAttempts) {
            return false;
        }
        Launch();
    }
}

std::unique_ptr<RelayProcess> StartRelay(const std::vector<std::string>& arguments, int* port,
                                         const std::vector<std::string>& environment) {
    ListeningRelay relay(arguments, environment);
    if (!relay.WaitUntilListening()) {
        return nullptr;
    }
    *port = relay.Port();
    return relay.Take();
}

}  // namespace testing_support
