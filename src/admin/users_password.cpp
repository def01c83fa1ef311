// Where the new password of `users add` and `users change` comes from, so
// that it never has to stand on a command line (where every user of the
// machine can read it): asked twice on the terminal, or read from a file
// (--password-file F) or from standard input (--password-stdin) for scripts.
// --password P still works. Runs in the asking command before the command is
// carried out, here or by a running gateway: the options become
// "--password P" in the command's words.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "admin/mail_security_options.h"
#include "admin/secret_input.h"
#include "base/console_text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A password is at most 39 bytes; a file this long is no password file.
constexpr size_t kPasswordTextBytes = 4096;
constexpr int kTerminalAttempts = 3;

enum class Source { none, given, terminal, file, standard_input };

// The options that take a value, so that a value is never taken for one of
// the password options.
bool TakesValue(const std::string& word, bool adding) {
    for (const char* o : {"--name", "--mail-address", "--id", "--smtp-server", "--pop3-server"})
        if (word == o) return true;
    if (is_security_option(word)) return true;
    // For users add these are boxes without a value.
    return !adding && (word == "--cc" || word == "--bcc" || word == "--apop");
}

bool ReadAll(int fd, std::string& text_r) {
    text_r.clear();
    char buffer[1024];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text_r.append(buffer, static_cast<size_t>(n));
        if (text_r.size() > kPasswordTextBytes) return true;
    }
}

// The password is the text's one line; a line end after it is allowed, and
// more lines would make it unclear whether a line break is part of it.
int OneLine(const std::string& where, std::string text, std::string& password_r) {
    if (text.size() > kPasswordTextBytes) return admin_fail(where + ": 長すぎます。");
    const size_t lf = text.find('\n');
    if (lf != std::string::npos) {
        if (text.find_first_not_of("\r\n", lf) != std::string::npos)
            return admin_fail(where + ": パスワードは一行だけにしてください。");
        text.resize(lf);
        if (!text.empty() && text.back() == '\r') text.pop_back();
    }
    password_r = text;
    return 0;
}

int FromFile(const std::string& path, std::string& password_r) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    const bool ok = fd >= 0 && ReadAll(fd, text);
    const int saved = errno;
    if (fd >= 0) close(fd);
    if (!ok) return admin_fail("パスワードファイル " + path + " を読めません: " + strerror(saved));
    return OneLine("--password-file", text, password_r);
}

int FromTerminal(bool adding, std::string& password_r) {
    const char* first = adding ? "パスワード: " : "新パスワード: ";
    const char* again = adding ? "パスワード再入力: " : "新パスワード再入力: ";
    for (int attempt = 0; attempt < kTerminalAttempts; attempt++) {
        std::string a, b;
        if (!read_secret_line(first, a) || !read_secret_line(again, b))
            return admin_fail("パスワードが入力されませんでした。");
        if (a != b) {
            admin_err("パスワードとパスワード再入力には同じものを入力してください。");
            continue;
        }
        // Changing, an empty entry keeps the old password, as in the dialog.
        if (adding && a.empty()) {
            admin_err("パスワードとパスワード再入力にパスワードを入力してください。");
            continue;
        }
        password_r = a;
        return 0;
    }
    return 1;
}

} // namespace

int admin_users_password_input(AdminContext& ctx, bool adding) {
    std::vector<std::string> words;
    Source source = Source::none;
    int sources = 0;
    std::string password, file;
    const std::vector<std::string>& args = ctx.args;
    // users change names the user first.
    size_t i = 0;
    if (!adding && !args.empty() && args[0].rfind("--", 0) != 0) words.push_back(args[i++]);
    for (; i < args.size(); i++) {
        const std::string& a = args[i];
        if (a == "--password") {
            sources++;
            // Without a value (nothing, or another option follows) it asks.
            if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
                source = Source::given;
                password = args[++i];
            } else {
                source = Source::terminal;
            }
        } else if (a == "--password-file") {
            if (i + 1 >= args.size()) return admin_fail(a + ": 値がありません。");
            sources++;
            source = Source::file;
            file = args[++i];
        } else if (a == "--password-stdin") {
            sources++;
            source = Source::standard_input;
        } else {
            words.push_back(a);
            if (TakesValue(a, adding) && i + 1 < args.size()) words.push_back(args[++i]);
        }
    }
    if (sources > 1)
        return admin_fail("パスワードは --password, --password-file, --password-stdin "
                          "のどれか一つで指定してください。");
    const bool terminal = isatty(STDIN_FILENO) != 0;
    // A new user needs a password; on a terminal it is asked for.
    if (source == Source::none && adding && terminal) source = Source::terminal;
    if (source == Source::standard_input && terminal) source = Source::terminal;
    if (source == Source::none || source == Source::given) return 0;
    if (source == Source::terminal) {
        if (!terminal)
            return admin_fail("パスワードを端末から入力できません。"
                              "--password-file か --password-stdin を使ってください。");
        // Nobody should type a password for a user who is not there.
        if (!adding) {
            std::string id;
            if (words.empty() || !utf8_to_sjis(words[0], id) ||
                !find_user(ctx.ds.users, id.c_str()))
                return admin_fail("設定変更ができません。");
        }
        if (int r = FromTerminal(adding, password)) return r;
    } else if (source == Source::file) {
        if (int r = FromFile(file, password)) return r;
    } else {
        std::string text;
        if (!ReadAll(STDIN_FILENO, text))
            return admin_fail(std::string("--password-stdin: 標準入力を読めません: ") +
                              strerror(errno));
        if (int r = OneLine("--password-stdin", text, password)) return r;
    }
    words.push_back("--password");
    words.push_back(password);
    ctx.args = words;
    return 0;
}
