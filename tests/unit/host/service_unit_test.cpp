#include "host/service_unit.h"
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string line_of(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "(none)";
}

ServiceUnit unit(const std::string& binary, const std::string& home) {
    ServiceUnit u;
    u.binary = binary;
    u.home = home;
    return u;
}

} // namespace

TEST(SystemdWord, QuotesOnlyWhatSystemdWouldSplitOrInterpret) {
    EXPECT_EQ(systemd_word("/opt/tarnbox/bin/tarnbox", true), "/opt/tarnbox/bin/tarnbox");
    EXPECT_EQ(systemd_word("/srv/mail box", true), "\"/srv/mail box\"");
    EXPECT_EQ(systemd_word("/srv/a\"b\\c", true), "\"/srv/a\\\"b\\\\c\"");
    EXPECT_EQ(systemd_word("/srv/it's", true), "\"/srv/it's\"");
    EXPECT_EQ(systemd_word(";", true), "\";\"");
    EXPECT_EQ(systemd_word("", true), "\"\"");
    // Specifiers are expanded inside quotes too; variables only where asked.
    EXPECT_EQ(systemd_word("/srv/100%", true), "/srv/100%%");
    EXPECT_EQ(systemd_word("/srv/$HOME x", true), "\"/srv/$$HOME x\"");
    EXPECT_EQ(systemd_word("/srv/$HOME", false), "/srv/$HOME");
    EXPECT_EQ(systemd_word("/srv/メール", true), "/srv/メール");
}

TEST(ServiceUnitText, RunsServeOnTheHomeWithPathsAsOneWordEach) {
    std::string why;
    std::string t = service_unit_text(unit("/opt/tb/tarnbox", "/srv/tarnbox"), why);
    ASSERT_FALSE(t.empty()) << why;
    EXPECT_EQ(line_of(t, "ExecStart"), "/opt/tb/tarnbox --home /srv/tarnbox serve");
    EXPECT_EQ(line_of(t, "ProtectHome"), "read-only");
    EXPECT_EQ(line_of(t, "ReadWritePaths"), "/srv/tarnbox");
    EXPECT_EQ(line_of(t, "User"), "(none)");

    ServiceUnit u = unit("/opt/my tools/tarnbox", "/srv/web mail");
    u.user = "mail";
    u.extra_writable = {"/var/log/tarn box"};
    t = service_unit_text(u, why);
    EXPECT_EQ(line_of(t, "ExecStart"), "\"/opt/my tools/tarnbox\" --home \"/srv/web mail\" serve");
    EXPECT_EQ(line_of(t, "ReadWritePaths"), "\"/srv/web mail\" \"-/var/log/tarn box\"");
    EXPECT_EQ(line_of(t, "User"), "mail");

    u.https_listen = "[::1]:8443";
    t = service_unit_text(u, why);
    EXPECT_EQ(
        line_of(t, "ExecStart"),
        "\"/opt/my tools/tarnbox\" --home \"/srv/web mail\" serve --https-listen \"[::1]:8443\"");
}

TEST(ServiceUnitText, ProtectHomeOffOnlyForHomesUnderHomeOrRoot) {
    EXPECT_FALSE(home_protection_applies("/home/taro/tarnbox"));
    EXPECT_FALSE(home_protection_applies("/home"));
    EXPECT_FALSE(home_protection_applies("/root/tb"));
    EXPECT_TRUE(home_protection_applies("/homes/tb"));
    EXPECT_TRUE(home_protection_applies("/rootfs/tb"));
    EXPECT_TRUE(home_protection_applies("/srv/home/tb"));
    std::string why;
    EXPECT_EQ(
        line_of(service_unit_text(unit("/usr/bin/tarnbox", "/home/taro/tb"), why), "ProtectHome"),
        "(none)");
}

TEST(ServiceUnitText, RefusesWhatAUnitFileCannotHold) {
    std::string why;
    EXPECT_EQ(service_unit_text(unit("/usr/bin/tarnbox", "/srv/a\nb"), why), "");
    EXPECT_NE(why, "");
    EXPECT_EQ(service_unit_text(unit("tarnbox", "/srv/tb"), why), "");
    ServiceUnit u = unit("/usr/bin/tarnbox", "/srv/tb");
    u.user = "x y";
    EXPECT_EQ(service_unit_text(u, why), "");
    EXPECT_TRUE(valid_unit_user("1001"));
    EXPECT_FALSE(valid_unit_user("-root"));
}
