// What a request head asks of the metrics endpoint. Pure: bytes in, the kind
// of answer out, so that any bytes can be tried against it.
#pragma once

#include <string_view>

enum class MetricsRequest {
    Metrics,           // GET /metrics, any query string
    BadRequest,        // no "METHOD TARGET HTTP/x.y" first line
    NotFound,          // another path
    MethodNotAllowed,  // /metrics with another method
};

// head: the request head, or any bytes; only its first line counts.
MetricsRequest ParseMetricsHead(std::string_view head);
