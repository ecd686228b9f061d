// A real protocol through a relay pair: ssh and scp through a Client-mode
// vorlane-relay and a Server-mode one that share a link key, to a private
// sshd. ssh's own integrity checks fail loudly on any byte the link loses,
// doubles or changes, and a session mixes small interactive messages, bulk
// data both ways and a half-close at the end.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "relay_process.h"
#include "scratch_directory.h"
#include "seal/gcrypt_init.h"
#include "seal/link_key.h"
#include "ssh_server.h"

namespace {

using testing_support::ChildOptions;
using testing_support::ChildProcess;
using testing_support::ListeningRelay;
using testing_support::ScratchDirectory;
using testing_support::SshServer;

// A session and a 5 MB copy under a sanitizer on a loaded machine.
constexpr int kClientPatienceMs = 60000;

std::string RandomBytes(std::size_t count) {
    std::mt19937_64 generator(std::random_device{}());
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Sha256Hex(const std::string& bytes) {
    seal::EnsureGcryptReady();
    unsigned char digest[32];
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest, bytes.data(), bytes.size());
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0xF];
    }
    return hex;
}

class SshThroughPairTest : public testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = SshServer::MissingPrograms();
        if (!missing.empty()) {
            GTEST_SKIP() << "not installed: " << missing;
        }
        m_sshd = std::make_unique<SshServer>();
        ASSERT_TRUE(m_sshd->Listening()) << m_sshd->Failure();

        // Both ends read the same key from their config files, as deployed.
        const std::string key = "LinkKey=" + seal::FormatLinkKey(seal::GenerateLinkKey()) + "\n";
        m_server = std::make_unique<ListeningRelay>(
            m_sshd->Port(),
            std::vector<std::string>{
                "--config",
                m_files.WriteFile("server.ini", "[Vorlane]\n" + key + "EncodeServer=1\n")});
        ASSERT_TRUE(m_server->WaitUntilListening()) << m_server->Process().Stderr();
        m_client = std::make_unique<ListeningRelay>(
            m_server->Port(),
            std::vector<std::string>{
                "--config",
                m_files.WriteFile("client.ini", "[Vorlane]\n" + key + "EncodeClient=1\n")});
        ASSERT_TRUE(m_client->WaitUntilListening()) << m_client->Process().Stderr();
    }

    // ssh or scp with the server's options, run to its end; its exit code.
    int Run(const std::string& program, const std::string& portFlag,
            const std::vector<std::string>& arguments, std::string* output = nullptr) {
        ChildOptions options;
        options.argv = {program};
        const std::vector<std::string> common = m_sshd->ClientOptions();
        options.argv.insert(options.argv.end(), common.begin(), common.end());
        options.argv.insert(options.argv.end(), {portFlag, std::to_string(m_client->Port())});
        options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
        options.stopGraceMs = 0;
        ChildProcess client(options);
        const int code = client.WaitForExit(kClientPatienceMs).value_or(-1);
        if (output != nullptr) {
            *output = client.Stdout();
        }
        if (code != 0) {
            ADD_FAILURE() << program << " exited " << code << ": " << client.Stderr()
                          << "\nclient relay: " << m_client->Process().Stderr()
                          << "\nserver relay: " << m_server->Process().Stderr();
        }
        return code;
    }

    std::string Remote(const std::string& path) const {
        return m_sshd->User() + "@127.0.0.1:" + path;
    }

    ScratchDirectory m_files;
    std::unique_ptr<SshServer> m_sshd;
    std::unique_ptr<ListeningRelay> m_server;
    std::unique_ptr<ListeningRelay> m_client;
};

TEST_F(SshThroughPairTest, RunsACommandThroughThePair) {
    std::string output;
    ASSERT_EQ(Run("ssh", "-p", {"-n", m_sshd->User() + "@127.0.0.1", "echo hello"}, &output), 0);
    EXPECT_EQ(output, "hello\n");
}

TEST_F(SshThroughPairTest, CopiesAFileThereAndBackIntact) {
    const std::string original = RandomBytes(std::size_t{5} * 1000 * 1000);
    const std::string local = m_files.WriteFile("original", original);
    // sshd runs on this machine, so "there" is a path in the same directory.
    const std::string there = m_files.Path() + "/there";
    const std::string back = m_files.Path() + "/back";

    ASSERT_EQ(Run("scp", "-P", {local, Remote(there)}), 0);
    ASSERT_EQ(Run("scp", "-P", {Remote(there), back}), 0);

    const std::string expected = Sha256Hex(original);
    EXPECT_EQ(Sha256Hex(ReadFile(there)), expected);
    EXPECT_EQ(Sha256Hex(ReadFile(back)), expected);
}

}  // namespace
