#include "mail/compose/compose_message.h"
#include "mail/smtp/smtp_client.h"
#include "server/route/page_fixture.h"

#include <filesystem>
#include <regex>

namespace {

class ComposeMessageTest : public PageTest {
protected:
    ConnectionPtr Post(const char* to, const char* subject, const char* text) {
        UserRecord* u = LoggedIn("taro");
        snprintf(u->set[0].name, sizeof u->set[0].name, "Taro");
        ConnectionPtr c = Capture();
        c->user = u;
        strcpy(c->userName, "taro");
        snprintf(c->send.sendTo, sizeof c->send.sendTo, "%s", to);
        snprintf(c->send.sendSubject, sizeof c->send.sendSubject, "%s", subject);
        snprintf(c->messageText, sizeof c->messageText, "%s", text);
        strcpy(c->boundary, "--XyZ");
        return c;
    }
    void Upload(Connection& c, const char* name, const std::string& bytes) {
        const int n = c.uploadCount++;
        snprintf(c.uploadNames[n], sizeof c.uploadNames[n], "%s", name);
        WriteFile(UploadPath(c, n), bytes);
    }
    std::string Compose(Connection& c) {
        smtp_recipient_lines(c);
        FormSenderLines(c);
        std::string data;
        ComposeMessage(c, &data);
        return data;
    }
};

TEST_F(ComposeMessageTest, PlainAsciiMessageHasExactlyTheseHeaders) {
    ConnectionPtr c = Post("hanako@example.jp", "hello", "line 1\r\n.\r\n");
    strcpy(c->send.sendBcc, "secret@example.jp");
    EXPECT_EQ(Compose(*c), "Subject: hello\r\n"
                           "From: Taro <taro@example.jp>\r\n"
                           "To: hanako@example.jp\r\n"
                           "MIME-Version: 1.0\r\n"
                           "Content-Type: text/plain; charset=US-ASCII\r\n"
                           "Content-Transfer-Encoding: 7bit\r\n"
                           "X-Mailer: Tarnbox Version 1.51\r\n"
                           "\r\n"
                           "line 1\r\n..\r\n"
                           "\r\n.\r\n");
}

TEST_F(ComposeMessageTest, ReplyReferencesDateAndIdOptions) {
    data_store().settings.mail_options = kMailAddDate | kMailAddMessageId;
    ConnectionPtr c = Post("a@example.jp", "Re: x", "t\r\n");
    strcpy(c->send.sendCc, "b@example.jp");
    strcpy(c->user->runtime.lastMessageId, "<m1@example.jp>");
    strcpy(c->user->runtime.replyReferences, "<m0@example.jp> <m1@example.jp>");
    const std::string data = Compose(*c);
    EXPECT_EQ(data.rfind("Date: ", 0), 0u) << data;
    const size_t id = data.find("\r\nMessage-Id: <");
    const size_t subject = data.find("\r\nSubject: Re: x\r\n");
    ASSERT_NE(id, std::string::npos);
    EXPECT_LT(id, subject);
    EXPECT_TRUE(std::regex_search(
        data, std::regex("\r\nMessage-Id: <[0-9]+\\.[0-9A-F]+\\.taro@example\\.jp>\r\n")))
        << data;
    EXPECT_NE(data.find("To: a@example.jp\r\nCc: b@example.jp\r\n"
                        "In-Reply-To: <m1@example.jp>\r\n"
                        "References: <m0@example.jp> <m1@example.jp>\r\n"
                        "MIME-Version: 1.0\r\n"),
              std::string::npos)
        << data;
}

TEST_F(ComposeMessageTest, JapaneseAnywhereSwitchesTheLabelButBccStaysUnwritten) {
    ConnectionPtr c = Post("a@example.jp", "x", "plain\r\n");
    strcpy(c->send.sendBcc, "\x91\xbe\x98\x59 <b@example.jp>");
    const std::string data = Compose(*c);
    EXPECT_NE(data.find("charset=ISO-2022-JP\r\n"), std::string::npos);
    EXPECT_EQ(data.find("Bcc"), std::string::npos);
    EXPECT_EQ(data.find("b@example.jp"), std::string::npos);
}

TEST_F(ComposeMessageTest, AttachmentsStreamAsBase64PartsAndTheirFilesGo) {
    ConnectionPtr c = Post("a@example.jp", "files", "see\r\n");
    std::string exact(2736, '\0'), over(2737, '\0');
    for (size_t i = 0; i < over.size(); i++) over[i] = static_cast<char>(i * 7);
    exact = over.substr(0, 2736);
    Upload(*c, "PHOTO.JPG", exact);
    Upload(*c, "notes", over);
    const std::string data = Compose(*c);
    EXPECT_NE(data.find("Content-Type: multipart/mixed; boundary=\"XyZ\"\r\n"), std::string::npos);
    const std::string text =
        "\r\n--XyZ\r\nContent-Type: text/plain; charset=US-ASCII\r\n\r\nsee\r\n";
    EXPECT_NE(data.find(text), std::string::npos) << data.substr(0, 400);
    const size_t first = data.find("--XyZ\r\nContent-Type: image/jpeg; name=\"PHOTO.JPG\"\r\n"
                                   "Content-Disposition: inline; filename=\"PHOTO.JPG\"\r\n"
                                   "Content-Transfer-Encoding: base64\r\n\r\n");
    const size_t second =
        data.find("--XyZ\r\nContent-Type: application/octet-stream; name=\"notes\"\r\n"
                  "Content-Disposition: attachment; filename=\"notes\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\n");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    // 2,736 bytes are 48 full lines; one byte more adds a line of 4 ending "==".
    auto lines = [&](size_t from) {
        std::vector<std::string> out;
        size_t at = data.find("\r\n\r\n", from) + 4;
        for (;;) {
            const size_t end = data.find("\r\n", at);
            if (end == at) break;
            out.push_back(data.substr(at, end - at));
            at = end + 2;
        }
        return out;
    };
    const auto a = lines(first), b = lines(second);
    ASSERT_EQ(a.size(), 48u);
    ASSERT_EQ(b.size(), 49u);
    for (size_t i = 0; i < 48; i++) EXPECT_EQ(a[i].size(), 76u);
    EXPECT_EQ(b[48].size(), 4u);
    EXPECT_EQ(b[48].substr(2), "==");
    EXPECT_EQ(data.substr(data.size() - 14), "\r\n--XyZ--\r\n.\r\n");
    EXPECT_FALSE(std::filesystem::exists(UploadPath(*c, 0)));
    EXPECT_FALSE(std::filesystem::exists(UploadPath(*c, 1)));
}

TEST(UploadExtension, ByTheLastDotUnlessAPathComesFirst) {
    EXPECT_STREQ(UploadExtension("a.b.JPG"), "JPG");
    EXPECT_STREQ(UploadExtension("C:\\dir.x\\file"), "");
    EXPECT_STREQ(UploadExtension("gif"), "gif");
}

} // namespace
