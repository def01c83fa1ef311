// Message pages driven by hand: reply lines are handed to the view as the
// POP3 client hands them over, commands come back through a socket pair, and
// the page is captured.
#include "mail/list/received_list.h"
#include "mail/mail_fixture.h"
#include "mail/mail_golden.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "mail/view/html_clean.h"
#include "mail/view/message_view.h"
#include "mail/view/part_names.h"
#include "mail/view/view_state.h"
#include "markup_audit.h"
#include <algorithm>
#include <vector>

namespace {

class ViewTest : public MailTest {
protected:
    void SetUp() override {
        MailTest::SetUp();
        set_time_zone_bias_for_test(-540);
        data_store().settings.mail_options = kMailDeleteLinkChangeable;
        temp = home + "/temp/taro";
        Start(PageState::MessageWait);
    }
    // A new request for message 3, as the POP3 client leaves it right after
    // sending RETR.
    void Start(PageState state) {
        Fresh();
        c->state = state;
        c->workerResult = Retrieving;
        c->pop3.headerPhase = 1;
        c->itemNumber = 3;
        c->browser = kBrowserMozilla2 | kBrowserMozilla3 | kBrowserMozilla4 | kBrowserMozilla5;
        c->view.partFileSlot = -1;
        mime_reset(*c);
    }
    // One reply line, dispatched the way the POP3 client does it.
    void Line(const std::string& line) {
        if (c->pop3.headerPhase) {
            if (line.rfind("+OK", 0) != 0) pop3_view_asks(*c, view_header_line(*c, line.c_str()));
        } else {
            pop3_view_asks(*c, view_body_line(*c, line.c_str()));
        }
    }
    // The message as the reply to RETR, its lines dot-stuffed, then the
    // closing "."; returns the commands sent after it.
    std::string Retrieve(const std::string& message) {
        for (std::string line : mail_golden::Split(message, '\n')) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Line(line[0] == '.' ? "." + line : line);
        }
        Line(".");
        return Sent();
    }
    // Names of the files in the user's temp folder, sorted.
    std::vector<std::string> TempFiles() {
        std::vector<std::string> names;
        if (!std::filesystem::exists(temp)) return names;
        for (auto& e : std::filesystem::directory_iterator(temp))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Opens the file of the next slot for a part of class cls named name.
    void Open(const char* name, uint16_t cls = kClassAttachment) {
        const int slot = taro->runtime.attachmentCount;
        snprintf(taro->runtime.attachments[slot].file_name, kFieldSize, "%s", name);
        c->mime.contentClass = cls;
        open_part_file(*c);
    }

    std::string temp;
};

const std::string kHead = "From: Hanako <hanako@example.jp>\n"
                          "To: taro@example.jp\n"
                          "Subject: =?ISO-2022-JP?B?GyRCJCIkJBsoQg==?=\n"
                          "Date: Tue, 03 Dec 2002 10:20:30 +0900\n"
                          "Message-Id: <abc+1@example.jp>\n";

using MessageViewTest = ViewTest;

TEST_F(MessageViewTest, Pages) {
    static const std::pair<const char*, int> kOptions[] = {{"jump", jump_flag},
                                                           {"save-text", save_text},
                                                           {"header", header_flag},
                                                           {"folding", folding}};
    for (const auto& record : CASE_BLOCKS("pages.cases")) {
        SCOPED_TRACE(record.at(0));
        TearDown();
        SetUp();
        for (int o : {jump_flag, save_text, header_flag, folding}) taro->options[o] = 0;
        std::string sent;
        mail_golden::Play(
            record,
            {{"text-page", [&](S) { Start(PageState::TextWait); }},
             {"quotation", [&](S a) { mail_golden::Put(taro->set[0].quotation, a); }},
             {"book", [&](S a) { taro->address_book = a; }},
             {"mail-options", [&](S a) { data_store().settings.mail_options = std::stoi(a); }},
             {"option", [&](S a) { taro->options[ValueNamed(kOptions, a, "option", 0)] = 1; }},
             {"show-images",
              [&](S a) {
                  c->showImages = static_cast<uint8_t>(std::stoi(a));
                  c->view.remoteImages = 0;
              }},
             {"clear", [&](S) { out.clear(); }},
             {"retrieve", [&](S a) { sent = Retrieve(a); }},
             {"feed",
              [&](S a) {
                  pop3_feed(*c, a.data(), a.size());
                  sent += Sent();
              }},
             {"golden", [&](S a) { EXPECT_GOLDEN(a, MaskDates(out)); }},
             {"page-is", [&](S a) { EXPECT_EQ(out, a); }},
             {"page", [&](S a) { EXPECT_NE(out.find(a), std::string::npos) << out; }},
             {"no-page", [&](S a) { EXPECT_EQ(out.find(a), std::string::npos) << out; }},
             {"audit", [&](S) { EXPECT_EQ(markup_audit::Audit(out), ""); }},
             {"sent",
              [&](S a) {
                  EXPECT_EQ(sent, a);
                  sent.clear();
              }},
             {"quitting", [&](S) { EXPECT_EQ(c->workerResult, Quitting); }},
             {"quoted", [&](S a) { EXPECT_EQ(c->quotationText, a); }},
             {"last-id", [&](S a) { EXPECT_EQ(taro->runtime.lastMessageId, a); }},
             {"references", [&](S a) { EXPECT_EQ(taro->runtime.replyReferences, a); }},
             {"remote-images", [&](S a) { EXPECT_EQ(c->view.remoteImages, std::stoi(a)); }},
             {"cid-seen",
              [&](S a) { EXPECT_EQ(std::string(c->view.cidSeen, c->view.cidSeenLength), a); }},
             {"temp-file",
              [&](S a) {
                  ASSERT_EQ(TempFiles().size(), 1u);
                  EXPECT_EQ(TempFiles()[0].substr(0, a.size()), a);
              }},
             {"open", [&](S a) { Open(a.c_str()); }},
             {"open-image", [&](S a) { Open(a.c_str(), kClassImage); }},
             {"finish", [&](S) { finish_part_file(*c); }},
             {"no-part-file", [&](S) { EXPECT_EQ(c->file, -1); }},
             {"writing",
              [&](S a) { EXPECT_EQ(taro->runtime.attachments[0].writing, std::stoi(a)); }},
             {"offered", [&](S a) { EXPECT_EQ(taro->runtime.attachmentCount, std::stoi(a)); }},
             {"temp-folder", [&](S a) { std::filesystem::create_directories(temp + "/" + a); }},
             {"temp-write", [&](S a) { WriteFile(temp + "/" + a, a); }},
             {"slot-names",
              [&](S a) { mail_golden::Put(taro->runtime.attachments[5].file_name, a); }},
             {"delete-user-files", [&](S) { delete_user_files(taro); }},
             {"no-slot-names",
              [&](S) {
                  for (const AttachmentEntry& e : taro->runtime.attachments)
                      EXPECT_STREQ(e.file_name, "");
              }},
             {"temp-files", [&](S a) { EXPECT_EQ(TempFiles(), mail_golden::Split(a, '|')); }},
             {"owner-only",
              [&](S a) {
                  using std::filesystem::perms;
                  EXPECT_EQ(std::filesystem::status(temp + "/" + a).permissions() & perms::all,
                            perms::owner_read | perms::owner_write);
              }},
             {"not-at-home", [&](S a) { EXPECT_FALSE(std::filesystem::exists(home + "/" + a)); }},
             {"file", [&](S a) {
                  const size_t blank = a.find(' ');
                  EXPECT_EQ(golden::read(temp + "/" + a.substr(0, blank)), a.substr(blank + 1));
              }}});
    }
}

TEST_F(MessageViewTest, QuotationEndsInsideItsBufferOnACharacter) {
    snprintf(taro->set[0].quotation, sizeof taro->set[0].quotation, ">");
    Retrieve(kHead + "\n" +
             mail_golden::Repeated("a" + mail_golden::Repeated("\x82\xa0", 60) + "\n", 1100));
    const int n = c->view.quotationLength;
    EXPECT_GT(n, kQuotationTextSize - 130);
    EXPECT_LT(n, kQuotationTextSize);
    EXPECT_EQ(strlen(c->quotationText), static_cast<size_t>(n));
    int k = 0;
    while (k < n) k += static_cast<unsigned char>(c->quotationText[k]) >= 0x80 ? 2 : 1;
    EXPECT_EQ(k, n);
}

using HtmlCleanTest = ViewTest;

TEST(PartFileTest, PartNamesAreCutSafely) {
    for (const auto& t : CASE_BLOCKS("part_names.cases")) {
        char name[kFieldSize];
        mail_golden::Put(name, t.at(0));
        make_part_name(name, sizeof name, 4);
        EXPECT_EQ(std::string(name), t.at(1)) << t[0];
    }
}

// Each record of clean.ref is a mail's HTML and the page part it becomes;
// no page may hold anything a browser would run. Hostile markup whose exact
// output does not matter is in the fuzz target's seeds (fuzz_sanitise_html),
// audited there also as an HTML5 parser reads it.
TEST_F(HtmlCleanTest, CasesOfCleanRef) {
    const auto cases = CASE_BLOCKS("clean.ref");
    EXPECT_GT(cases.size(), 70u);
    for (const auto& t : cases) {
        ASSERT_EQ(t.size(), 2u) << t[0];
        out.clear();
        write_clean_html(*c, t[0].data(), t[0].size());
        EXPECT_EQ(out, t[1]) << t[0];
        EXPECT_EQ(markup_audit::Audit(out), "") << t[0];
    }
}

} // namespace
