// Shared pieces of the page tests: a gateway with fresh html, temp and user
// folders, default settings, users on demand, and connections whose answers
// are captured instead of sent.
#pragma once
#include "account/settings_page.h"
#include "base/console_text.h"
#include "base/date/local_seconds.h"
#include "base/server_paths.h"
#include "mail/net/mail_connect.h"
#include "page/connection.h"
#include "scratch_folder.h"
#include "server/form/form_reader.h"
#include "server/remote/remote_page.h"
#include "server/request/request_reader.h"
#include "server/route/dispatcher.h"
#include "server/route/evaluate.h"
#include "server/route/route_request.h"
#include "server/server_cases.h"
#include "store/data_file.h"
#include "store/login_sessions.h"
#include "store/login_throttle.h"
#include <arpa/inet.h>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>

struct ConnectionDeleter {
    void operator()(Connection* c) const { FreeConnection(c); }
};
using ConnectionPtr = std::unique_ptr<Connection, ConnectionDeleter>;

// The script hashes of the policy line masked: which page families a test
// binary registered changes them (their own test checks them).
inline std::string MaskScripts(std::string s) {
    const size_t scripts = s.find("script-src ");
    if (scripts != std::string::npos && scripts < s.find("\r\n\r\n"))
        s.replace(scripts + 11, s.find(';', scripts) - scripts - 11, "*");
    return s;
}

// The values of the Date and Last-Modified lines become "*": they carry the
// time of the answer. The script hashes are masked too.
inline std::string MaskDates(std::string s) {
    for (const char* name : {"\r\nDate: ", "\r\nLast-Modified: "}) {
        size_t at = s.find(name);
        if (at == std::string::npos) continue;
        size_t start = at + strlen(name);
        s.replace(start, s.find("\r\n", start) - start, "*");
    }
    return MaskScripts(s);
}

inline std::string Sjis(const char* utf8) {
    std::string out;
    EXPECT_TRUE(utf8_to_sjis(utf8, out)) << utf8;
    return out;
}

// The session key a logged-in test browser sends.
inline constexpr char kTestCookie[] = "0123456789abcdef0123456789abcdef";
inline const std::string kCookieLine = std::string("Cookie: tarnbox=") + kTestCookie + "\r\n";
// ... and the form token of that session, as a post of its forms begins.
inline constexpr char kTestFormToken[] = "fedcba9876543210fedcba9876543210";
inline const std::string kPostedToken = std::string("csrf=") + kTestFormToken + "&";
// The login query of taro's pages in English.
inline const std::string kQ = "?user=taro?check=5?lang=eng";

// A POST whose Content-length counts exactly the body.
inline std::string Post(const std::string& path, const std::string& headers,
                        const std::string& body) {
    return "POST " + path + " HTTP/1.0\r\n" + headers +
           "Content-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One decoded urlencoded line of a form body.
inline void FormField(Connection& c, const std::string& line) {
    server_cases::Put(c.line, line);
    FormLine(c);
}

// A route or page state by its name in a case file.
template <typename T, size_t N>
T ValueNamed(const std::pair<const char*, T> (&names)[N], const std::string& name, const char* what,
             T missing) {
    for (const auto& [n, v] : names)
        if (name == n) return v;
    ADD_FAILURE() << "no " << what << " " << name;
    return missing;
}

#define NAMED(name) std::pair<const char*, T>(#name, T::name)
inline ::Route RouteNamed(const std::string& name) {
    using T = ::Route;
    static const std::pair<const char*, T> kNames[] = {
        NAMED(Top),          NAMED(NewUser),    NAMED(Setup),       NAMED(Mail),
        NAMED(Write),        NAMED(Logout),     NAMED(SetupDelete), NAMED(Book),
        NAMED(Sent),         NAMED(Attachment), NAMED(Static),      NAMED(StaticHead),
        NAMED(Remote),       NAMED(MailAsText), NAMED(NotFound),    NAMED(OAuthConnect),
        NAMED(OAuthCallback)};
    return ValueNamed(kNames, name, "route", ::Route::NotFound);
}

inline PageState StateNamed(const std::string& name) {
    using T = PageState;
    // clang-format off
    static const std::pair<const char*, T> kNames[] = {
        NAMED(TopPage), NAMED(ListWait), NAMED(MessageWait), NAMED(DeleteWait), NAMED(TextWait),
        NAMED(ComposePage), NAMED(SentListPage), NAMED(SentMessagePage), NAMED(SentDeletePage),
        NAMED(SendWait), NAMED(RemotePage), NAMED(NewUserPage), NAMED(NewUserSubmit),
        NAMED(AddressErrorPage), NAMED(SetupDeleteSubmit), NAMED(Receiving), NAMED(Done),
        NAMED(SetupPage), NAMED(SetupSubmit)};
    // clang-format on
    return ValueNamed(kNames, name, "page state", PageState::Done);
}
#undef NAMED

// A client address given as text, IPv4 or IPv6.
inline sockaddr_storage AddressOf(const char* text) {
    sockaddr_storage a{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1)
        v4->sin_family = AF_INET;
    else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1)
        v6->sin6_family = AF_INET6;
    return a;
}

inline int32_t Now() {
    return static_cast<int32_t>(local_seconds());
}

class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Thousands of request runs create and remove upload files:
        // memory-backed folders keep that cheap where there are any.
        home = MakeScratchFolder("page", {"html", "temp", "user"},
                                 access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        ASSERT_FALSE(home.empty());
        server_paths() = ServerPaths{home, home + "/html", home + "/temp", home + "/user"};
        DataStore& ds = data_store();
        ds.data_path = home + "/tarnbox.dat";
        ds.user_folder = home + "/user";
        set_default_settings(ds.settings, ds.user_folder.c_str());
        clear_users(ds.users);
        serviceActive = 1;
        ResetHooks();
        login_throttle().clear();
        session_close_all();
    }
    void TearDown() override {
        clear_users(data_store().users);
        ResetHooks();
        serviceActive = 1;
        std::filesystem::remove_all(home);
    }
    static void ResetHooks() {
        // No page test reaches a mail server: an exchange fails to connect.
        worker_starts() = {};
        settings_workers() = {};
        workerTimeoutSeconds = 30;
    }
    static BasicSettings& settings() { return data_store().settings; }
    UserRecord* AddUser(const std::string& id) {
        auto* r = new UserRecord;
        server_cases::Put(r->set[0].id, id);
        server_cases::Put(r->set[0].password, "pw");
        server_cases::Put(r->set[0].mail_address, id + "@example.jp");
        append_user(data_store().users, r);
        return r;
    }
    // Check number 5 with the browser's cookie kTestCookie, list shown a
    // minute ago.
    UserRecord* LoggedIn(const char* id) {
        UserRecord* u = AddUser(id);
        session_insert(id, 5, kTestCookie, Now() - 60, kTestFormToken);
        u->runtime.listTime = Now() - 60;
        return u;
    }
    // Offers file_name of u's temp folder as attachment message_name,
    // holding bytes unless null.
    void Attach(UserRecord* u, const char* file_name, const std::string& message_name,
                const char* bytes = nullptr) {
        AttachmentEntry& a = u->runtime.attachments[u->runtime.attachmentCount++];
        server_cases::Put(a.file_name, file_name);
        server_cases::Put(a.message_name, message_name);
        if (bytes) WriteFile(home + "/temp/" + u->set[0].id + "/" + file_name, bytes);
    }
    ConnectionPtr Capture(int english = 1) {
        ConnectionPtr c(NewConnection(-1));
        c->captureForTest = &out;
        c->english = static_cast<uint16_t>(english);
        return c;
    }
    // A request of taro's (kQ) at route r.
    ConnectionPtr Of(UserRecord* u, ::Route r = ::Route::Mail) {
        ConnectionPtr c = Capture();
        c->user = u;
        c->route = r;
        server_cases::Put(c->userName, u->set[0].id);
        server_cases::Put(c->loginQuery, kQ);
        return c;
    }
    void Route(Connection& c, std::string requestLine) { RouteRequest(c, requestLine.data()); }
    // Runs the dispatcher until the page is done, or passes run out.
    static void Produce(Connection& c, int passes = 20) {
        for (int pass = 0; pass < passes && c.state != PageState::Done; pass++) Dispatcher(c);
    }
    // A whole request fed at once, from client address from if given; the
    // connection as it stands afterwards, what it answered so far in out.
    ConnectionPtr Feed(const std::string& request, int english = 1, const char* from = nullptr) {
        out.clear();
        ConnectionPtr c = Capture(english);
        if (from) c->clientAddress = AddressOf(from);
        EXPECT_EQ(FeedBytes(*c, request.data(), static_cast<int>(request.size())), 1);
        return c;
    }
    // Its whole answer, done in at most passes, dates masked.
    std::string Answer(const std::string& request, int english = 1, int passes = 20,
                       const char* from = nullptr) {
        ConnectionPtr c = Feed(request, english, from);
        Produce(*c, passes);
        EXPECT_EQ(c->state, PageState::Done);
        return MaskDates(out);
    }

    std::string home;
    std::string out;
    UserRecord* taro = nullptr; // of the tests that log him in
};
