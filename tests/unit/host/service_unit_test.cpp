#include "host/service_unit.h"
#include <sstream>

#include "server/server_cases.h"

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
    for (const auto& c : SERVER_CASES("systemd_words.ref"))
        EXPECT_EQ(systemd_word(c.at(0), c.at(1) == "1"), c.at(2)) << c.at(0);
}

// The plain unit, its user and HTTPS listener are checked by the service
// integration test on a real install.
TEST(ServiceUnitText, RunsServeOnTheHomeWithPathsAsOneWordEach) {
    std::string why;
    ServiceUnit u = unit("/opt/my tools/tarnbox", "/srv/web mail");
    u.extra_writable = {"/var/log/tarn box"};
    const std::string t = service_unit_text(u, why);
    ASSERT_FALSE(t.empty()) << why;
    EXPECT_GOLDEN("service_unit.ref", t);
}

TEST(ServiceUnitText, ProtectHomeOffOnlyForHomesUnderHomeOrRoot) {
    std::string why;
    for (const auto& c : SERVER_CASES("home_protection.ref")) {
        EXPECT_EQ(home_protection_applies(c.at(0)), c.at(1) == "1") << c.at(0);
        EXPECT_EQ(line_of(service_unit_text(unit("/usr/bin/tarnbox", c.at(0)), why), "ProtectHome"),
                  c.at(1) == "1" ? "read-only" : "(none)")
            << c.at(0);
    }
}

TEST(ServiceUnitText, RefusesWhatAUnitFileCannotHold) {
    for (const auto& c : SERVER_CASES("refused_units.ref")) {
        std::string why;
        ServiceUnit u = unit(c.at(0), c.at(1));
        u.user = c.at(2);
        EXPECT_EQ(service_unit_text(u, why), "") << c.at(1);
        EXPECT_NE(why, "") << c.at(1);
    }
    EXPECT_TRUE(valid_unit_user("1001"));
    EXPECT_FALSE(valid_unit_user("-root"));
}
