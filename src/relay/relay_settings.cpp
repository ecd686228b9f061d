#include "relay/relay_settings.h"

StartRequest MakeStartRequest(const RelaySettings& settings, const ListenFixed& fixed) {
    StartRequest request;
    request.encodeClient = settings.encodeClient;
    request.encodeServer = settings.encodeServer;
    request.targetText = settings.targetText;
    request.targetPort = settings.targetPort;
    request.connectionLimit = settings.connectionLimit;
    request.localPort = settings.localPort;
    request.backlog = fixed.backlog;
    request.bindAddress = settings.bindAddress;
    request.chunkSize = settings.bufferSize.value_or(fixed.chunkSize);
    request.allowFrom = settings.allowFrom;
    request.connectTimeout = settings.connectTimeout;
    request.idleTimeout = settings.idleTimeout;
    request.firstByteTimeout = settings.firstByteTimeout;
    request.clientsPerAddress = settings.clientsPerAddress;
    return request;
}
