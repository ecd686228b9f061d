#include "relay_process.h"

#include "loopback_socket.h"

RelayProcess::RelayProcess(std::uint16_t targetPort, std::vector<std::string> extraArgs)
    : RelayProcess("127.0.0.1", targetPort, std::move(extraArgs)) {}

RelayProcess::RelayProcess(std::string targetHost, std::uint16_t targetPort,
                           std::vector<std::string> extraArgs)
    : targetHost_(std::move(targetHost)),
      targetPort_(targetPort),
      extraArgs_(std::move(extraArgs)) {
    Launch();
}

void RelayProcess::Launch() {
    port_ = loopback::FreePort();
    ChildOptions options;
    // Connections still open at the end are cut at once: these tests stop
    // the relay with clients left connected on purpose.
    options.argv = {VORLANE_RELAY_PATH,
                    "--listen",
                    std::to_string(port_),
                    "--target",
                    targetHost_,
                    "--target-port",
                    std::to_string(targetPort_),
                    "--drain-timeout",
                    "0"};
    options.argv.insert(options.argv.end(), extraArgs_.begin(), extraArgs_.end());
    process_.reset();  // the previous try, if any, has ended
    process_ = std::make_unique<ChildProcess>(options);
}

bool RelayProcess::WaitUntilListening() {
    for (int attempt = 0;; ++attempt) {
        // The log line either engine writes once it listens.
        if (process_->WaitForOutput(OutputStream::Err,
                                    " event=listening address=", std::chrono::seconds(20))) {
            return true;
        }
        const bool portTaken =
            process_->WaitForExit(std::chrono::seconds(1)) &&
            process_->Output(OutputStream::Err).find("Listen failed") != std::string::npos;
        if (!portTaken || attempt == 2) {
            return false;
        }
        Launch();
    }
}
