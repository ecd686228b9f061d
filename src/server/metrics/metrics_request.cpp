#include "server/metrics/metrics_request.h"

MetricsRequest ParseMetricsHead(std::string_view head) {
    const std::string_view line = head.substr(0, head.find("\r\n"));
    const std::size_t methodEnd = line.find(' ');
    const std::size_t targetEnd =
        methodEnd == std::string_view::npos ? methodEnd : line.find(' ', methodEnd + 1);
    if (targetEnd == std::string_view::npos || line.substr(targetEnd + 1).rfind("HTTP/", 0) != 0) {
        return MetricsRequest::BadRequest;
    }
    const std::string_view method = line.substr(0, methodEnd);
    const std::string_view target = line.substr(methodEnd + 1, targetEnd - methodEnd - 1);
    if (target.substr(0, target.find('?')) != "/metrics") {
        return MetricsRequest::NotFound;
    }
    return method == "GET" ? MetricsRequest::Metrics : MetricsRequest::MethodNotAllowed;
}
