// The --metrics endpoint on 127.0.0.1, asked by curl and read by the
// Prometheus client's own parser.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "server/metrics/metrics_server.h"
#include "server/metrics/relay_metrics.h"
#include "test_socket.h"

namespace {

using testing_support::TestSocket;

struct CommandResult {
    int exitCode = -1;
    std::string output;
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        result.output.append(chunk, got);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const char* const kMetricsRequest = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

class MetricsServerTest : public testing::Test {
  protected:
    void StartOn(const char* address, MetricsLimits limits = {}) {
        m_metrics.ConnectionAccepted(ConnectionReport{});
        m_server = std::make_unique<MetricsServer>(
            [this] {
                // Each answer's up total tells which request it was.
                TrafficTotals traffic;
                traffic.bytesUp = ++m_requests;
                return m_metrics.PrometheusText(traffic);
            },
            limits);
        const auto error = m_server->Start(*net::IpAddress::Parse(address), 0);
        ASSERT_FALSE(error.has_value()) << error->step << ": " << error->error.message();
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_server->Port()) + path;
    }

    // curl's status code for one request.
    std::string Status(const std::string& method, const std::string& path) const {
        return RunCommand(std::string(VORLANE_CURL) +
                          " -g -s -o /dev/null --max-time 10 -w '%{http_code}' -X " + method +
                          " '" + Url(path) + "'")
            .output;
    }

    RelayMetrics m_metrics;
    std::atomic<int> m_requests{0};
    std::unique_ptr<MetricsServer> m_server;
};

TEST_F(MetricsServerTest, AnswersByPathAndMethod) {
    StartOn("127.0.0.1");
    struct Case {
        const char* method;
        const char* path;
        const char* status;
    };
    const Case cases[] = {
        {"GET", "/metrics", "200"},    {"GET", "/metrics?name[]=x&y=1", "200"},
        {"GET", "/", "404"},           {"GET", "/metrics/extra", "404"},
        {"GET", "/metricsx", "404"},   {"POST", "/metrics", "405"},
        {"DELETE", "/metrics", "405"}, {"POST", "/other", "404"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Status(c.method, c.path), c.status) << c.method << " " << c.path;
    }
}

TEST_F(MetricsServerTest, AnswerHasItsHeadersAndAFreshBodyEachTime) {
    StartOn("127.0.0.1");
    for (int request = 1; request <= 2; ++request) {
        const std::string answer =
            RunCommand(std::string(VORLANE_CURL) + " -s -i --max-time 10 '" + Url("/metrics") + "'")
                .output;
        const std::size_t headEnd = answer.find("\r\n\r\n");
        ASSERT_NE(headEnd, std::string::npos) << answer;
        const std::string head = answer.substr(0, headEnd + 2);
        const std::string body = answer.substr(headEnd + 4);
        EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0U) << head;
        EXPECT_NE(head.find("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"),
                  std::string::npos)
            << head;
        EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
                  std::string::npos)
            << head;
        EXPECT_NE(head.find("\r\nConnection: close\r\n"), std::string::npos) << head;
        EXPECT_NE(
            body.find("vorlane_bytes_total{direction=\"up\"} " + std::to_string(request) + "\n"),
            std::string::npos);
    }
}

TEST_F(MetricsServerTest, BodyReadsAsPrometheusText) {
    StartOn("127.0.0.1");
    const CommandResult scrape = RunCommand(
        std::string(VORLANE_PYTHON3) + " " SCRAPE_METRICS_SCRIPT " '" + Url("/metrics") + "' 2>&1");
    EXPECT_EQ(scrape.exitCode, 0) << scrape.output;
    EXPECT_NE(scrape.output.find("vorlane_connections_accepted_total 1\n"), std::string::npos)
        << scrape.output;
    EXPECT_NE(scrape.output.find("vorlane_connections_closed_total{reason=\"stopped\"} 0\n"),
              std::string::npos)
        << scrape.output;
}

TEST_F(MetricsServerTest, ServesIPv6Loopback) {
    m_server = std::make_unique<MetricsServer>([] { return std::string("up 1\n"); });
    const auto error = m_server->Start(*net::IpAddress::Parse("::1"), 0);
    if (error) {
        GTEST_SKIP() << "no IPv6 loopback: " << error->error.message();
    }
    const std::string url = "http://[::1]:" + std::to_string(m_server->Port()) + "/metrics";
    EXPECT_EQ(RunCommand(std::string(VORLANE_CURL) + " -g -s --max-time 10 '" + url + "'").output,
              "up 1\n");
}

TEST_F(MetricsServerTest, OverlongHeadIsRefused) {
    StartOn("127.0.0.1");
    TestSocket client = testing_support::Connect(m_server->Port());
    ASSERT_TRUE(client.valid());
    client.Send("GET /metrics HTTP/1.1\r\nX-Padding: " + std::string(9000, 'a'));
    bool sawEnd = false;
    const std::string answer = client.ReadToEnd(&sawEnd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 431 ", 0), 0U) << answer.substr(0, 100);
}

TEST_F(MetricsServerTest, SilentClientIsClosedAtItsDeadline) {
    MetricsLimits limits;
    limits.clientTimeout = std::chrono::milliseconds(200);
    StartOn("127.0.0.1", limits);
    TestSocket silent = testing_support::Connect(m_server->Port());
    ASSERT_TRUE(silent.valid());
    bool sawEnd = false;
    EXPECT_EQ(silent.ReadToEnd(&sawEnd), "");
    EXPECT_TRUE(sawEnd);
}

// What a scraper gets in answer to its request, within the patience.
std::string Scrape(int port) {
    TestSocket scraper = testing_support::Connect(port);
    if (!scraper.valid() || !scraper.Send(kMetricsRequest)) {
        return "(no connection)";
    }
    bool sawEnd = false;
    return scraper.ReadToEnd(&sawEnd);
}

TEST_F(MetricsServerTest, NewClientBeyondTheCapPushesOutASilentOne) {
    MetricsLimits limits;
    limits.maxClients = 1;
    StartOn("127.0.0.1", limits);
    TestSocket silent = testing_support::Connect(m_server->Port());
    ASSERT_TRUE(silent.valid());
    EXPECT_EQ(Scrape(m_server->Port()).rfind("HTTP/1.1 200 OK\r\n", 0), 0U);
    bool sawEnd = false;
    EXPECT_EQ(silent.ReadToEnd(&sawEnd, 1000), "");
    EXPECT_TRUE(sawEnd) << "the silent client kept its place";
}

// Silent connections in numbers cannot queue a scraper behind them.
TEST_F(MetricsServerTest, ScrapeIsAnsweredBesideHundredsOfSilentClients) {
    StartOn("127.0.0.1");
    std::vector<TestSocket> silent;
    for (int i = 0; i < 300; ++i) {
        silent.push_back(testing_support::Connect(m_server->Port()));
        ASSERT_TRUE(silent.back().valid());
    }
    const std::string answer = Scrape(m_server->Port());
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0U) << answer.substr(0, 100);
}

// A client that sends its head a byte at a time keeps no place for long.
TEST_F(MetricsServerTest, HeadSentTooSlowlyIsClosedAtTheHeadDeadline) {
    StartOn("127.0.0.1");
    TestSocket slow = testing_support::Connect(m_server->Port());
    ASSERT_TRUE(slow.valid() && slow.Send("GET /metrics HTTP/1.1\r\n"));
    // 4 s of dripping, within the exchange's 5 s but well past the head's 2 s.
    const std::string drip = "X-Slow: " + std::string(12, 'a') + "\r\n";
    bool closed = false;
    for (std::size_t i = 0; i < drip.size() && !closed; ++i) {
        slow.Send(drip.substr(i, 1));
        closed = net::WaitReadable(slow.fd(), 200);
    }
    if (!closed) {
        slow.Send("\r\n");
    }
    bool sawEnd = false;
    EXPECT_EQ(slow.ReadToEnd(&sawEnd, 1000), "");
    EXPECT_TRUE(closed) << "served after dawdling over its head";
}

TEST_F(MetricsServerTest, TakenPortFailsAtBindAndStopFreesIt) {
    StartOn("127.0.0.1");
    TestSocket client = testing_support::Connect(m_server->Port());
    ASSERT_TRUE(client.valid());
    const auto port = m_server->Port();
    const auto loopback = *net::IpAddress::Parse("127.0.0.1");

    MetricsServer second([] { return std::string(); });
    const auto error = second.Start(loopback, port);
    ASSERT_TRUE(error.has_value());
    EXPECT_STREQ(error->step, "bind");
    EXPECT_TRUE(error->error);

    m_server->Stop();  // with a client still connected
    bool sawEnd = false;
    client.ReadToEnd(&sawEnd);
    MetricsServer third([] { return std::string(); });
    EXPECT_FALSE(third.Start(loopback, port).has_value());
}

}  // namespace
