// One end of a sealed link over loopback TCP, for the test against another
// Noise implementation. The initiator connects, the responder listens on
// 127.0.0.1 at a free port and prints "port N" first. Once the link is open
// it sends the file's bytes, its end marker and a half-close, while it reads
// everything the other end sends until that end closes; then it prints the
// SHA-256 of what it read. Any link error is printed by name, exit status 1.
//   seal_peer initiator PORT KEY_FILE SEND_FILE
//   seal_peer responder KEY_FILE SEND_FILE
#include <arpa/inet.h>
#include <gcrypt.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "seal/link_sealer.h"

namespace {

using Blob = std::vector<std::uint8_t>;

Blob ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return Blob(std::istreambuf_iterator<char>(file), {});
}

bool SendAll(int fd, const Blob& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    return fd;
}

int AcceptOne() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return -1;
    }
    std::printf("port %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    const int fd = accept(listener, nullptr, nullptr);
    close(listener);
    return fd;
}

int Fail(const char* what) {
    std::fprintf(stderr, "seal_peer: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool initiator = argc == 5 && std::string(argv[1]) == "initiator";
    const bool responder = argc == 4 && std::string(argv[1]) == "responder";
    if (!initiator && !responder)
        return Fail("bad arguments");
    const Blob key_text = ReadFile(argv[initiator ? 3 : 2]);
    const Blob to_send = ReadFile(argv[initiator ? 4 : 3]);
    auto key = seal::ParseLinkKey(std::string(key_text.begin(), key_text.end()));
    if (auto* error = std::get_if<std::string>(&key))
        return Fail(error->c_str());

    const int fd = initiator ? Connect(std::stoi(argv[2])) : AcceptOne();
    if (fd < 0)
        return Fail("no connection");

    std::mutex lock;  // the sealer is not shared between threads by design; this program does
    seal::LinkSealer sealer(initiator ? seal::Role::initiator : seal::Role::responder,
                            std::get<seal::LinkKey>(key));
    Blob received;
    std::uint8_t buffer[16384];
    std::thread sender;
    bool started = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!SendAll(fd, sealer.TakeOutput()))
                return Fail("send failed");
            if (sealer.Open() && !started) {
                started = true;
                sender = std::thread([&] {
                    for (std::size_t at = 0; at < to_send.size(); at += 100000) {
                        const std::size_t n = std::min<std::size_t>(100000, to_send.size() - at);
                        std::lock_guard<std::mutex> inner(lock);
                        sealer.Seal({to_send.data() + at, n});
                        if (!SendAll(fd, sealer.TakeOutput()))
                            return;
                    }
                    std::lock_guard<std::mutex> inner(lock);
                    sealer.SealEnd();
                    if (SendAll(fd, sealer.TakeOutput()))
                        shutdown(fd, SHUT_WR);
                });
            }
        }
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0)
            return Fail("recv failed");
        std::lock_guard<std::mutex> guard(lock);
        const auto error = n == 0 ? sealer.PeerClosed()
                                  : sealer.Receive({buffer, static_cast<std::size_t>(n)}, received);
        if (error) {
            std::fprintf(stderr, "seal_peer: %s\n",
                         std::string(seal::LinkErrorName(*error)).c_str());
            std::_Exit(1);  // the sender thread may still run; this is a test tool
        }
        if (n == 0)
            break;
    }
    if (sender.joinable())
        sender.join();
    close(fd);

    std::uint8_t digest[32];
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest, received.data(), received.size());
    std::printf("received %zu sha256 ", received.size());
    for (auto b : digest) std::printf("%02x", b);
    std::printf("\n");
    return 0;
}
