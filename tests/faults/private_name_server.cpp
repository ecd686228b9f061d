#include "private_name_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>

namespace {

constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypeAAAA = 28;
constexpr std::size_t kHeaderSize = 12;

void Put16(std::vector<unsigned char>& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value & 0xff));
}

}  // namespace

PrivateNameServer::PrivateNameServer() {
    testing_support::TestSocket udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!udp.valid() ||
        ::bind(udp.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return;
    }
    socket_ = std::move(udp);
    thread_ = std::thread([this] { Serve(); });
}

PrivateNameServer::~PrivateNameServer() {
    stopping_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void PrivateNameServer::SetAddresses(const std::string& name,
                                     const std::vector<std::string>& addresses) {
    std::lock_guard<std::mutex> lock(mutex_);
    names_[name] = addresses;
}

void PrivateNameServer::HoldAnswers(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
}

int PrivateNameServer::HeldCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(held_.size());
}

void PrivateNameServer::ReleaseHeld() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Held& answer : held_) {
        Send(answer);
    }
    held_.clear();
}

// Polls briefly so that a stop is seen soon; held answers past their time go out.
void PrivateNameServer::Serve() {
    while (!stopping_.load()) {
        pollfd ready{socket_.fd(), POLLIN, 0};
        if (::poll(&ready, 1, 50) == 1) {
            unsigned char query[512];
            sockaddr_storage peer{};
            socklen_t peerSize = sizeof peer;
            const ssize_t length = ::recvfrom(socket_.fd(), query, sizeof query, 0,
                                              reinterpret_cast<sockaddr*>(&peer), &peerSize);
            if (length > 0) {
                Held answer{Answer(query, static_cast<std::size_t>(length)),
                            {reinterpret_cast<unsigned char*>(&peer),
                             reinterpret_cast<unsigned char*>(&peer) + peerSize},
                            std::chrono::steady_clock::now() + kLongestHold};
                std::lock_guard<std::mutex> lock(mutex_);
                if (answer.reply.empty()) {
                    continue;
                }
                if (hold_) {
                    held_.push_back(std::move(answer));
                } else {
                    Send(answer);
                }
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        const auto due = std::stable_partition(held_.begin(), held_.end(),
                                               [&](const Held& held) { return held.due > now; });
        std::for_each(due, held_.end(), [this](const Held& held) { Send(held); });
        held_.erase(due, held_.end());
    }
}

// The reply to one question: the question again, then every address of the
// asked family; empty for a message that is no single question.
std::vector<unsigned char> PrivateNameServer::Answer(const unsigned char* query,
                                                     std::size_t length) const {
    if (length < kHeaderSize || query[4] != 0 || query[5] != 1) {
        return {};
    }
    std::string name;
    std::size_t at = kHeaderSize;
    while (at < length && query[at] != 0) {
        const std::size_t label = query[at];
        if (label > 63 || at + 1 + label >= length) {
            return {};
        }
        if (!name.empty()) {
            name += '.';
        }
        for (std::size_t i = 0; i < label; ++i) {
            name += static_cast<char>(std::tolower(query[at + 1 + i]));
        }
        at += 1 + label;
    }
    const std::size_t questionEnd = at + 1 + 4;  // the root label, type and class
    if (questionEnd > length) {
        return {};
    }
    const auto type = static_cast<std::uint16_t>(query[at + 1] << 8 | query[at + 2]);

    std::vector<std::vector<unsigned char>> records;
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = names_.find(name);
        known = found != names_.end();
        for (const std::string& text : known ? found->second : std::vector<std::string>{}) {
            unsigned char bytes[16];
            if (type == kTypeA && ::inet_pton(AF_INET, text.c_str(), bytes) == 1) {
                records.emplace_back(bytes, bytes + 4);
            } else if (type == kTypeAAAA && ::inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
                records.emplace_back(bytes, bytes + 16);
            }
        }
    }

    std::vector<unsigned char> reply(query, query + 2);  // its id
    reply.push_back(0x81);                               // an answer; recursion asked
    reply.push_back(known ? 0x80 : 0x83);                // recursion offered; else no such name
    Put16(reply, 1);
    Put16(reply, static_cast<std::uint16_t>(records.size()));
    Put16(reply, 0);
    Put16(reply, 0);
    reply.insert(reply.end(), query + kHeaderSize, query + questionEnd);
    for (const auto& record : records) {
        Put16(reply, 0xc000 | kHeaderSize);  // the name, as in the question
        Put16(reply, type);
        Put16(reply, 1);  // class IN
        Put16(reply, 0);  // time to live 0: never kept
        Put16(reply, 0);
        Put16(reply, static_cast<std::uint16_t>(record.size()));
        reply.insert(reply.end(), record.begin(), record.end());
    }
    return reply;
}

void PrivateNameServer::Send(const Held& answer) const {
    ::sendto(socket_.fd(), answer.reply.data(), answer.reply.size(), 0,
             reinterpret_cast<const sockaddr*>(answer.peer.data()),
             static_cast<socklen_t>(answer.peer.size()));
}
