#include "mail/oauth/oauth_client.h"

#include "base/charset/base64.h"
#include "base/global_lock.h"
#include "mail/net/mail_connect.h"
#include "store/data_file.h"
#include "store/mail_security.h"
#include "store/user_record.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <curl/curl.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string base64url(const unsigned char* bytes, size_t n) {
    std::string out(static_cast<size_t>(base64_encoded_size(static_cast<int>(n))), '\0');
    out.resize(static_cast<size_t>(
        base64_encode(out.data(), reinterpret_cast<const char*>(bytes), static_cast<int>(n))));
    for (char& ch : out) ch = ch == '+' ? '-' : ch == '/' ? '_' : ch;
    while (!out.empty() && out.back() == '=') out.pop_back();
    return out;
}

std::string random_text(size_t bytes) {
    unsigned char buffer[64];
    if (bytes > sizeof buffer) bytes = sizeof buffer;
    if (RAND_bytes(buffer, static_cast<int>(bytes)) != 1) return {};
    return base64url(buffer, bytes);
}

bool loopback_host(const std::string& host) {
    if (host == "[::1]") return true;
    in_addr a{};
    return inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

size_t collect(char* data, size_t size, size_t count, void* out) {
    std::string& body = *static_cast<std::string*>(out);
    // An answer of a token endpoint is a small JSON object; anything larger
    // is not one.
    if (body.size() + size * count > 256 * 1024) return 0;
    body.append(data, size * count);
    return size * count;
}

// The administrator's authorities join the system's ones instead of
// replacing them, as for the mail servers.
CURLcode add_authorities(CURL*, void* sslCtx, void* caFile) {
    const char* file = static_cast<const char*>(caFile);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslCtx));
    if (store && X509_STORE_load_locations(store, file, nullptr) != 1)
        return CURLE_SSL_CACERT_BADFILE;
    return CURLE_OK;
}

// Within the time a page waits for its worker, so a slow endpoint ends in
// the page's own error rather than the dispatcher's time-out.
int endpoint_timeout() {
    return std::clamp(workerTimeoutSeconds - 1, 1, 20);
}

std::string int_text(int64_t v) {
    return std::to_string(v);
}

} // namespace

std::string xoauth2_response(const std::string& user, const std::string& token) {
    const std::string plain = "user=" + user + "\x01" + "auth=Bearer " + token + "\x01\x01";
    std::string out(static_cast<size_t>(base64_encoded_size(static_cast<int>(plain.size()))), '\0');
    out.resize(static_cast<size_t>(
        base64_encode(out.data(), plain.data(), static_cast<int>(plain.size()))));
    return out;
}

std::string xoauth2_challenge_text(const char* base64, size_t max) {
    const int n = static_cast<int>(strlen(base64));
    std::string decoded(static_cast<size_t>(base64_decoded_max(n)), '\0');
    decoded.resize(static_cast<size_t>(base64_decode(decoded.data(), base64, n)));
    std::string text;
    for (unsigned char ch : decoded)
        if (ch >= 0x20 && ch != 0x7F && text.size() < max) text += static_cast<char>(ch);
    return text;
}

std::string pkce_verifier() {
    return random_text(32);
}

std::string pkce_challenge(const std::string& verifier) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    return base64url(digest, length);
}

std::string oauth_random_state() {
    return random_text(24);
}

bool oauth_url_allowed(const std::string& url) {
    if (url.rfind("https://", 0) == 0) return url.size() > 8;
    if (url.rfind("http://", 0) != 0) return false;
    const std::string rest = url.substr(7);
    std::string host;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        host = rest.substr(0, close + 1);
    } else {
        host = rest.substr(0, rest.find_first_of(":/?#"));
    }
    return loopback_host(host);
}

std::string form_escape(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        if (isalnum(ch) || ch == '-' || ch == '_' || ch == '.' || ch == '~') {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

std::string authorization_url(const OAuthProvider& p, const std::string& state,
                              const std::string& challenge) {
    std::string url = p.authUrl;
    url += p.authUrl.find('?') == std::string::npos ? '?' : '&';
    url += "response_type=code&client_id=" + form_escape(p.clientId) +
           "&redirect_uri=" + form_escape(p.redirectUrl) + "&scope=" + form_escape(p.scope) +
           "&state=" + form_escape(state) + "&code_challenge=" + form_escape(challenge) +
           "&code_challenge_method=S256";
    if (!p.authParams.empty()) url += "&" + p.authParams;
    return url;
}

TokenAnswer parse_token_answer(long status, const std::string& body) {
    TokenAnswer a;
    const nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
    auto text = [&](const char* key) {
        return j.is_object() && j.contains(key) && j[key].is_string() ? j[key].get<std::string>()
                                                                      : std::string();
    };
    if (!j.is_object()) {
        a.error = "HTTP " + std::to_string(status) + ": no JSON answer";
        return a;
    }
    a.access = text("access_token");
    a.refresh = text("refresh_token");
    if (j.contains("expires_in")) {
        const auto& e = j["expires_in"];
        // Some endpoints send the number as a string.
        if (e.is_number_integer()) a.expiresIn = e.get<int64_t>();
        if (e.is_string()) a.expiresIn = strtoll(e.get<std::string>().c_str(), nullptr, 10);
    }
    const std::string error = text("error");
    if (status == 200 && error.empty() && !a.access.empty()) {
        a.ok = true;
        if (a.expiresIn <= 0) a.expiresIn = 3600;
        return a;
    }
    a.error = error.empty() ? "HTTP " + std::to_string(status) : error;
    const std::string description = text("error_description");
    if (!description.empty()) a.error += ": " + description;
    return a;
}

TokenAnswer token_request(const OAuthProvider& p, const std::string& secret,
                          const std::vector<std::pair<std::string, std::string>>& form,
                          const std::string& caFile, int timeoutSeconds) {
    TokenAnswer a;
    if (!oauth_url_allowed(p.tokenUrl)) {
        a.error = "token URL refused (https, or http to a loopback address only): " + p.tokenUrl;
        return a;
    }
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        a.error = "no HTTP client";
        return a;
    }
    std::string body = "client_id=" + form_escape(p.clientId);
    if (!secret.empty()) body += "&client_secret=" + form_escape(secret);
    for (const auto& [key, value] : form) body += "&" + key + "=" + form_escape(value);
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, p.tokenUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    struct stat st {};
    if (!caFile.empty() && stat(caFile.c_str(), &st) == 0) {
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, add_authorities);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, caFile.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    const CURLcode r = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (r != CURLE_OK) {
        a.error = std::string("token endpoint not reached: ") + curl_easy_strerror(r);
        return a;
    }
    return parse_token_answer(status, answer);
}

std::string gateway_home() {
    const std::string& data = data_store().data_path;
    const size_t slash = data.rfind('/');
    return slash == std::string::npos ? "." : data.substr(0, slash);
}

bool set_uses_oauth(const UserRecord& user, int set) {
    return (user.set[set].mail_security & kSecurityOAuth) != 0;
}

void oauth_keep_providers(MailCredentials& store, const SettingsSet (&before)[kSettingsSets],
                          const UserRecord& user) {
    for (int k = 0; k < kSettingsSets; k++) {
        const SettingsSet &was = before[k], &now = user.set[k];
        if (!set_uses_oauth(user, k) || !now.id[0]) continue;
        if (!strcmp(before[0].id, user.set[0].id) && !strcmp(was.id, now.id) &&
            !strcmp(was.pop3_name, now.pop3_name))
            continue;
        const std::string name = store.get(before[0].id, was.id, was.pop3_name, kOAuthProviderName);
        std::string why;
        if (!name.empty() &&
            store.get(user.set[0].id, now.id, now.pop3_name, kOAuthProviderName).empty())
            store.put(user.set[0].id, now.id, now.pop3_name, kOAuthProviderName, name, why);
    }
}

bool oauth_token_for_set(UserRecord* user, int set, std::string& token, std::string& why) {
    std::string owner, id, server, provider, refresh, access;
    int64_t expiry = 0;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const MailCredentials& store = data_store().credentials;
        owner = user->set[0].id;
        id = user->set[set].id;
        server = user->set[set].pop3_name;
        provider = store.get(owner.c_str(), id.c_str(), server.c_str(), kOAuthProviderName);
        refresh = store.get(owner.c_str(), id.c_str(), server.c_str(), kOAuthRefreshName);
        access = store.get(owner.c_str(), id.c_str(), server.c_str(), kOAuthAccessName);
        expiry =
            strtoll(store.get(owner.c_str(), id.c_str(), server.c_str(), kOAuthExpiryName).c_str(),
                    nullptr, 10);
    }
    const int64_t now = static_cast<int64_t>(time(nullptr));
    if (!access.empty() && expiry - now > kOAuthRenewAheadSeconds) {
        token = access;
        return true;
    }
    if (refresh.empty()) {
        why = "OAuth2: the account is not connected (settings page)";
        return false;
    }
    const std::string home = gateway_home();
    const std::optional<OAuthProvider> p = find_oauth_provider(home, provider);
    if (!p) {
        why = "OAuth2: no provider \"" + provider + "\"";
        return false;
    }
    const TokenAnswer a =
        token_request(*p, load_oauth_secret(home, p->name),
                      {{"grant_type", "refresh_token"}, {"refresh_token", refresh}},
                      home + "/mail-ca.pem", endpoint_timeout());
    if (!a.ok) {
        why = "OAuth2 token endpoint: " + a.error;
        return false;
    }
    token = a.access;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    MailCredentials& store = data_store().credentials;
    std::string ignored;
    // Keyed by the mailbox read above: if the set changed meanwhile, the
    // entries belong to the old mailbox and go with the next prune.
    store.put(owner.c_str(), id.c_str(), server.c_str(), kOAuthAccessName, a.access, ignored);
    store.put(owner.c_str(), id.c_str(), server.c_str(), kOAuthExpiryName,
              int_text(now + a.expiresIn), ignored);
    if (!a.refresh.empty())
        store.put(owner.c_str(), id.c_str(), server.c_str(), kOAuthRefreshName, a.refresh, ignored);
    return true;
}
