#include "mail/mail_golden.h"
#include "mail/view/html_clean.h"
#include "markup_audit.h"
#include "view_fixture.h"

namespace {

class HtmlCleanTest : public ViewTest {
protected:
    std::string Clean(const std::string& html) {
        out.clear();
        write_clean_html(*c, html.data(), html.size());
        return out;
    }
};

// Each record of clean.ref is a mail's HTML and the page part it becomes;
// no page may hold anything a browser would run. Hostile markup whose exact
// output does not matter is in the fuzz target's seeds (fuzz_sanitise_html),
// audited there also as an HTML5 parser reads it.
TEST_F(HtmlCleanTest, CasesOfCleanRef) {
    const auto cases = mail_golden::ReadCases(GOLDEN_PATH("clean.ref"));
    EXPECT_GT(cases.size(), 70u);
    for (const auto& t : cases) {
        ASSERT_EQ(t.size(), 2u) << t[0];
        EXPECT_EQ(Clean(t[0]), t[1]) << t[0];
        EXPECT_EQ(markup_audit::Audit(out), "") << t[0];
    }
}

TEST_F(HtmlCleanTest, NestingDeeperThanTheCleanerFollows) {
    // Start tags go; the text stays.
    std::string deep;
    for (int i = 0; i < 300; i++) deep += "<div>";
    const std::string page = Clean(deep + "<a href=\"http://x/\">wrap");
    auto count = [&](std::string_view what) {
        size_t n = 0;
        for (size_t at = page.find(what); at != std::string::npos; at = page.find(what, at + 1))
            n++;
        return n;
    };
    EXPECT_EQ(count("<div>"), count("</div>"));
    EXPECT_EQ(count("<a "), count("</a>"));
    EXPECT_NE(page.find("wrap"), std::string::npos);
    // Paragraphs left open one after the other are not nesting.
    std::string paragraphs;
    for (int i = 0; i < 300; i++) paragraphs += "<p>x";
    EXPECT_EQ(Clean(paragraphs + "<b>end"), paragraphs + "<b>end</b>");
}

TEST_F(HtmlCleanTest, CidReferencesAreRemembered) {
    Clean("<img src=\"cid:one@x\"><table><tr><td background=\"cid:t%77o@x\">");
    EXPECT_EQ(std::string(c->view.cidSeen, c->view.cidSeenLength), "one@x\ntwo@x\n");
}

} // namespace
