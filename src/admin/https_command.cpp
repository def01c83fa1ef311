// `tarnbox https self-signed`: a certificate and key in the home, so HTTPS
// can be tried before a real certificate is at hand.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "base/https_context.h"

#include <cstdlib>

int admin_https_self_signed(AdminContext& ctx) {
    std::vector<std::string> names;
    int days = 365;
    bool force = false;
    const auto& args = ctx.args;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        if (a == "--force") {
            force = true;
        } else if ((a == "--name" || a == "--days") && i + 1 < args.size()) {
            const std::string& value = args[++i];
            if (a == "--name") {
                names.push_back(value);
                continue;
            }
            char* end = nullptr;
            const long v = strtol(value.c_str(), &end, 10);
            if (*end || v < 1 || v > 3650)
                return admin_fail("https self-signed: --days は 1 から 3650 までです。\n"
                                  "(--days takes 1 to 3650.)");
            days = static_cast<int>(v);
        } else {
            return admin_fail("https self-signed: 不明なオプションか不正な値です: " + a);
        }
    }
    if (names.empty())
        return admin_fail(
            "https self-signed: --name でブラウザが使うホスト名か IP アドレスを"
            "指定してください。\n(Name the host or address browsers use with --name.)");
    const std::string why = https_make_self_signed(names, days, ctx.paths.https_cert_file,
                                                   ctx.paths.https_key_file, force);
    if (!why.empty())
        return admin_fail("証明書を作れませんでした: " + why +
                          "\n(Could not make the certificate: " + why +
                          ")\n既存のファイルを置き換えるには --force を付けてください。");
    admin_out("証明書 " + ctx.paths.https_cert_file + " と秘密鍵 " + ctx.paths.https_key_file +
              " (モード 0600) を作りました。");
    admin_out("(Wrote the certificate " + ctx.paths.https_cert_file + " and the key " +
              ctx.paths.https_key_file + ", mode 0600.)");
    admin_out("自己署名なので、ブラウザは初回に警告を出します。tarnbox serve --https-listen "
              "ADDRESS:PORT で HTTPS を有効にします。");
    admin_out("(Browsers warn about a self-signed certificate. Turn HTTPS on with tarnbox serve "
              "--https-listen ADDRESS:PORT.)");
    return 0;
}
