#include "server/login/login.h"
#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/global_lock.h"
#include "base/text/messages.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "server/login/session_binding.h"
#include "store/data_file.h"
#include "store/login_throttle.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// Form fields a and b (user name and password) as the form reader stores them.
constexpr int kSlotA = 0;
constexpr int kSlotB = 2;

void IdErrorText(Connection& c) {
    OutputFormat(c, 0, "<font size=+1>ID error</font><br><br>  %s<br>",
                 Message(kMsgNoSuchUser, c.english));
    // Only a throttled login says so; a wrong password alone stays the
    // plain error, which tells a guesser nothing new.
    if (c.throttleWait > 0) {
        OutputText(c, "<br>  ", 0);
        OutputFormat(c, 0, Message(kMsgLoginWait, c.english), c.throttleWait);
        OutputText(c, "<br>", 0);
    }
}

} // namespace

UserRecord* CheckLogin(Connection& c) {
    if (c.userName[0] == '\0') return nullptr;
    LoginThrottle& throttle = login_throttle();
    const std::string address = ThrottleAddress(c.clientAddress);
    const auto now = LoginThrottle::Clock::now();
    // While a name or an address waits, even the right password is refused:
    // the answer must not tell a guesser anything.
    c.throttleWait = throttle.waitLeft(c.userName, address, now);
    if (c.throttleWait > 0) return nullptr;
    UserRecord* u;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        u = find_user(data_store().users, c.userName);
        if (u && !SecretEquals(u->set[0].password, sizeof u->set[0].password, c.password))
            u = nullptr;
    }
    if (u)
        throttle.succeeded(c.userName, address);
    else
        throttle.failed(c.userName, address, now);
    return u;
}

void FormLogin(Connection& c) {
    if (data_store().settings.browser_auth || c.auth != kAuthNone) return;
    sjis_copy(c.userName, c.formSlots[kSlotA]);
    sjis_copy(c.password, c.formSlots[kSlotB]);
    UserRecord* u = CheckLogin(c);
    if (!u || !OpenSession(c)) return;
    c.user = u;
    c.auth = kAuthOk;
    // The check stays valid from the list time on; a login whose first page
    // shows no list (POP3 down, no sent log yet) must not expire at once.
    u->runtime.listTime = static_cast<int32_t>(local_seconds());
    snprintf(c.loginQuery, sizeof c.loginQuery, "?user=%s?check=%d%s", c.userName,
             static_cast<int>(c.session.check), c.english ? "?lang=eng" : "");
}

void RefuseLogin(Connection& c) {
    if (data_store().settings.browser_auth) {
        SendRaw(c, "HTTP/1.0 401 Unauthorized\r\n");
        SendSafetyLines(c, true);
        // Credentials that were offered and rejected get no new challenge.
        if (c.auth != kAuthRejected)
            SendRaw(c, "WWW-Authenticate: BASIC realm=\"pop3 user name and password\"\r\n");
        SendRaw(c, "\r\n");
    } else {
        SendStatus(c, 404);
    }
    BeginPage(c, kPageHtml | kPageBody);
    IdErrorText(c);
    TopLink(c);
    EndPage(c, kPageHtml | kPageBody);
    c.state = PageState::Done;
}

void IdErrorAfterPost(Connection& c) {
    SendStatus(c, 200);
    BeginPage(c, kPageHtml | kPageBody);
    IdErrorText(c);
    c.state = PageState::Done;
}
