#include "base/https_context.h"
#include "page/client_stream.h"
#include "scratch_folder.h"
#include "server/listener/listener.h"
#include "server/server_cases.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class HttpsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeScratchFolder("https");
        ASSERT_FALSE(dir.empty());
        cert = dir + "/cert.pem";
        key = dir + "/key.pem";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    HttpsProblem Load() {
        HttpsSetup s = https_load(cert, key);
        EXPECT_EQ(s.context != nullptr, s.problem == HttpsProblem::None);
        SSL_CTX_free(s.context);
        return s.problem;
    }
    std::string dir, cert, key;
};

// The names of the certificate, as the library prints them.
std::string SubjectAltNames(const std::string& path) {
    FILE* f = fopen(path.c_str(), "r");
    X509* x = f ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) fclose(f);
    if (!x) return "no certificate";
    BIO* text = BIO_new(BIO_s_mem());
    X509V3_EXT_print(text, X509_get_ext(x, X509_get_ext_by_NID(x, NID_subject_alt_name, -1)), 0, 0);
    char* bytes = nullptr;
    const long n = BIO_get_mem_data(text, &bytes);
    const std::string names(bytes, static_cast<size_t>(n));
    BIO_free(text);
    X509_free(x);
    return names;
}

// Making a pair where none is is also the serve start integration test's.
TEST_F(HttpsFiles, SelfSignedKeepsWhatIsThereAndRefusesOddNames) {
    WriteFile(key, "old key");
    EXPECT_NE(https_make_self_signed({"127.0.0.1"}, 30, cert, key, false), "");
    EXPECT_EQ(golden::read(key), "old key");
    EXPECT_EQ(access(cert.c_str(), F_OK), -1) << "nothing is written when one file exists";
    ASSERT_EQ(https_make_self_signed({"127.0.0.1", "mail.example.jp"}, 30, cert, key, true), "");
    EXPECT_EQ(Load(), HttpsProblem::None);
    EXPECT_EQ(SubjectAltNames(cert), "IP Address:127.0.0.1, DNS:mail.example.jp");
    // No temporary file is left beside them.
    auto files = std::filesystem::directory_iterator(dir);
    EXPECT_EQ(std::distance(begin(files), end(files)), 2);
    // Missing files, unmatched keys, keys that are not PEM or carry a
    // passphrase are refused by their messages in the serve start
    // integration test.
    const std::string good = key;
    key = dir;
    EXPECT_EQ(Load(), HttpsProblem::KeyUnreadable) << "a folder is no key file";
    key = good;
    WriteFile(cert, "hello\n");
    EXPECT_EQ(Load(), HttpsProblem::CertificateNotPem);
    for (const auto& k : SERVER_CASES("cases/self_signed.ref")) {
        const std::vector<std::string> names(k.begin() + 2, k.end());
        EXPECT_EQ(https_make_self_signed(names, std::stoi(k.at(0)), cert, key, true) == "",
                  k.at(1) == "1")
            << testing::PrintToString(names);
    }
}

// A gateway connection on one end of a socket pair, a TLS client on the
// other, the handshake done.
class TlsPair : public HttpsFiles {
protected:
    void SetUp() override {
        HttpsFiles::SetUp();
        signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(https_make_self_signed({"127.0.0.1"}, 30, cert, key, false), "");
        HttpsSetup s = https_load(cert, key);
        ASSERT_NE(s.context, nullptr);
        serverContext = s.context;
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        c = NewConnection(ends[0]);
        ASSERT_TRUE(ClientTlsAttach(c->client, serverContext));
        clientContext = SSL_CTX_new(TLS_client_method());
        client = SSL_new(clientContext);
        SSL_set_fd(client, ends[1]);
        clientSocket = ends[1];
        // A broken stream fails the test instead of hanging it.
        timeval t{10, 0};
        setsockopt(clientSocket, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        std::thread browser([this] { connected = SSL_connect(client) == 1; });
        int r = 0;
        for (int i = 0; i < 10 && r == 0; i++) r = ClientTlsAcceptStep(c->client);
        browser.join();
        ASSERT_EQ(r, 1);
        ASSERT_TRUE(connected);
        ASSERT_TRUE(ClientTlsReady(c->client));
    }
    void TearDown() override {
        SSL_free(client);
        SSL_CTX_free(clientContext);
        close(clientSocket);
        close(c->client.socket);
        FreeConnection(c);
        SSL_CTX_free(serverContext);
        HttpsFiles::TearDown();
    }
    // Reads from the client side until n bytes arrived or the stream ends.
    std::string ClientRead(size_t n) {
        std::string got;
        char buf[16384];
        while (got.size() < n) {
            int k = SSL_read(client, buf, sizeof buf);
            if (k <= 0) break;
            got.append(buf, static_cast<size_t>(k));
        }
        return got;
    }

    Connection* c = nullptr;
    SSL_CTX* serverContext = nullptr;
    SSL_CTX* clientContext = nullptr;
    SSL* client = nullptr;
    int clientSocket = -1;
    bool connected = false;
};

TEST_F(TlsPair, WritersOfTwoThreadsNeverMixRecords) {
    // The connection's thread and a mail worker may both write a page.
    constexpr int kPieces = 300;
    std::string a(1000, 'a'), b(1000, 'b');
    std::thread first([&] {
        for (int i = 0; i < kPieces; i++) EXPECT_TRUE(ClientSend(c->client, a.data(), a.size()));
    });
    std::thread second([&] {
        for (int i = 0; i < kPieces; i++) EXPECT_TRUE(ClientSend(c->client, b.data(), b.size()));
    });
    std::string got = ClientRead(2 * kPieces * 1000);
    shutdown(clientSocket, SHUT_RDWR); // writers left waiting give up
    first.join();
    second.join();
    ASSERT_EQ(got.size(), 2u * kPieces * 1000);
    EXPECT_EQ(std::count(got.begin(), got.end(), 'a'), kPieces * 1000);
}

TEST_F(TlsPair, CloseSendsTheNoticeAndLateWritesFail) {
    ASSERT_TRUE(ClientSend(c->client, "page", 4));
    ClientTlsClose(c->client);
    EXPECT_FALSE(ClientSend(c->client, "late", 4));
    EXPECT_EQ(ClientRead(100), "page");
    EXPECT_EQ(SSL_get_error(client, SSL_read(client, nullptr, 0)), SSL_ERROR_ZERO_RETURN)
        << "a whole page ends with the close notice";
}

TEST(ListenEndpoint, AddressAndPort) {
    for (const auto& k : SERVER_CASES("cases/listen.ref")) {
        SCOPED_TRACE(k.at(0));
        ListenEndpoint e;
        e.port = 7;
        const bool taken = k.at(1) != "-";
        ASSERT_EQ(ParseListenEndpoint(k.at(0).c_str(), e), taken);
        if (!taken) {
            EXPECT_EQ(e.port, 7) << "a refused text changes nothing";
            continue;
        }
        EXPECT_EQ(e.port, std::stoi(k.at(2)));
        if (k.at(1) == "0") {
            EXPECT_EQ(e.length, 0u);
            continue;
        }
        EXPECT_EQ(e.address.ss_family, k.at(1) == "ipv4" ? AF_INET : AF_INET6);
        EXPECT_STREQ(e.urlHost, k.at(3).c_str());
    }
}

} // namespace
