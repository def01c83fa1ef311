// OAuth2 providers that the administrator registered (`tarnbox oauth
// provider`), kept in <home>/oauth-providers as "[name]" sections of
// "key = value" lines. A provider's client secret lives apart in
// <home>/oauth-secret-<name>, mode 0600, so the list can be shown and copied
// without it.
#pragma once
#include <optional>
#include <string>
#include <vector>

struct OAuthProvider {
    std::string name;
    std::string clientId;
    std::string authUrl;
    std::string tokenUrl;
    std::string scope; // blank-separated, as the authorization URL sends it
    std::string redirectUrl;
    // Extra query parameters of the authorization URL ("a=b&c=d"), which a
    // preset may need to be handed a refresh token at all.
    std::string authParams;
};

// Fills the endpoints, scope and extra parameters of a known provider;
// false for a name that is not a preset.
bool oauth_preset(const std::string& preset, OAuthProvider& p);

// A provider name names a file: letters, digits, "-", "_" and ".", not
// starting with ".", at most 40 bytes.
bool oauth_provider_name_valid(const std::string& name);

// Parses the text of the providers file; entries with an invalid name or
// a repeated one are skipped.
std::vector<OAuthProvider> parse_oauth_providers(const std::string& text);
std::string format_oauth_providers(const std::vector<OAuthProvider>& providers);

// The file of home, read fresh each time: the gateway sees a change by the
// command line at its next use without a restart.
std::vector<OAuthProvider> load_oauth_providers(const std::string& home);
bool save_oauth_providers(const std::string& home, const std::vector<OAuthProvider>& providers,
                          std::string& why);
std::optional<OAuthProvider> find_oauth_provider(const std::string& home, const std::string& name);

std::string oauth_secret_path(const std::string& home, const std::string& name);
// "" when none is kept.
std::string load_oauth_secret(const std::string& home, const std::string& name);
// Writes the secret with mode 0600 (empty removes it).
bool save_oauth_secret(const std::string& home, const std::string& name, const std::string& secret,
                       std::string& why);
