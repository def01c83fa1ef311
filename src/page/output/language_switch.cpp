#include "page/output/language_switch.h"

#include <cstdio>

#include "page/output/send_status.h"

namespace {

constexpr std::string_view kEnglishParameter = "?lang=eng";

// Parameters that act rather than show, or that the switch itself rebuilds.
bool Dropped(std::string_view parameter) {
    for (std::string_view name : {"user=", "check=", "lang=", "delete=", "add="})
        if (parameter.starts_with(name)) return true;
    return false;
}

// A local path: one leading "/", never "//" (another host) nor "/\".
bool LocalPath(std::string_view path) {
    return path.size() >= 1 && path[0] == '/' &&
           (path.size() == 1 || (path[1] != '/' && path[1] != '\\'));
}

bool SafeByte(unsigned char b) {
    if (b >= 'a' && b <= 'z') return true;
    if (b >= 'A' && b <= 'Z') return true;
    if (b >= '0' && b <= '9') return true;
    switch (b) {
    case '/':
    case '?':
    case '=':
    case '.':
    case '-':
    case '_':
    case '~':
    case '%':
    case ',':
    case ':':
    case '@':
    case '+':
    case '!':
    case '*':
    case ';':
        return true;
    default:
        return false;
    }
}

void AppendEscaped(std::string& out, std::string_view bytes) {
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (SafeByte(b)) {
            out += ch;
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        }
    }
}

} // namespace

std::string language_switch_target(std::string_view target, bool posted, bool english,
                                   bool loggedIn, std::string_view loginQuery) {
    if (loginQuery.ends_with(kEnglishParameter)) loginQuery.remove_suffix(kEnglishParameter.size());
    const size_t query = target.find('?');
    std::string_view path = target.substr(0, query);
    std::string_view rest = query == std::string_view::npos ? "" : target.substr(query);
    if (!LocalPath(path)) {
        path = "/";
        rest = "";
    }
    if (path.starts_with("/mail/logout")) {
        // The session ends with this page: the top page, without a login.
        path = "/";
        rest = "";
        loggedIn = false;
    } else if (path.starts_with("/mail/oauth") || path.starts_with("/mail/setup/delete") ||
               (posted && loggedIn &&
                (!path.starts_with("/mail/") || path.starts_with("/mail/write")))) {
        // Pages that act on arrival and the answers to the login and
        // sending forms: the list.
        path = "/mail/index.html";
        rest = "";
    }
    std::string out;
    AppendEscaped(out, path);
    while (!rest.empty()) {
        const size_t next = rest.find('?', 1);
        const std::string_view parameter =
            rest.substr(1, next == std::string_view::npos ? std::string_view::npos : next - 1);
        if (!parameter.empty() && !Dropped(parameter)) {
            out += '?';
            AppendEscaped(out, parameter);
        }
        rest = next == std::string_view::npos ? "" : rest.substr(next);
    }
    if (loggedIn) AppendEscaped(out, loginQuery);
    if (!english) out += kEnglishParameter;
    return out;
}

void LanguageSwitch(Connection& c) {
    // "English" on Japanese pages, "日本語" on English ones, each marked in
    // its own language for screen readers.
    const std::string href =
        // A page that was not found leads to the top page, not to itself.
        language_switch_target(c.route == Route::NotFound ? "/" : c.redirectTarget, c.posted,
                               c.english, c.auth == kAuthOk,
                               c.auth == kAuthOk ? std::string_view(c.loginQuery) : "");
    char text[640];
    const int n = snprintf(text, sizeof text,
                           "<div class=\"lang-switch\"><a href=\"%s\" hreflang=\"%s\" "
                           "lang=\"%s\">%s</a></div>",
                           href.c_str(), c.english ? "ja" : "en", c.english ? "ja" : "en",
                           c.english ? "\x93\xfa\x96\x7b\x8c\xea" : "English");
    if (n > 0 && n < static_cast<int>(sizeof text)) SendRaw(c, text, static_cast<size_t>(n));
}
