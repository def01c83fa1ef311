// OAuth2 for the mail servers of a settings set: the SASL XOAUTH2 response,
// the pieces of the authorization-code flow with PKCE, and the token
// endpoint (code exchange and refresh) over HTTPS.
#pragma once
#include "store/oauth_providers.h"
#include "store/user_record.h"
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Names of a set's values in MailCredentials.
inline constexpr const char* kOAuthProviderName = "oauth-provider";
inline constexpr const char* kOAuthRefreshName = "oauth-refresh";
inline constexpr const char* kOAuthAccessName = "oauth-access";
inline constexpr const char* kOAuthExpiryName = "oauth-expiry"; // seconds since the epoch
// An access token this close to its end is renewed before an exchange.
inline constexpr int64_t kOAuthRenewAheadSeconds = 120;

// base64 of "user=" user "\x01auth=Bearer " token "\x01\x01".
std::string xoauth2_response(const std::string& user, const std::string& token);
// The text of a base64 challenge the server sends when it refuses a token
// (a JSON object), with control bytes left out, at most max bytes.
std::string xoauth2_challenge_text(const char* base64, size_t max = 400);

// 43 characters of base64url from 32 random bytes (RFC 7636), and its S256
// challenge.
std::string pkce_verifier();
std::string pkce_challenge(const std::string& verifier);
// An unguessable value for the state parameter.
std::string oauth_random_state();

// Endpoints are called over HTTPS; plain HTTP only to a loopback address
// (127.x.x.x or [::1]), never to a name that would need a lookup.
bool oauth_url_allowed(const std::string& url);

std::string form_escape(const std::string& text);
std::string authorization_url(const OAuthProvider& p, const std::string& state,
                              const std::string& challenge);

struct TokenAnswer {
    bool ok = false;
    std::string access, refresh;
    int64_t expiresIn = 0;
    std::string error; // the provider's error and its description, or why no answer came
};

// Reads the token endpoint's answer of HTTP status.
TokenAnswer parse_token_answer(long status, const std::string& body);

// POSTs form to the provider's token endpoint, with the client's id and
// secret, trusting caFile (when it exists) beside the system's authorities.
TokenAnswer token_request(const OAuthProvider& p, const std::string& secret,
                          const std::vector<std::pair<std::string, std::string>>& form,
                          const std::string& caFile, int timeoutSeconds);

// The home of the running gateway (for the provider list, secrets and
// mail-ca.pem).
std::string gateway_home();

// What a set's exchange logs in with: the access token for set of user,
// renewed at the token endpoint first when it ends within two minutes. Runs
// in a mail worker: the store is read and written under globalLock, the
// endpoint called outside it. False with why when there is no usable token.
bool oauth_token_for_set(UserRecord* user, int set, std::string& token, std::string& why);

// Whether set of user logs in with OAuth2.
bool set_uses_oauth(const UserRecord& user, int set);

class MailCredentials;
// After a change of user's sets (before: the sets as they were): a set that
// still logs in with OAuth2 but names another mailbox keeps its provider
// under the new mailbox. Its tokens stay behind: they are the old
// account's, and the next prune drops them. Callers hold globalLock.
void oauth_keep_providers(MailCredentials& store, const SettingsSet (&before)[kSettingsSets],
                          const UserRecord& user);
