// `tarnbox oauth provider NAME [options]`, `oauth show` and `oauth remove
// NAME`: the OAuth2 providers whose tokens settings sets log in with. They
// only write files of the home, which the gateway reads at each use, so no
// running gateway needs to carry them out.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "mail/oauth/oauth_client.h"
#include "store/oauth_providers.h"

#include <fstream>

namespace {

constexpr const char* kUsage =
    "使い方: tarnbox oauth provider NAME [--preset google|microsoft] [--client-id ID] "
    "[--client-secret-file F] [--auth-url U] [--token-url U] [--scope S] [--redirect-url U]";

bool printable(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

// A URL the gateway hands to the browser or to the token endpoint: one word
// of printable bytes.
bool url_text(const std::string& url) {
    return !url.empty() && url.size() <= 1000 && printable(url) &&
           url.find(' ') == std::string::npos &&
           (url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0);
}

} // namespace

int admin_oauth_provider(AdminContext& ctx) {
    const std::vector<std::string>& args = ctx.args;
    if (args.empty() || args[0].rfind("--", 0) == 0) return admin_fail(kUsage);
    const std::string name = args[0];
    if (!oauth_provider_name_valid(name))
        return admin_fail("プロバイダー名には英数字と - _ . だけを使ってください (40 文字まで)。");
    std::vector<OAuthProvider> all = load_oauth_providers(ctx.paths.home);
    OAuthProvider p;
    p.name = name;
    bool existed = false;
    for (const OAuthProvider& q : all)
        if (q.name == name) {
            p = q;
            existed = true;
        }
    std::optional<std::string> secret;
    struct Text {
        const char* flag;
        std::string OAuthProvider::*field;
        bool url;
    };
    const Text texts[] = {{"--client-id", &OAuthProvider::clientId, false},
                          {"--auth-url", &OAuthProvider::authUrl, true},
                          {"--token-url", &OAuthProvider::tokenUrl, true},
                          {"--scope", &OAuthProvider::scope, false},
                          {"--redirect-url", &OAuthProvider::redirectUrl, true}};
    // The preset first, so that options given beside it win whatever their
    // order.
    for (size_t i = 1; i + 1 < args.size(); i++)
        if (args[i] == "--preset" && !oauth_preset(args[i + 1], p))
            return admin_fail("--preset には google か microsoft を指定してください。");
    for (size_t i = 1; i < args.size(); i++) {
        const std::string& flag = args[i];
        if (i + 1 >= args.size()) return admin_fail(flag + ": 値がありません。");
        const std::string value = args[++i];
        if (flag == "--preset") continue;
        if (flag == "--client-secret-file") {
            std::ifstream f(value);
            std::string line;
            if (!f || !std::getline(f, line)) return admin_fail(value + ": ファイルを読めません。");
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!printable(line)) return admin_fail(value + ": 制御文字を含む値は使えません。");
            secret = line;
            continue;
        }
        bool matched = false;
        for (const Text& t : texts) {
            if (flag != t.flag) continue;
            matched = true;
            if (t.url ? !url_text(value) : (!printable(value) || value.size() > 1000))
                return admin_fail(flag + (t.url ? " には http:// か https:// で始まる URL を"
                                                  "指定してください。"
                                                : ": 改行や制御文字は使えません。"));
            p.*t.field = value;
        }
        if (!matched) return admin_fail("oauth provider: 不明なオプションです: " + flag);
    }
    if (p.clientId.empty() || p.authUrl.empty() || p.tokenUrl.empty() || p.redirectUrl.empty())
        return admin_fail("--client-id、--auth-url、--token-url (--preset でも可) と "
                          "--redirect-url を指定してください。");
    if (!oauth_url_allowed(p.tokenUrl) || !oauth_url_allowed(p.authUrl))
        return admin_fail("--auth-url と --token-url は https:// で (http:// はループバック "
                          "アドレス 127.0.0.1 か [::1] に限り) 指定してください。");
    if (existed) {
        for (OAuthProvider& q : all)
            if (q.name == name) q = p;
    } else {
        all.push_back(p);
    }
    std::string why;
    if (secret && !save_oauth_secret(ctx.paths.home, name, *secret, why))
        return admin_fail("クライアントシークレットを保存できません: " + why);
    if (!save_oauth_providers(ctx.paths.home, all, why))
        return admin_fail("プロバイダーを保存できません: " + why);
    admin_out(existed ? "プロバイダー " + name + " を変更しました。"
                      : "プロバイダー " + name + " を登録しました。");
    return 0;
}

int admin_oauth_show(AdminContext& ctx) {
    const std::vector<OAuthProvider> all = load_oauth_providers(ctx.paths.home);
    if (all.empty()) admin_out("OAuth2 プロバイダーは登録されていません。");
    for (const OAuthProvider& p : all) {
        admin_out("[" + p.name + "]");
        admin_out("  client-id     " + p.clientId);
        admin_out("  client-secret " + std::string(load_oauth_secret(ctx.paths.home, p.name).empty()
                                                       ? "(なし)"
                                                       : "(保存済み)"));
        admin_out("  auth-url      " + p.authUrl);
        admin_out("  token-url     " + p.tokenUrl);
        admin_out("  scope         " + p.scope);
        admin_out("  redirect-url  " + p.redirectUrl);
        if (!p.authParams.empty()) admin_out("  auth-params   " + p.authParams);
    }
    return 0;
}

int admin_oauth_remove(AdminContext& ctx) {
    if (ctx.args.size() != 1) return admin_fail("使い方: tarnbox oauth remove NAME");
    const std::string name = ctx.args[0];
    std::vector<OAuthProvider> all = load_oauth_providers(ctx.paths.home);
    const size_t before = all.size();
    std::erase_if(all, [&](const OAuthProvider& p) { return p.name == name; });
    if (all.size() == before) return admin_fail("プロバイダー " + name + " は登録されていません。");
    std::string why;
    if (!save_oauth_providers(ctx.paths.home, all, why) ||
        !save_oauth_secret(ctx.paths.home, name, "", why))
        return admin_fail("プロバイダーを削除できません: " + why);
    admin_out("プロバイダー " + name + " を削除しました。");
    return 0;
}
