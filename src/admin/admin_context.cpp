#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "base/console_text.h"
#include "base/instance.h"
#include "base/text/command_text.h"
#include <cstdio>
#include <cstring>

int admin_fail(const std::string& message) {
    admin_err(message);
    return 1;
}

int open_store(AdminContext& ctx, bool for_change) {
    // Inside the gateway the store is the live one, loaded and held already.
    if (admin_in_server()) return 0;
    if (for_change) {
        int claimed = ClaimInstance(ctx.paths.lock_file);
        if (claimed == 0)
            return admin_fail("このホームではすでに Tarnbox が動作しています。"
                              "停止してから実行してください。 (" +
                              ctx.paths.home + ")");
        if (claimed < 0)
            return admin_fail("ロックファイル " + ctx.paths.lock_file +
                              " を開けません: " + strerror(errno));
    }
    int r = load_data_file(ctx.ds);
    if (r == kLoadAbsent)
        return admin_fail("設定ができません。終了します。\n"
                          "データファイル " +
                          ctx.paths.data_file +
                          " がありません。先に tarnbox init を実行してください。");
    if (r != kLoadOk) return 1;
    return 0;
}

bool id_names_a_file(std::string_view id) {
    if (id == "." || id == "..") return false;
    for (unsigned char c : id)
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
    return true;
}

bool take_text(const std::string& field, const std::string& utf8, size_t max_bytes,
               std::string& sjis_r) {
    if (!utf8_to_sjis(utf8, sjis_r)) {
        admin_fail(field + ": Shift_JIS で表せない文字が含まれています。");
        return false;
    }
    if (!command_text_safe(sjis_r)) {
        admin_fail(field + ": " + kNoLineBreaks);
        return false;
    }
    if (sjis_r.size() > max_bytes) {
        admin_fail(field + ": 長すぎます (" + std::to_string(max_bytes) + " バイトまで)。");
        return false;
    }
    return true;
}
