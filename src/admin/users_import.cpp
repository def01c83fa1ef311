// `tarnbox users import FILE`: bulk registration. Each line is judged on its
// own; a refused line is reported and the next one tried, and only a full
// table stops the run.
#include "admin/users_import.h"

#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "admin/mail_security_options.h"
#include "base/charset/sjis.h"
#include "base/console_text.h"
#include "base/global_lock.h"
#include "mail/oauth/oauth_client.h"
#include "store/oauth_providers.h"
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <new>

namespace {

struct ImportLine {
    char name[40] = {};
    char mail_address[80] = {};
    char id[40] = {};
    char password[40] = {};
    char smtp_server[80] = {};
    char pop3_server[80] = {};
    bool cc = false, bcc = false, apop = false;
    SecurityInput security;
    bool securityRefused = false;
};

// The columns after APOP, each empty for the administrator's default; the
// last one names an OAuth2 provider.
const char* const kSecurityColumns[] = {"--pop3-security", "--smtp-security", "--smtp-auth",
                                        "--pop3-port",     "--smtp-port",     "--verify",
                                        "--oauth"};
constexpr size_t kFirstSecurityColumn = 9;

bool is_on(const std::string& column) {
    return column.size() == 2 && (column[0] == 'O' || column[0] == 'o') &&
           (column[1] == 'N' || column[1] == 'n');
}

// Columns past the line's end are empty; longer values are cut to the field.
ImportLine parse_line(const std::string& line, const BasicSettings& bs) {
    std::vector<std::string> col = split_csv_columns(line);
    col.resize(kFirstSecurityColumn + std::size(kSecurityColumns));
    ImportLine in;
    sjis_copy(in.name, col[0].c_str());
    sjis_copy(in.mail_address, col[1].c_str());
    sjis_copy(in.id, col[2].c_str());
    sjis_copy(in.password, col[3].c_str());
    sjis_copy(in.smtp_server, col[4].empty() ? bs.smtp_server : col[4].c_str());
    sjis_copy(in.pop3_server, col[5].empty() ? bs.pop3_server : col[5].c_str());
    in.cc = is_on(col[6]);
    in.bcc = is_on(col[7]);
    in.apop = is_on(col[8]);
    for (size_t k = 0; k < std::size(kSecurityColumns); k++) {
        std::string value = col[kFirstSecurityColumn + k];
        if (value.empty()) continue;
        // Provider names are the administrator's, spelt as registered.
        if (k + 1 < std::size(kSecurityColumns))
            for (char& c : value) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (!take_security_value(kSecurityColumns[k], value, in.security).empty())
            in.securityRefused = true;
    }
    return in;
}

// Any byte above ASCII: Shift_JIS, EUC-JP and even a lone half-width kana.
// POP3 servers take user names and passwords as ASCII only.
bool has_japanese(const char* text) {
    for (const char* p = text; *p; p++)
        if (static_cast<unsigned char>(*p) >= 0x80) return true;
    return false;
}

bool registrable(const ImportLine& in) {
    return !in.securityRefused && in.name[0] && in.mail_address[0] && in.id[0] && in.password[0] &&
           !has_japanese(in.id) && !has_japanese(in.password) &&
           std::string_view(in.mail_address).find('@') != std::string_view::npos &&
           id_names_a_file(in.id);
}

// A quote left open at the line's end: the file's writer put a line break
// inside a quoted value, and the line holds only its first part.
bool quote_open(const std::string& line) {
    size_t quotes = 0;
    for (char c : line) quotes += c == '"';
    return quotes % 2 != 0;
}

std::string oauth_home(const DataStore& ds) {
    const size_t slash = ds.data_path.rfind('/');
    return slash == std::string::npos ? "." : ds.data_path.substr(0, slash);
}

std::string who(const ImportLine& in) {
    return "名前:" + sjis_to_utf8(in.name) + "\nメールアドレス:" + sjis_to_utf8(in.mail_address) +
           "\nPOP3ユーザー名:" + sjis_to_utf8(in.id) + "\n";
}

UserRecord* make_record(const ImportLine& in, const BasicSettings& bs) {
    auto* r = new (std::nothrow) UserRecord();
    if (!r) return nullptr;
    SettingsSet& s = r->set[0];
    sjis_copy(s.name, in.name);
    sjis_copy(s.mail_address, in.mail_address);
    sjis_copy(s.id, in.id);
    sjis_copy(s.password, in.password);
    sjis_copy(s.smtp_name, in.smtp_server);
    sjis_copy(s.pop3_name, in.pop3_server);
    s.apop_flag = in.apop;
    start_security_from_defaults(bs, s);
    apply_security(in.security, bs, s);
    set_default_options(*r);
    r->options[cc_flag] = in.cc;
    r->options[bcc_flag] = in.bcc;
    return r;
}

} // namespace

ImportTally import_user_lines(DataStore& ds, const CsvText& text,
                              const std::function<void(const std::string&)>& say) {
    ImportTally t;
    for (size_t i = 0; i < text.lines.size(); i++) {
        const std::string& line = text.lines[i];
        if (line.empty()) break;
        ImportLine in = parse_line(line, ds.settings);
        if (find_user(ds.users, in.id)) {
            say(who(in) + "はすでに登録済みです。");
            t.refused++;
            continue;
        }
        if (count_users(ds.users) >= max_users) {
            say("これ以上の登録はできません。");
            t.stopped = true;
            break;
        }
        if ((i < text.broken.size() && text.broken[i]) || quote_open(line)) {
            say(who(in) + "は改行 (CR, LF) や NUL 文字を含むため登録できませんでした。");
            t.refused++;
            continue;
        }
        const std::string& provider = in.security.oauth.value_or("");
        if (!registrable(in) ||
            (!provider.empty() && !find_oauth_provider(oauth_home(ds), provider))) {
            say(who(in) + "は登録できませんでした。");
            t.refused++;
            continue;
        }
        UserRecord* r = make_record(in, ds.settings);
        if (!r) {
            say("一括登録できません。");
            t.stopped = true;
            break;
        }
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        append_user(ds.users, r);
        t.registered++;
        std::string why;
        if (!provider.empty() &&
            !ds.credentials.put(r->set[0].id, r->set[0].id, r->set[0].pop3_name, kOAuthProviderName,
                                provider, why))
            say(who(in) + "の OAuth2 プロバイダーを保存できませんでした。" + why);
    }
    return t;
}

int admin_users_import(AdminContext& ctx) {
    if (ctx.args.size() != 1) return admin_fail("使い方: tarnbox users import FILE");
    if (int r = open_store(ctx, true)) return r;
    CsvText text;
    if (!read_csv_file(ctx.args[0], text)) return 1;
    std::vector<UserRecord*> before;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        before = user_order(ctx.ds.users);
    }
    ImportTally t =
        import_user_lines(ctx.ds, text, [](const std::string& message) { admin_err(message); });
    if (t.registered > 0) {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        if (rewrite_data_file(ctx.ds) != 1) {
            // None of them was saved: none may come in with a later write.
            std::vector<UserRecord*> added = user_order(ctx.ds.users);
            relink_users(ctx.ds.users, before);
            for (UserRecord* r : added)
                if (std::find(before.begin(), before.end(), r) == before.end()) delete r;
            return 1;
        }
    }
    if (t.registered > 0) admin_out(std::to_string(t.registered) + " 件のユーザーを登録しました。");
    return t.refused > 0 || t.stopped ? 1 : 0;
}
