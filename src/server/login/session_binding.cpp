#include "server/login/session_binding.h"

#include "base/date/local_seconds.h"
#include "base/text/messages.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"
#include <cstdio>
#include <cstring>

namespace {

void ResetLoginQuery(Connection& c) {
    snprintf(c.loginQuery, sizeof c.loginQuery, "%s", c.english ? "?lang=eng" : "");
}

void UndoLogin(Connection& c) {
    c.user = nullptr;
    c.auth = kAuthNone;
    c.session.check = 0;
    ResetLoginQuery(c);
}

void BindAddressLogin(Connection& c, int64_t now) {
    // A browser authentication header decided already; its user stands.
    if (c.auth != kAuthOk || data_store().settings.browser_auth) return;
    if (!session_valid(c.userName, c.session.check, c.session.cookie, now)) UndoLogin(c);
}

void BindAttachment(Connection& c, int64_t now) {
    UserRecord* owner = c.session.attachmentOwner;
    bool allowed;
    if (data_store().settings.browser_auth)
        allowed = c.auth == kAuthOk && c.user == owner;
    else
        allowed = owner && session_of_browser(owner->set[0].id, c.session.cookie, now);
    if (allowed) {
        c.user = owner;
        c.auth = kAuthOk;
    } else {
        c.user = nullptr;
        c.auth = kAuthNone;
    }
}

} // namespace

void BindSession(Connection& c) {
    const int64_t now = local_seconds();
    if (c.session.pending == kSessionFromAddress) BindAddressLogin(c, now);
    if (c.session.pending == kSessionFromAttachment) BindAttachment(c, now);
    c.session.pending = kSessionNone;
}

bool CurrentFormToken(const Connection& c, SessionKeyText& out) {
    if (c.auth != kAuthOk || !c.user) return false;
    if (data_store().settings.browser_auth) {
        basic_form_token(c.userName, out);
        return true;
    }
    return session_form_token(c.userName, c.session.check, out);
}

bool PostFromOwnPage(const Connection& c) {
    SessionKeyText expected;
    return !c.crossSite && CurrentFormToken(c, expected) &&
           session_key_equal(expected.text, c.session.postedToken);
}

bool RequestFromOwnSite(const Connection& c) {
    return !c.crossSite;
}

void StaleFormPage(Connection& c) {
    SendStatus(c, 200);
    BeginPage(c, kPageHtml | kPageBody);
    OutputFormat(c, 0, "<font size=+1>%s</font><br><br>", Message(kMsgStaleForm, c.english));
    if (c.auth == kAuthOk) ListLink(c);
    TopLink(c);
    EndPage(c, kPageHtml | kPageBody);
    c.state = PageState::Done;
}

bool OpenSession(Connection& c) {
    SessionGrant grant;
    if (!session_open(c.userName, c.session.cookie, local_seconds(), grant)) return false;
    c.session.check = grant.check;
    memcpy(c.session.cookieToSet, grant.cookie.text, sizeof c.session.cookieToSet);
    return true;
}

void CloseSession(Connection& c) {
    if (data_store().settings.browser_auth || c.session.check == 0) return;
    if (!session_close(c.userName, c.session.check, local_seconds())) c.session.cookieClear = 1;
}
