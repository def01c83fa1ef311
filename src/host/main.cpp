// The tarnbox command: the gateway and its administration.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "base/home.h"
#include "host/control_socket.h"
#include "host/serve.h"
#include "host/subcommands.h"
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A file named relative to where the command runs means nothing to the
// gateway that carries the command out.
std::string Absolute(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

int RunSubcommand(const Subcommand& c, const std::string& home,
                  const std::string& adminPasswordFile, const std::vector<std::string>& args,
                  size_t at, size_t first) {
    const AdminCommand run = c.run ? c.run : admin_serve;
    HomePaths paths = make_home_paths(home);
    DataStore& ds = data_store();
    ds.data_path = paths.data_file;
    ds.user_folder = paths.user_folder;
    ds.report = [](std::string_view text) {
        // A command the gateway carries out for the command line tells its
        // own administrator why it failed; the gateway's log keeps it too.
        if (admin_in_server()) admin_err(std::string(text));
        fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    };
    AdminContext ctx{paths, ds, std::vector<std::string>(args.begin() + first, args.end()),
                     adminPasswordFile};
    if (subcommand_guarded(c)) {
        if (int r = open_store(ctx, false)) return r;
        if (int r = admin_gate(ctx)) return r;
    }
    if (!strcmp(c.name, "users") && c.verb && !strcmp(c.verb, "delete")) {
        if (int r = admin_users_delete_confirm(ctx)) return r;
    }
    // A password typed or read here travels with the command's words, so
    // that a running gateway can carry the command out.
    if (!strcmp(c.name, "users") && c.verb &&
        (!strcmp(c.verb, "add") || !strcmp(c.verb, "change"))) {
        if (int r = admin_users_password_input(ctx, !strcmp(c.verb, "add"))) return r;
    }
    const bool password = !strcmp(c.name, "admin-password");
    std::deque<std::string> input;
    if (password) input = admin_password_input(ctx);
    if (subcommand_forwarded(c)) {
        // The words as the command now stands (a deletion carries the
        // confirmed names).
        std::vector<std::string> words(args.begin() + at, args.begin() + first);
        words.insert(words.end(), ctx.args.begin(), ctx.args.end());
        if (!strcmp(c.name, "users") && !strcmp(c.verb, "import") && words.size() > 2)
            words.back() = Absolute(words.back());
        ControlReply reply;
        if (ForwardCommand(paths.control_socket, words, input, reply)) {
            fputs(reply.out.c_str(), stdout);
            fputs(reply.err.c_str(), stderr);
            return reply.status;
        }
    }
    if (!password) return run(ctx);
    AdminCapture typed(std::move(input), false);
    const int r = run(ctx);
    fputs(typed.out.c_str(), stdout);
    fputs(typed.err.c_str(), stderr);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string home = program_folder();
    std::string adminPasswordFile;
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; i++) {
        if (args[i] == "--version") {
            printf("Tarnbox 1.51\n");
            return 0;
        }
        if (args[i] == "--help") return print_usage(stdout);
        if (args[i] == "--admin-password-file" && i + 1 < args.size()) {
            adminPasswordFile = args[++i];
        } else if (args[i] == "--home" && i + 1 < args.size()) {
            home = args[++i];
        } else if (args[i].rfind("--home=", 0) == 0) {
            home = args[i].substr(7);
        } else {
            fprintf(stderr, "不明なオプションです: %s\n", args[i].c_str());
            return print_usage(stderr);
        }
    }
    if (i >= args.size()) return print_usage(stderr);
    if (args[i] == "help") return print_help();

    size_t first = 0;
    const Subcommand* c = find_subcommand(args, i, first);
    if (c) return RunSubcommand(*c, home, adminPasswordFile, args, i, first);
    fprintf(stderr, "不明なコマンドです: %s\n", args[i].c_str());
    return print_usage(stderr);
}
