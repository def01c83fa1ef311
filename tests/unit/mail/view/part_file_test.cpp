#include "mail/mail_golden.h"
#include "mail/view/html_clean.h"
#include "mail/view/part_names.h"
#include "markup_audit.h"
#include "view_fixture.h"

namespace {

class PartFileTest : public ViewTest {
protected:
    // Opens the file of the next slot for a part of class cls named name.
    void Open(const char* name, uint16_t cls = kClassAttachment) {
        const int slot = taro->runtime.attachmentCount;
        snprintf(taro->runtime.attachments[slot].file_name, kFieldSize, "%s", name);
        c->mime.contentClass = cls;
        open_part_file(*c);
    }
};

TEST_F(PartFileTest, AfterTheLastLetterThePartHasNoFile) {
    std::string base = "x";
    std::filesystem::create_directories(temp + "/x.txt");
    for (char letter = 'a'; letter <= 'z'; letter++) {
        base += letter;
        std::filesystem::create_directories(temp + "/" + base + ".txt");
    }
    Open("x.txt");
    EXPECT_EQ(c->file, -1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(taro->runtime.attachments[0].writing, 0);
    finish_part_file(*c);
    EXPECT_EQ(taro->runtime.attachmentCount, 0);
}

TEST_F(PartFileTest, WritingFlagCoversTheWholeWrite) {
    Open("w.bin");
    EXPECT_EQ(taro->runtime.attachments[0].writing, 1);
    EXPECT_EQ(taro->runtime.attachmentCount, 0); // not offered for download yet
    finish_part_file(*c);
    EXPECT_EQ(taro->runtime.attachments[0].writing, 0);
    EXPECT_EQ(taro->runtime.attachmentCount, 1);
    EXPECT_EQ(std::filesystem::status(temp + "/w.bin").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(PartFileTest, OffersOfImagesBitmapsAndOddNames) {
    Open("p.png", kClassImage);
    finish_part_file(*c);
    Open("p.bmp", kClassImage);
    finish_part_file(*c);
    // Japanese and odd names in links.
    const std::string name = Sjis("報告 #1.pdf");
    Open(name.c_str());
    EXPECT_GOLDEN("offers.ref", out);
    EXPECT_TRUE(std::filesystem::exists(temp + "/" + name));
}

TEST_F(PartFileTest, DeleteUserFilesClearsEverySlot) {
    Open("one.txt");
    finish_part_file(*c);
    Open("two.txt");
    finish_part_file(*c);
    // A slot beyond the count that still names a file, and an upload.
    snprintf(taro->runtime.attachments[5].file_name, kFieldSize, "stray.txt");
    WriteFile(temp + "/stray.txt", "s");
    WriteFile(temp + "/upload.txt", "u");
    delete_user_files(taro);
    EXPECT_EQ(TempFiles(), std::vector<std::string>{"upload.txt"});
    EXPECT_EQ(taro->runtime.attachmentCount, 0);
    for (const AttachmentEntry& a : taro->runtime.attachments) EXPECT_STREQ(a.file_name, "");
}

TEST_F(PartFileTest, PartNamesAreCutSafely) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("part_names.cases"))) {
        char name[kFieldSize];
        snprintf(name, sizeof name, "%s", t.at(0).c_str());
        make_part_name(name, sizeof name, 4);
        EXPECT_EQ(std::string(name), t.at(1)) << t[0];
    }
    // A cut never splits a two-byte character.
    std::string japanese;
    for (int i = 0; i < 120; i++) japanese += "\x82\xa0";
    char name[kFieldSize];
    snprintf(name, sizeof name, "%s.pdf", japanese.c_str());
    make_part_name(name, sizeof name, 0);
    EXPECT_EQ(std::string(name), japanese.substr(0, 196) + ".pdf");
}

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
