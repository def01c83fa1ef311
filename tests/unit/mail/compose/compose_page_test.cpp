#include "mail/compose/compose_form.h"
#include "mail/compose/compose_page.h"
#include "mail/compose/reply_fields.h"
#include "mail/view/message_view.h"
#include "server/form/form_reader.h"
#include "server/route/page_fixture.h"

namespace {

class ComposePageTest : public PageTest {
protected:
    ConnectionPtr User(uint16_t browser) {
        UserRecord* u = LoggedIn("taro");
        snprintf(u->set[0].name, sizeof u->set[0].name, "Taro");
        u->options[row_count] = 10;
        u->options[column_count] = 70;
        u->options[upload_no] = 2;
        ConnectionPtr c = Capture();
        c->user = u;
        c->browser = browser;
        strcpy(c->loginQuery, "?a=1");
        return c;
    }
    std::string Form(Connection& c, FormVariant v) {
        out.clear();
        WriteForm(c, v);
        return out;
    }
};

TEST_F(ComposePageTest, PlainBrowsersGetSelectsAndNoUploads) {
    ConnectionPtr c = User(0);
    c->user->options[cc_flag] = 1;
    c->user->address_book = "Hana <h@b.c>,<x@b.c>";
    const std::string form = Form(*c, FormVariant::New);
    const std::string book = "<option><option>Hana &lt;h@b.c&gt;<option>&lt;x@b.c&gt;</select>";
    EXPECT_NE(form.find("<select name=\"send_to\">" + book), std::string::npos) << form;
    EXPECT_NE(form.find("Cc       : <select name=\"send_cc\">" + book), std::string::npos);
    EXPECT_EQ(form.find("<script"), std::string::npos);
    EXPECT_EQ(form.find("upload"), std::string::npos);
    EXPECT_EQ(form.find("enctype"), std::string::npos);
}

TEST_F(ComposePageTest, ReplyQuotesEscapesAndOffersTheOthers) {
    ConnectionPtr c = User(kBrowserMozilla2 | kBrowserMozilla5);
    strcpy(c->user->set[0].quotation, ">");
    strcpy(c->user->set[0].signature, "-- \r\nTaro");
    strcpy(c->mime.fromLine, "Hana <h@b.c>");
    strcpy(c->mime.toLine, "taro@example.jp, Ken <k@b.c>");
    strcpy(c->mime.ccLine, "m@b.c");
    strcpy(c->mime.subjectLine, "[ml:5] re: hello");
    strcpy(c->quotationText, "one\r\n</textarea>two\r\n");
    const std::string form = Form(*c, FormVariant::Reply);
    EXPECT_EQ(form.rfind("<script language=\"JavaScript\">\r\n<!--\r\n", 0), 0u);
    EXPECT_NE(form.find("enctype=\"multipart/form-data\""), std::string::npos);
    EXPECT_NE(form.find("Return To: <input type=text name=\"send_to\" value=\"h@b.c\""),
              std::string::npos);
    EXPECT_NE(form.find("value=\"re: hello\""), std::string::npos);
    EXPECT_NE(form.find("name=\"message\">>one\r\n>&lt;/textarea&gt;two\r\n\r\n-- \r\nTaro"
                        "</textarea>"),
              std::string::npos)
        << form;
    EXPECT_NE(form.find("name=\"upload2\""), std::string::npos);
    EXPECT_EQ(form.find("name=\"upload3\""), std::string::npos);
    EXPECT_NE(form.find("<input type=\"hidden\" name=\"base\" value=\"k@b.c,m@b.c\">"),
              std::string::npos);
}

TEST_F(ComposePageTest, BrokenTwoByteRunDoesNotEndTheQuotation) {
    ConnectionPtr c = User(0);
    strcpy(c->user->set[0].quotation, ">");
    // The pair '"' 0x82 converts to a lead byte and a NUL.
    strcpy(c->quotationText, "one \x1b$B\"\x82\x1b(B\r\ntwo\r\n");
    const std::string form = Form(*c, FormVariant::Reply);
    EXPECT_NE(form.find(">two\r\n"), std::string::npos) << form;
}

TEST_F(ComposePageTest, SettingsRowOffersTheOtherConfiguredSets) {
    data_store().settings.multiple_addresses = 1;
    ConnectionPtr c = User(0);
    strcpy(c->user->set[1].id, "taro2");
    strcpy(c->composeTo, "k@b.c");
    ShowComposePage(*c);
    EXPECT_NE(out.find("<center>Settings  1  <a href=\"/mail/write/index2.html?to=k@b.c?a=1\">"
                       "Write using Settings 2</a></center><hr><br>"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("index3.html"), std::string::npos);
}

TEST_F(ComposePageTest, ReplySubjects) {
    ConnectionPtr c = User(0);
    const std::pair<const char*, const char*> cases[] = {
        {"[list 12] Re: x", "Re: x"}, {"[list 12] x", "Re: x"},   {"RE: x", "RE: x"},
        {"Fw: x", "Re: Fw: x"},       {"[open x", "Re: [open x"}, {"", ""},
    };
    for (auto [subject, reply] : cases) {
        strcpy(c->mime.subjectLine, subject);
        EXPECT_EQ(ReplySubject(*c, false), reply) << subject;
    }
    EXPECT_EQ(ReplySubject(*c, true), "");
}

TEST_F(ComposePageTest, PostedListsAppendAndTheErrorPageStripsTheSignature) {
    install_compose();
    ConnectionPtr c = User(kBrowserMozilla2);
    strcpy(c->user->set[0].signature, "--\r\nTaro");
    c->user->options[cc_flag] = 1;
    SendField(*c, "to=a@b.c", 1);
    SendField(*c, "to=Taro <t@b.c>\r\n", 1);
    SendField(*c, "cc=t@host", 1);
    EXPECT_STREQ(c->send.sendTo, "a@b.c,Taro <t@b.c>");
    EXPECT_FALSE(AddressCheck(*c));
    strcpy(c->messageText, "hello\r\n--\r\nTaro\r\n");
    // The files of a post that is not sent do not stay behind.
    strcpy(c->userName, "taro");
    c->uploadCount = 1;
    WriteFile(home + "/temp/taro/taro.0", "upload");
    out.clear();
    ShowAddressError(*c);
    EXPECT_FALSE(std::filesystem::exists(home + "/temp/taro/taro.0"));
    EXPECT_NE(out.find("Enter the receiver's address correctly."), std::string::npos);
    EXPECT_NE(out.find("value=\"t@host\""), std::string::npos);
    EXPECT_NE(out.find("name=\"message\">hello\r\n--\r\nTaro</textarea>"), std::string::npos)
        << out;
    SendField = nullptr;
    ReplyForm = nullptr;
}

} // namespace
