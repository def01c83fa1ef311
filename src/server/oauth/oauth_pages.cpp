#include "server/oauth/oauth_pages.h"

#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/global_lock.h"
#include "base/text/markup_escape.h"
#include "base/text/messages.h"
#include "mail/oauth/oauth_client.h"
#include "page/output/common_links.h"
#include "page/output/not_found_page.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"
#include "store/user_table.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>

namespace {

constexpr size_t kMaxPending = 256;

std::mutex gPendingMutex;
std::deque<OAuthPending> gPending;

int64_t monotonic_seconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

int hex_value(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

std::string percent_decoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        const char ch = text[i];
        if (ch == '+') {
            out += ' ';
        } else if (ch == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
                   hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            out += ch;
        }
    }
    return out;
}

// Page text from a provider or the network: no control bytes, bounded.
std::string shown(const std::string& text) {
    std::string out;
    for (unsigned char ch : text)
        if (ch >= 0x20 && ch != 0x7F && out.size() < 400) out += static_cast<char>(ch);
    return out;
}

// The page of the callback: what happened, the reason when it failed, and
// the way back to the settings.
void ResultPage(Connection& c, int message, const std::string& detail) {
    const int e = c.english;
    SendStatus(c, 200);
    PageHead(c, Message(kMsgOAuthLogin, e));
    BeginPage(c, kPageBody | kPageCenter);
    OutputFormat(c, 0, "<font size=+1>%s</font><br>\r\n", Message(message, e));
    if (!detail.empty()) {
        OutputFormat(c, 0, "<br>%s<br>", Message(kMsgErrorMessage, e));
        OutputText(c, shown(detail).c_str(), kOutText);
        OutputText(c, "<br>\r\n", 0);
    }
    if (c.loginQuery[0] || data_store().settings.browser_auth) {
        SetupLinks(c);
        OutputText(c, "<br>", 0);
        ListLink(c);
    } else {
        TopLink(c);
    }
    EndPage(c, kPageCenter | kPageBody | kPageHtml);
}

// Sends the browser to the provider (a redirect, with the link on the
// page for a browser that does not follow it).
void Redirect(Connection& c, const std::string& url) {
    c.statusSent = 1;
    std::string head = "HTTP/1.0 302 Found\r\nConnection: close\r\nLocation: " + url +
                       "\r\nCache-Control: no-store\r\nContent-type: text/html; "
                       "charset=Shift_JIS\r\n\r\n";
    SendRaw(c, head.data(), head.size());
    const std::string link = MarkupEscape(url.c_str());
    OutputFormat(c, 0, "<html><body><a href=\"%s\">%s</a></body></html>", link.c_str(),
                 Message(kMsgOAuthConnect, c.english));
}

} // namespace

void OAuthConnectPage(Connection& c) {
    const int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    OAuthPending p;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const SettingsSet& s = c.user->set[set];
        if (!s.id[0] || !set_uses_oauth(*c.user, set)) {
            ResultPage(c, kMsgOAuthNotUsed, "");
            return;
        }
        p.owner = c.user->set[0].id;
        p.id = s.id;
        p.server = s.pop3_name;
        p.provider =
            data_store().credentials.get(p.owner.c_str(), s.id, s.pop3_name, kOAuthProviderName);
        p.loginCheck = c.session.check;
    }
    const std::optional<OAuthProvider> provider = find_oauth_provider(gateway_home(), p.provider);
    if (!provider) {
        char text[256];
        snprintf(text, sizeof text, Message(kMsgOAuthNoProvider, c.english), p.provider.c_str());
        ResultPage(c, kMsgOAuthFailed, text);
        return;
    }
    p.state = oauth_random_state();
    p.verifier = pkce_verifier();
    if (p.state.empty() || p.verifier.empty()) {
        ResultPage(c, kMsgOAuthFailed, "no random bytes");
        return;
    }
    p.set = set;
    p.loginQuery = c.loginQuery;
    p.english = c.english;
    p.created = monotonic_seconds();
    oauth_remember(p);
    Redirect(c, authorization_url(*provider, p.state, pkce_challenge(p.verifier)));
}

// The provider's answer. The state stands for the login that asked: taken
// once, young, and its user still logged in with the same session.
void OAuthCallbackPage(Connection& c) {
    const std::string query = c.deleteList;
    OAuthPending p;
    if (!oauth_take(oauth_query_value(query, "state"), monotonic_seconds(), p)) {
        ResultPage(c, kMsgOAuthStateInvalid, "");
        return;
    }
    c.english = static_cast<uint16_t>(p.english);
    bool same = false;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        UserRecord* u = find_user(data_store().users, p.owner.c_str());
        // With the browser's own authentication the callback carries the
        // credentials of the same user; else the session that asked must
        // still be live (its logout ends it). The provider's redirect is
        // another site's request, so the strict cookie is not sent: the
        // state, taken once, stands for the browser instead.
        const bool session =
            u && (data_store().settings.browser_auth
                      ? c.auth == kAuthOk && c.user == u
                      : session_live(p.owner.c_str(), p.loginCheck, local_seconds()));
        same = session && p.id == u->set[p.set].id && p.server == u->set[p.set].pop3_name &&
               set_uses_oauth(*u, p.set);
        if (session) {
            c.user = u;
            c.session.check = p.loginCheck;
            snprintf(c.loginQuery, sizeof c.loginQuery, "%s", p.loginQuery.c_str());
            sjis_copy(c.userName, u->set[0].id);
        }
    }
    if (!same) {
        ResultPage(c, kMsgOAuthStateInvalid, "");
        return;
    }
    const std::string error = oauth_query_value(query, "error");
    const std::string code = oauth_query_value(query, "code");
    if (!error.empty() || code.empty()) {
        const std::string description = oauth_query_value(query, "error_description");
        ResultPage(c, kMsgOAuthFailed,
                   (error.empty() ? "no code" : error) +
                       (description.empty() ? "" : ": " + description));
        return;
    }
    const std::string home = gateway_home();
    const std::optional<OAuthProvider> provider = find_oauth_provider(home, p.provider);
    if (!provider) {
        char text[256];
        snprintf(text, sizeof text, Message(kMsgOAuthNoProvider, c.english), p.provider.c_str());
        ResultPage(c, kMsgOAuthFailed, text);
        return;
    }
    // Outside the lock: the token endpoint is network traffic.
    const TokenAnswer a = token_request(*provider, load_oauth_secret(home, provider->name),
                                        {{"grant_type", "authorization_code"},
                                         {"code", code},
                                         {"redirect_uri", provider->redirectUrl},
                                         {"code_verifier", p.verifier}},
                                        home + "/mail-ca.pem", 20);
    if (!a.ok) {
        ResultPage(c, kMsgOAuthFailed, "OAuth2 token endpoint: " + a.error);
        return;
    }
    std::string why;
    bool stored = true;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        MailCredentials& store = data_store().credentials;
        const char *o = p.owner.c_str(), *i = p.id.c_str(), *s = p.server.c_str();
        const std::string expiry =
            std::to_string(static_cast<int64_t>(time(nullptr)) + a.expiresIn);
        stored = store.put(o, i, s, kOAuthAccessName, a.access, why) &&
                 store.put(o, i, s, kOAuthExpiryName, expiry, why) &&
                 (a.refresh.empty() || store.put(o, i, s, kOAuthRefreshName, a.refresh, why));
    }
    if (!stored) {
        ResultPage(c, kMsgOAuthFailed, why);
        return;
    }
    ResultPage(c, kMsgOAuthDone, "");
}

void oauth_remember(const OAuthPending& p) {
    std::lock_guard<std::mutex> hold(gPendingMutex);
    std::erase_if(gPending, [&](const OAuthPending& q) {
        return p.created - q.created > kOAuthStateSeconds;
    });
    while (gPending.size() >= kMaxPending) gPending.pop_front();
    gPending.push_back(p);
}

bool oauth_take(const std::string& state, int64_t now, OAuthPending& out) {
    if (state.empty()) return false;
    std::lock_guard<std::mutex> hold(gPendingMutex);
    for (auto it = gPending.begin(); it != gPending.end(); ++it) {
        if (it->state != state) continue;
        out = *it;
        gPending.erase(it);
        return now - out.created <= kOAuthStateSeconds;
    }
    return false;
}

std::string oauth_query_value(const std::string& query, const char* name) {
    const std::string key = std::string(name) + "=";
    size_t at = 0;
    while (at <= query.size()) {
        const size_t end = std::min(query.find('&', at), query.size());
        if (query.compare(at, key.size(), key) == 0)
            return percent_decoded(query.substr(at + key.size(), end - at - key.size()));
        at = end + 1;
    }
    return {};
}

void oauth_route(Connection& c, const char* rest) {
    c.route = Route::NotFound;
    if (strncmp(rest, "connect", 7) == 0 && rest[7] >= '1' && rest[7] <= '3' &&
        (rest[8] == '\0' || rest[8] == ' ' || rest[8] == '?')) {
        const int set = rest[7] - '1';
        if (set > 0 && !data_store().settings.multiple_addresses) return;
        c.route = Route::OAuthConnect;
        c.settingsIndex = static_cast<int16_t>(set);
        return;
    }
    if (strncmp(rest, "callback", 8) == 0 && (rest[8] == '?' || rest[8] == ' ' || !rest[8])) {
        c.route = Route::OAuthCallback;
        const char* q = rest[8] == '?' ? rest + 9 : "";
        const size_t n = strcspn(q, " ");
        snprintf(c.deleteList, sizeof c.deleteList, "%.*s", static_cast<int>(n), q);
    }
}
