// A name server of the test's own on 127.0.0.1:53, for a test inside an
// isolated network (isolated_network.h) whose resolv.conf points there. It
// answers A and AAAA questions for the names it is given, "no such name" for
// others, and can hold its answers back, so a test decides when a look-up
// ends instead of guessing with sleeps.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_socket.h"

class PrivateNameServer {
  public:
    // Held answers go out by themselves after this, so a test that fails
    // never waits on them for long.
    static constexpr std::chrono::seconds kLongestHold{15};

    PrivateNameServer();
    ~PrivateNameServer();
    PrivateNameServer(const PrivateNameServer&) = delete;
    PrivateNameServer& operator=(const PrivateNameServer&) = delete;

    bool valid() const { return socket_.valid(); }
    // IPv4 and IPv6 addresses in text form, in the order they are answered.
    void SetAddresses(const std::string& name, const std::vector<std::string>& addresses);
    // While on, questions are kept unanswered; turning it off leaves those
    // kept until ReleaseHeld.
    void HoldAnswers(bool hold);
    int HeldCount() const;
    void ReleaseHeld();

  private:
    struct Held {
        std::vector<unsigned char> reply;
        std::vector<unsigned char> peer;  // the asker's socket address
        std::chrono::steady_clock::time_point due;
    };

    void Serve();
    std::vector<unsigned char> Answer(const unsigned char* query, std::size_t length) const;
    void Send(const Held& answer) const;

    testing_support::TestSocket socket_;
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<std::string>> names_;
    bool hold_ = false;
    std::vector<Held> held_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
