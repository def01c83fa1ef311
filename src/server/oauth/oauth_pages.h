// The browser's part of connecting a settings set to its OAuth2 provider:
// /mail/oauth/connect<N> (logged in) sends the browser to the provider, and
// the provider sends it back to /mail/oauth/callback with a code, which the
// gateway exchanges for the tokens.
#pragma once
#include "page/connection.h"
#include <cstdint>
#include <string>

// A pending connect: what the callback's state parameter stands for. Taken
// once, valid for kOAuthStateSeconds.
struct OAuthPending {
    std::string state;
    std::string verifier;
    std::string owner; // Settings 1 POP3 id of the gateway user
    int set = 0;
    std::string id, server; // the mailbox the tokens are for
    int32_t loginCheck = 0; // the login session that asked
    std::string loginQuery;
    std::string provider;
    int english = 0;
    int64_t created = 0; // monotonic seconds
};

inline constexpr int64_t kOAuthStateSeconds = 600;

// Keeps p under its state; the oldest entries make room beyond a few hundred.
void oauth_remember(const OAuthPending& p);
// Removes and returns the entry of state when it exists and is young enough.
bool oauth_take(const std::string& state, int64_t now, OAuthPending& out);

// Reads "code", "state" and "error" of a callback query ("a=b&c=d"),
// percent-decoded.
std::string oauth_query_value(const std::string& query, const char* name);

// The path part after /mail/oauth/: "connect1".."connect3" or "callback?...".
// Sets c.route (and c.settingsIndex), keeping the callback's query in
// c.deleteList.
void oauth_route(Connection& c, const char* rest);

// The redirect to the provider, and the provider's answer coming back.
void OAuthConnectPage(Connection& c);
void OAuthCallbackPage(Connection& c);
