// libFuzzer target for the metrics endpoint's request head: any bytes must
// parse, only the first line may count, and only a GET of /metrics may be
// served. A broken rule aborts, so the fuzzer reports it with its input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_require.h"
#include "server/metrics/metrics_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view head(reinterpret_cast<const char*>(data), size);
    const MetricsRequest request = ParseMetricsHead(head);
    const std::string_view firstLine = head.substr(0, head.find("\r\n"));
    Require(ParseMetricsHead(firstLine) == request, "only the first line counts");
    if (request == MetricsRequest::Metrics) {
        Require(firstLine.rfind("GET /metrics", 0) == 0, "only a GET of /metrics is served");
        const char after = firstLine.size() > 12 ? firstLine[12] : '\0';
        Require(after == ' ' || after == '?', "the path is /metrics itself");
    }
    if (request != MetricsRequest::BadRequest) {
        Require(firstLine.find(" HTTP/") != std::string_view::npos, "a request names its protocol");
    }
    return 0;
}
