// List exchanges driven by hand: replies are fed to the list handlers as the
// POP3 client would, the commands come back through a socket pair, and the
// page is captured.
#include "mail/list/list_state.h"
#include "mail/list/received_list.h"
#include "mail/mail_fixture.h"
#include "mail/mail_golden.h"
#include "mail/mime/mime_state.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include <vector>

namespace {

const std::string kAddressLine = "Mail Address taro@example.jp\r\n";

struct TestMail {
    int size;
    std::string subject, date, from, messageId;
    int contentClass;
};

// Mail number of mails.cases.
TestMail Mail(size_t number) {
    static const auto mails = CASE_BLOCKS("mails.cases");
    const auto& t = mails.at(number - 1);
    return {std::stoi(t.at(0)), t.at(1), t.at(2), t.at(3), t.at(4), std::stoi(t.at(5))};
}

class ReceivedList : public MailTest {
protected:
    void SetUp() override {
        set_time_zone_bias_for_test(-540);
        MailTest::SetUp();
        NewVisit();
    }
    void TearDown() override {
        for (int set = 0; set < kSettingsSets; set++) free_kept_list(taro, set);
        MailTest::TearDown();
    }
    // A fresh request with its own POP3 connection, for the same user, to a
    // server asked already, without pipelining: one TOP at a time.
    void NewVisit() {
        Fresh();
        c->state = PageState::ListWait;
        c->pop3.capaKnown = 1;
    }
    void Stat(int count) {
        c->pop3.statCount = static_cast<uint16_t>(count);
        c->workerResult = StatSent;
        pop3_list_asks(*c, list_after_stat(*c, c->pop3.statCount));
    }
    void List(const std::vector<std::pair<int, int>>& numberAndSize) {
        for (auto [number, size] : numberAndSize)
            pop3_list_asks(
                *c, list_line(*c, (std::to_string(number) + " " + std::to_string(size)).c_str()));
        pop3_list_asks(*c, list_line(*c, "."));
    }
    // A TOP reply as the MIME parser leaves it.
    void Top(const TestMail& m) {
        MimeState& h = c->mime;
        mail_golden::Put(h.subjectLine, m.subject);
        mail_golden::Put(h.dateLine, m.date);
        mail_golden::Put(h.fromLine, m.from);
        mail_golden::Put(h.messageId, m.messageId);
        h.contentClass = static_cast<uint16_t>(m.contentClass);
        pop3_list_asks(*c, list_headers_done(*c));
    }
    // A whole exchange with a server holding mails; the commands after STAT.
    std::string Exchange(const std::vector<TestMail>& mails) {
        Stat(static_cast<int>(mails.size()));
        std::vector<std::pair<int, int>> lines;
        for (size_t i = 0; i < mails.size(); i++) lines.emplace_back(i + 1, mails[i].size);
        std::string sent = Sent();
        if (sent == "LIST\r\n") List(lines);
        for (std::string s; !(s = Sent()).empty();) {
            sent += s;
            int number = 0;
            if (sscanf(s.c_str(), "TOP %d 0", &number) == 1) Top(mails.at(number - 1));
        }
        return sent;
    }
    // The page after the heading.
    std::string Rows() const {
        size_t at = out.find(kAddressLine);
        return at == std::string::npos
                   ? "<no heading>"
                   : mail_golden::MaskListTime(out.substr(at + kAddressLine.size()));
    }
};

// "3:311:<id>": mail 3 with size 311 and that Message-Id.
TestMail Changed(const std::string& wanted) {
    const std::vector<std::string> parts = mail_golden::Split(wanted, ':');
    TestMail m = Mail(std::stoul(parts.at(0)));
    if (parts.size() > 1) m.size = std::stoi(parts[1]);
    if (parts.size() > 2) m.messageId = parts[2];
    return m;
}

TEST_F(ReceivedList, Visits) {
    for (const auto& record : CASE_BLOCKS("visits.cases")) {
        SCOPED_TRACE(record.at(0));
        free_kept_list(taro, 0);
        NewVisit();
        std::string sent, sections;
        mail_golden::Play(
            record,
            {{"visit",
              [&](S a) {
                  if (a == "forget") free_kept_list(taro, 0);
                  NewVisit();
                  sent.clear();
              }},
             {"exchange",
              [&](S a) {
                  std::vector<TestMail> mails;
                  for (const std::string& w : mail_golden::Split(a, ' '))
                      mails.push_back(Changed(w));
                  sent += Exchange(mails);
              }},
             {"stat", [&](S a) { Stat(std::stoi(a)); }},
             {"list",
              [&](S a) {
                  std::vector<std::pair<int, int>> lines;
                  for (const std::string& w : mail_golden::Split(a, ' '))
                      lines.emplace_back(std::stoi(w), std::stoi(w.substr(w.find(':') + 1)));
                  List(lines);
              }},
             {"top", [&](S a) { Top(Mail(std::stoul(a))); }},
             {"feed", [&](S a) { pop3_feed(*c, a.data(), a.size()); }},
             {"sent",
              [&](S a) {
                  EXPECT_EQ(sent + Sent(), a);
                  sent.clear();
              }},
             {"capa-unknown", [&](S) { c->pop3.capaKnown = 0; }},
             {"remove-kept", [&](S a) { remove_kept(taro, 0, std::stoi(a)); }},
             {"mark", [&](S a) { mark_read(taro->runtime.keptList[0], a[0] - '0', a[2] - '0'); }},
             {"clear-marks", [&](S) { clear_read_marks(taro); }},
             {"checked",
              [&](S a) {
                  const std::string box = "name=\"delete_a" + a.substr(0, 1) + "\" " +
                                          (a[2] == '1' ? "CHECKED" : "") + "><a";
                  EXPECT_NE(Rows().find(box), std::string::npos) << Rows();
              }},
             {"section", [&](S a) { sections += mail_golden::Section(a, Rows()); }},
             {"golden", [&](S a) { EXPECT_GOLDEN(a, sections); }},
             {"rows", [&](S a) { EXPECT_GOLDEN(a, Rows()); }},
             {"page-golden",
              [&](S a) { EXPECT_GOLDEN(a, mail_golden::MaskListTime(MaskDates(out))); }},
             {"japanese", [&](S) { c->english = 0; }},
             {"unchanged", [&](S) {
                  for (const KeptEntry* e = taro->runtime.keptList[0]; e; e = e->next)
                      ASSERT_EQ(e->changed, 0) << e->number;
              }}});
    }
}

TEST_F(ReceivedList, HeadersOfOneMessageDoNotLeakIntoTheNext) {
    Stat(2);
    List({{1, 10}, {2, 20}});
    Top(Mail(1));
    mail_golden::Put(c->mime.dateLine, Mail(2).date);
    pop3_list_asks(*c, list_headers_done(*c)); // no From, no Message-Id, no Content-Type
    const KeptEntry* second = taro->runtime.keptList[0]->next;
    EXPECT_STREQ(second->from, "");
    EXPECT_STREQ(second->messageId, "");
    EXPECT_EQ(second->contentClass, kClassText);
}

TEST_F(ReceivedList, MergedListSections) {
    snprintf(taro->set[1].id, sizeof taro->set[1].id, "jiro");
    snprintf(taro->set[1].mail_address, sizeof taro->set[1].mail_address, "jiro@example.net");
    snprintf(taro->runtime.pop3ErrorText[1], 300, "mailbox <locked>");
    std::string golden;
    for (const auto& t : CASE_BLOCKS("merged_sections.cases")) {
        out.clear();
        data_store().settings.per_user_servers = std::stoi(t.at(1));
        taro->runtime.pop3Status[1] = static_cast<uint16_t>(std::stoi(t.at(0)));
        list_section(*c, 1);
        golden += mail_golden::Section("status " + t[0] + " servers " + t[1], out);
    }
    EXPECT_GOLDEN("merged_sections.ref", golden);
}

TEST_F(ReceivedList, SingleMessageDeletionNeedsTheKeptIdentifier) {
    Exchange({Mail(1), Mail(2), Mail(3), Mail(4)});
    for (const auto& t : CASE_BLOCKS("deletion_tokens.cases")) {
        c->settingsIndex = static_cast<int16_t>(std::stoi(t.at(0)));
        EXPECT_EQ(delete_token_matches(*c, std::stoi(t.at(1)), t.at(2).c_str()), t.at(3) == "1")
            << t[0] << " " << t[1] << " " << t[2];
    }
}

} // namespace
