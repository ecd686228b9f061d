#include "relay/event/event_run.h"

#include "relay/start_checks.h"

EventRun RunFor(const StartRequest& request) {
    EventRun run;
    run.targetHost = TrimmedTarget(request.targetText);
    // "[::1]" is how an IPv6 literal is often written beside a port.
    std::string literal = run.targetHost;
    if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']') {
        literal = literal.substr(1, literal.size() - 2);
    }
    run.targetLiteral = net::IpAddress::Parse(literal);
    run.targetPort = static_cast<std::uint16_t>(request.targetPort);
    run.mode = ChooseEncodeMode(request.encodeClient, request.encodeServer);
    run.chunkSize = EffectiveChunkSize(request.chunkSize);
    run.connectTimeout = request.connectTimeout;
    run.idleTimeout = request.idleTimeout;
    run.firstByteTimeout = request.firstByteTimeout;
    run.clientsPerAddress = request.clientsPerAddress;
    return run;
}
