#include "base/charset/sjis.h"
#include "mail/compose/compose_form.h"
#include "mail/compose/compose_message.h"
#include "mail/compose/compose_page.h"
#include "mail/compose/outgoing.h"
#include "mail/compose/reply_fields.h"
#include "mail/compose/stream_jis.h"
#include "mail/mail_golden.h"
#include "mail/mime/mime_state.h"
#include "mail/smtp/smtp_client.h"
#include "mail/view/message_view.h"
#include "page/form_reading.h"
#include "server/form/form_reader.h"
#include "server/route/page_fixture.h"
#include <filesystem>
#include <regex>

namespace {

class ComposePageTest : public PageTest {
protected:
    ConnectionPtr User() {
        UserRecord* u = LoggedIn("taro");
        snprintf(u->set[0].name, sizeof u->set[0].name, "Taro");
        u->options[row_count] = 10;
        u->options[column_count] = 70;
        u->options[upload_no] = 2;
        ConnectionPtr c = Capture();
        c->user = u;
        strcpy(c->loginQuery, "?a=1");
        return c;
    }
    std::string Form(Connection& c, FormVariant v) {
        out.clear();
        WriteForm(c, v);
        return out;
    }
};

TEST_F(ComposePageTest, Forms) {
    for (const auto& record : CASE_BLOCKS("forms.cases")) {
        SCOPED_TRACE(record.at(0));
        set_default_settings(data_store().settings, data_store().user_folder.c_str());
        ConnectionPtr c = User();
        std::string form;
        mail_golden::Play(
            record,
            {{"cc-row", [&](S) { c->user->options[cc_flag] = 1; }},
             {"book", [&](S a) { c->user->address_book = a; }},
             {"browser",
              [&](S a) {
                  c->browser = (a.find("mozilla2") != a.npos ? kBrowserMozilla2 : 0) |
                               (a.find("mozilla5") != a.npos ? kBrowserMozilla5 : 0);
              }},
             {"quotation", [&](S a) { strcpy(c->user->set[0].quotation, a.c_str()); }},
             {"signature", [&](S a) { strcpy(c->user->set[0].signature, a.c_str()); }},
             {"from", [&](S a) { strcpy(c->mime.fromLine, a.c_str()); }},
             {"to", [&](S a) { strcpy(c->mime.toLine, a.c_str()); }},
             {"cc", [&](S a) { strcpy(c->mime.ccLine, a.c_str()); }},
             {"subject", [&](S a) { strcpy(c->mime.subjectLine, a.c_str()); }},
             {"quoted", [&](S a) { strcpy(c->quotationText, a.c_str()); }},
             {"fixed-quotation",
              [&](S a) {
                  data_store().settings.language_policy |= kLanguageQuotationFixed;
                  strcpy(data_store().settings.fixed_quotation, a.c_str());
              }},
             {"post", [&](S a) { StoreSendField(*c, a.c_str(), 1); }},
             {"broken-post",
              [&](S a) {
                  c->form.valueBroken = 1;
                  StoreSendField(*c, a.c_str(), 1);
                  c->form.valueBroken = 0;
              }},
             {"send-to", [&](S a) { EXPECT_EQ(c->send.sendTo, a); }},
             {"address-check", [&](S a) { EXPECT_EQ(AddressCheck(*c), a == "1"); }},
             {"text", [&](S a) { mail_golden::Put(c->messageText, a); }},
             {"upload",
              [&](S a) {
                  strcpy(c->userName, "taro");
                  c->uploadCount = 1;
                  WriteFile(home + "/temp/taro/taro.0", a);
              }},
             {"upload-gone",
              [&](S) { EXPECT_FALSE(std::filesystem::exists(home + "/temp/taro/taro.0")); }},
             {"second-set",
              [&](S a) {
                  data_store().settings.multiple_addresses = 1;
                  mail_golden::Put(c->user->set[1].id, a);
              }},
             {"link-to", [&](S a) { mail_golden::Put(c->send.linkTo, a); }},
             {"show",
              [&](S a) {
                  out.clear();
                  a == "compose" ? ShowComposePage(*c) : ShowAddressError(*c);
                  form = MaskDates(out);
              }},
             {"mail",
              [&](S a) {
                  // A post of taro's to and about the given, its boundary fixed.
                  mail_golden::Put(c->send.sendTo, a.substr(0, a.find('|')));
                  mail_golden::Put(c->send.sendSubject, a.substr(a.find('|') + 1));
                  strcpy(c->userName, "taro");
                  strcpy(c->form.boundary, "--XyZ");
              }},
             {"send-cc", [&](S a) { mail_golden::Put(c->send.sendCc, a); }},
             {"date-and-id",
              [&](S) { data_store().settings.mail_options = kMailAddDate | kMailAddMessageId; }},
             {"last-id", [&](S a) { mail_golden::Put(c->user->runtime.lastMessageId, a); }},
             {"references", [&](S a) { mail_golden::Put(c->user->runtime.replyReferences, a); }},
             {"attach",
              [&](S a) {
                  // Bytes 0, 7, 14 ... of the size given.
                  std::string bytes(std::stoul(a.substr(a.find(' ') + 1)), '\0');
                  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<char>(i * 7);
                  const int n = c->uploadCount++;
                  mail_golden::Put(c->uploadNames[n], a.substr(0, a.find(' ')));
                  WriteFile(UploadPath(*c, n), bytes);
              }},
             {"compose",
              [&](S) {
                  smtp_recipient_lines(*c);
                  FormSenderLines(*c);
                  form.clear();
                  ComposeMessage(*c, &form);
                  // The date and the id's time and random part change from run to run.
                  form = std::regex_replace(
                      std::regex_replace(form, std::regex("^Date: [^\r]+"), "Date: *"),
                      std::regex("\r\nMessage-Id: <[0-9]+\\.[0-9A-F]+\\.taro@example\\.jp>\r\n"),
                      "\r\nMessage-Id: <*.*.taro@example.jp>\r\n");
              }},
             {"uploads-gone",
              [&](S) {
                  for (int n = 0; n < 2; n++)
                      EXPECT_FALSE(std::filesystem::exists(UploadPath(*c, n)));
              }},
             {"text-holds",
              [&](S a) { EXPECT_NE(std::string(c->messageText).find(a), std::string::npos); }},
             {"new", [&](S) { form = Form(*c, FormVariant::New); }},
             {"reply", [&](S) { form = Form(*c, FormVariant::Reply); }},
             {"golden", [&](S a) { EXPECT_GOLDEN(a, form); }},
             {"page", [&](S a) { EXPECT_NE(form.find(a), std::string::npos) << form; }}});
    }
}

TEST_F(ComposePageTest, ReplySubjectsAndFieldsConvertJisBeforeEscaping) {
    ConnectionPtr c = User();
    for (const auto& t : CASE_BLOCKS("reply_subjects.cases")) {
        strcpy(c->mime.subjectLine, t.at(0).c_str());
        EXPECT_EQ(ReplySubject(*c, false), t.at(1)) << t[0];
    }
    EXPECT_EQ(ReplySubject(*c, true), "");

    // Every JIS X 0208 code with '"', '&', '<' or '>' among its two bytes
    // must reach the reply form as its Shift_JIS character, not as escaped
    // halves.
    const std::string markup = "\"&<>";
    int checked = 0;
    for (int row = 0x21; row <= 0x74; row++) {
        for (int cell = 0x21; cell <= 0x7E; cell++) {
            if (markup.find(char(row)) == std::string::npos &&
                markup.find(char(cell)) == std::string::npos)
                continue;
            // The conversion itself is proven against iconv in charset_test.
            const uint16_t code = jis_to_sjis(row, cell);
            const std::string sjis{char(code >> 8), char(code)};
            const std::string jis = std::string("\x1b$B") + char(row) + char(cell) + "\x1b(B";
            mail_golden::Put(c->mime.subjectLine, jis);
            snprintf(c->mime.fromLine, sizeof c->mime.fromLine, "%s <h@b.c>", jis.c_str());
            snprintf(c->mime.toLine, sizeof c->mime.toLine, "%s <k@b.c>", jis.c_str());
            EXPECT_EQ(ReplySubject(*c, false), "Re: " + sjis) << std::hex << row << cell;
            EXPECT_EQ(ReplyAddress(*c), "h@b.c") << std::hex << row << cell;
            EXPECT_EQ(OtherRecipients(*c), "k@b.c") << std::hex << row << cell;
            checked++;
        }
    }
    EXPECT_EQ(checked, 696); // the page itself is in forms.cases
}

TEST(UploadExtension, ByTheLastDotUnlessAPathComesFirst) {
    for (const auto& t : SERVER_CASES("upload_extensions.cases"))
        EXPECT_STREQ(UploadExtension(t.at(0).c_str()), t.at(1).c_str()) << t[0];
}

std::string Jis(const std::string& sjis) {
    std::string out;
    {
        SmtpStage stage(-1, nullptr, &out);
        StreamJis(stage, sjis.data(), sjis.size());
    }
    return out;
}

TEST(StreamJis, RunsEscapedKanaWidenedDotsDoubledLongLinesFolded) {
    for (const auto& t : CASE_BLOCKS("stream_jis.ref")) EXPECT_EQ(Jis(t.at(0)), t.at(1)) << t[0];
    // Lines fold within the SMTP limit of 998 bytes. A folded two-byte run
    // is closed before each break and reopened after it, so every line
    // decodes alone; a dot that a fold brings to the start of a line is
    // doubled too.
    EXPECT_GOLDEN(
        "stream_folds.ref",
        mail_golden::Section("ascii", Jis(std::string(2500, 'a') + "\r\n")) +
            mail_golden::Section("kanji", Jis(mail_golden::Repeated("\x88\x9F", 1200) + "\r\n")) +
            mail_golden::Section("dot", Jis(std::string(998, 'b') + ".c\r\n")));
}

} // namespace
