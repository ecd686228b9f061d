#include "relay_process.h"

#include "loopback_socket.h"

RelayProcess::RelayProcess(std::uint16_t targetPort, const std::vector<std::string>& extraArgs)
    : port_(loopback::FreePort()), process_(Options(port_, targetPort, extraArgs)) {}

ChildOptions RelayProcess::Options(std::uint16_t port, std::uint16_t targetPort,
                                   const std::vector<std::string>& extraArgs) {
    ChildOptions options;
    options.argv = {VORLANE_RELAY_PATH, "--listen",      std::to_string(port),      "--target",
                    "127.0.0.1",        "--target-port", std::to_string(targetPort)};
    options.argv.insert(options.argv.end(), extraArgs.begin(), extraArgs.end());
    return options;
}

bool RelayProcess::WaitUntilListening() {
    return process_.WaitForOutput(OutputStream::Out, "Listening on port", std::chrono::seconds(20));
}
