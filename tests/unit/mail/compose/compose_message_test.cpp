#include "mail/charset/base64.h"
#include "mail/compose/compose_message.h"
#include "mail/mail_golden.h"
#include "mail/smtp/smtp_client.h"
#include "server/route/page_fixture.h"

#include "mail/charset/charset_test_util.h"
#include "mail/compose/stream_jis.h"
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
        strcpy(c->form.boundary, "--XyZ");
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
    EXPECT_GOLDEN("plain_ascii.ref", Compose(*c)); // no Bcc line, the dot doubled
}

TEST_F(ComposeMessageTest, ReplyReferencesDateAndIdOptions) {
    data_store().settings.mail_options = kMailAddDate | kMailAddMessageId;
    ConnectionPtr c = Post("a@example.jp", "Re: x", "t\r\n");
    strcpy(c->send.sendCc, "b@example.jp");
    strcpy(c->user->runtime.lastMessageId, "<m1@example.jp>");
    strcpy(c->user->runtime.replyReferences, "<m0@example.jp> <m1@example.jp>");
    // The date and the id's time and random part change from run to run.
    const std::string data = std::regex_replace(
        std::regex_replace(Compose(*c), std::regex("^Date: [^\r]+"), "Date: *"),
        std::regex("\r\nMessage-Id: <[0-9]+\\.[0-9A-F]+\\.taro@example\\.jp>\r\n"),
        "\r\nMessage-Id: <*.*.taro@example.jp>\r\n");
    EXPECT_GOLDEN("reply_options.ref", data);
}

TEST_F(ComposeMessageTest, AttachmentsEndOnWholeLinesAndTheirFilesGo) {
    ConnectionPtr c = Post("a@example.jp", "files", "see\r\n");
    std::string over(2737, '\0');
    for (size_t i = 0; i < over.size(); i++) over[i] = static_cast<char>(i * 7);
    // 2,736 bytes are 48 full lines; one byte more adds a line of 4 ending "==".
    const std::string exact = over.substr(0, 2736);
    Upload(*c, "PHOTO.JPG", exact);
    Upload(*c, "notes", over);
    EXPECT_GOLDEN("attachments.ref", Compose(*c));
    EXPECT_FALSE(std::filesystem::exists(UploadPath(*c, 0)));
    EXPECT_FALSE(std::filesystem::exists(UploadPath(*c, 1)));
}

TEST(UploadExtension, ByTheLastDotUnlessAPathComesFirst) {
    EXPECT_STREQ(UploadExtension("a.b.JPG"), "JPG");
    EXPECT_STREQ(UploadExtension("C:\\dir.x\\file"), "");
    EXPECT_STREQ(UploadExtension("gif"), "gif");
}

} // namespace

// Browsers post what Shift_JIS cannot hold as "&#NNNN;": such fields leave as
// UTF-8, and only they; addresses stay outside the encoded words.
TEST_F(ComposeMessageTest, CharactersOutsideShiftJisLeaveAsUtf8) {
    ConnectionPtr c = Post(
        "J&#252;rgen <j@example.de>, a@example.jp", "Gr&#252;&#223;e aus M&#252;nchen &#127881;",
        "Gr&#252;&#223;e aus M&#252;nchen &#127881;\r\n\x89\xef\x8b\x63\x8e\xba\r\n");
    EXPECT_GOLDEN("utf8_fields.ref", Compose(*c));
    // The text as held for the sent log keeps the references.
    EXPECT_NE(std::string(c->messageText).find("&#127881;"), std::string::npos);

    // Text that fits stays ISO-2022-JP, whatever the subject needed; a long
    // run is cut into words between characters and folded.
    std::string subject;
    for (int i = 0; i < 12; i++) subject += "&#252;\x89\xef";
    c = Post("a@example.jp", subject.c_str(), "\x89\xef\r\n");
    const std::string jis = Compose(*c);
    EXPECT_NE(jis.find("charset=ISO-2022-JP"), std::string::npos);
    const size_t start = jis.find("Subject: ");
    ASSERT_NE(start, std::string::npos) << jis;
    const std::string header = jis.substr(start, jis.find("From: ") - start);
    std::string decoded;
    const std::regex word("=\\?UTF-8\\?B\\?([^?]*)\\?=");
    for (auto w = std::sregex_iterator(header.begin(), header.end(), word);
         w != std::sregex_iterator(); ++w) {
        const std::string b64 = (*w)[1];
        std::string bytes(static_cast<size_t>(base64_decoded_max(int(b64.size()))), '\0');
        bytes.resize(static_cast<size_t>(base64_decode(bytes.data(), b64.data(), int(b64.size()))));
        decoded += bytes;
        EXPECT_LE(w->length(), 75) << header;
    }
    std::string expected;
    for (int i = 0; i < 12; i++) expected += "\xc3\xbc\xe4\xbc\x9a"; // ü会
    EXPECT_EQ(decoded, expected) << header;
    size_t longest = 0;
    for (size_t at = 0, end; (end = header.find("\r\n", at)) != std::string::npos; at = end + 2)
        longest = std::max(longest, end - at);
    EXPECT_LE(longest, 76u) << header;
}

namespace {

std::string Jis(const std::string& sjis) {
    std::string out;
    {
        SmtpStage stage(-1, nullptr, &out);
        StreamJis(stage, sjis.data(), sjis.size());
    }
    return out;
}

TEST(StreamJis, RunsEscapedKanaWidenedDotsDoubled) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("stream_jis.ref")))
        EXPECT_EQ(Jis(t.at(0)), t.at(1)) << t[0];
}

TEST(StreamJis, LongLinesAreFoldedWithinTheSmtpLimit) {
    const std::string ascii(2500, 'a');
    auto lines = charset_test::crlf_lines(Jis(ascii + "\r\n"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 998u);
    EXPECT_EQ(lines[0] + lines[1] + lines[2], ascii);

    // A folded two-byte run is closed before each break and reopened after
    // it, so every line decodes alone.
    std::string kanji;
    for (int i = 0; i < 1200; i++) kanji += "\x88\x9F";
    lines = charset_test::crlf_lines(Jis(kanji + "\r\n"));
    ASSERT_GE(lines.size(), 3u);
    size_t pairs = 0;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 998u);
        ASSERT_EQ(line.substr(0, 3), "\x1B$B");
        ASSERT_EQ(line.substr(line.size() - 3), "\x1B(B");
        pairs += (line.size() - 6) / 2;
    }
    EXPECT_EQ(pairs, 1200u);

    // A dot that a fold brings to the start of a line is doubled too.
    lines = charset_test::crlf_lines(Jis(std::string(998, 'b') + ".c\r\n"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "..c");
}

} // namespace
