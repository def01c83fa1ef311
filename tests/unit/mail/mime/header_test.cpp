#include "mime_test_util.h"

#include <cstring>

namespace {

TEST_F(MimeTest, ContinuationLinesJoinByTheirLeadingBlanks) {
    const struct {
        std::vector<std::string> lines;
        const char* block;
    } cases[] = {
        {{"Subject: a", " b"}, "Subject: ab\n"},
        {{"Subject: a", "  b"}, "Subject: a b\n"},
        {{"Subject: a", "\tb"}, "Subject: ab\n"},
        {{"Subject: a", "\t\tb"}, "Subject: a b\n"},
        {{"Subject: a\tb\rc"}, "Subject: a b c\n"},
        {{"To: x", "Cc: y"}, "To: x\nCc: y\n"},
        {{"no colon here"}, "no colon here\n"},
        // Encoded words folded over two lines meet without a blank.
        {{"Subject: =?ISO-2022-JP?B?GyRCJCIbKEI=?=", " =?ISO-2022-JP?B?GyRCJCQbKEI=?="},
         "Subject: \x1B$B$\"\x1B(B\x1B$B$$\x1B(B\n"},
        // A ':' inside two-byte JIS is half a kanji: the line continues.
        {{"Subject: x", "A\x1B$B:!\x1B(B"}, "Subject: xA\x1B$B:!\x1B(B\n"},
    };
    for (const auto& t : cases) {
        mime_reset(*c);
        for (const auto& l : t.lines) collect_header_line(*c, l.c_str());
        EXPECT_STREQ(c->mime.headerBlock, t.block) << t.lines[0];
    }
}

TEST_F(MimeTest, ForeignEncodedWordsBecomeShiftJis) {
    const struct {
        PageState state;
        const char* line;
        std::string subject;
    } cases[] = {
        {PageState::MessageWait, "Subject: =?UTF-8?B?5pel5pys6Kqe?=", Sjis("日本語")},
        {PageState::MessageWait, "Subject: =?utf-8?Q?=F0=9F=98=80_ok?=", "&#128512; ok"},
        {PageState::TextWait, "Subject: =?UTF-8?B?8J+YgA==?=", "\x81\xAC"},
        {PageState::MessageWait, "Subject: =?ISO-8859-1?Q?caf=E9?=", "caf&#233;"},
        {PageState::MessageWait, "Subject: =?UTF-8?B?5pel?= =?ISO-2022-JP?B?GyRCJCIbKEI=?=",
         Sjis("日") + " \x1B$B$\"\x1B(B"},
        {PageState::MessageWait, "Subject: =?us-ascii?Q?plain?=", "plain"},
        {PageState::MessageWait, "Subject: bad =?UTF-8?Q?=FFx?=", "bad &#65533;x"},
    };
    for (const auto& t : cases) {
        mime_reset(*c);
        c->state = t.state;
        Header({t.line});
        EXPECT_EQ(c->mime.subjectLine, t.subject) << t.line;
    }
}

TEST_F(MimeTest, HeaderFieldsAreRecognisedByNameColonAndBlank) {
    Header({"subject: S", "DATE: D", "From: F", "To: T", "Cc: C", "Reply-To: R",
            "Message-ID: <m@x>", "References: <r@x>", "In-Reply-To: <i@x>", "X-Mailer: Microsoft",
            "Content-Transfer-Encoding: Base64", "Content-ID: <cid1@x>", "Content-Type:text/html"});
    const MimeState& m = c->mime;
    EXPECT_STREQ(m.subjectLine, "S");
    EXPECT_STREQ(m.dateLine, "D");
    EXPECT_STREQ(m.fromLine, "F");
    EXPECT_STREQ(m.toLine, "T");
    EXPECT_STREQ(m.ccLine, "C");
    EXPECT_STREQ(m.replyTo, "R");
    EXPECT_STREQ(m.messageId, "<m@x>");
    EXPECT_STREQ(m.references, "<r@x>");
    EXPECT_STREQ(m.inReplyTo, "<i@x>");
    EXPECT_EQ(m.sjisParameters, 1u);
    EXPECT_EQ(m.transferMode, kTransferBase64);
    EXPECT_STREQ(user.runtime.attachments[0].message_name, "cid1@x");
    EXPECT_STREQ(m.contentType, ""); // no blank after the colon
    EXPECT_EQ(m.contentClass, kClassText);
}

TEST_F(MimeTest, TransferEncodingMustMatchWholly) {
    const struct {
        const char* value;
        uint16_t mode;
    } cases[] = {{"base64", kTransferBase64}, {"BASE64", kTransferBase64},
                 {"base64 ", kTransferNone},  {"Quoted-Printable", kTransferQuotedPrintable},
                 {"7bit", kTransferNone},     {"x-uuencode", kTransferNone}};
    for (const auto& t : cases) {
        mime_reset(*c);
        Header({std::string("Content-Transfer-Encoding: ") + t.value});
        EXPECT_EQ(c->mime.transferMode, t.mode) << t.value;
    }
}

TEST_F(MimeTest, SubjectWidensKanaAndACutNeverLeavesHalfAReference) {
    Header({"Subject: \xB6\xDE\xCA\xDF"});
    EXPECT_EQ(c->mime.subjectLine, Sjis("ガパ"));

    // 291 bytes then an emoji: its reference does not fit in 300 bytes.
    std::string word = "=?UTF-8?Q?" + std::string(291, 'a') + "=F0=9F=98=80?=";
    Header({"Subject: " + word});
    EXPECT_EQ(c->mime.subjectLine, std::string(291, 'a'));
}

TEST_F(MimeTest, EachMessageHeaderStartsWithoutTheFieldsOfTheLastOne) {
    c->workerResult = FetchingHeaders;
    Header({"Subject: first", "Date: d1"});
    memset(c->mime.headerBlock, 0, 2);
    Header({"From: f2"});
    EXPECT_STREQ(c->mime.subjectLine, "");
    EXPECT_STREQ(c->mime.dateLine, "");
    EXPECT_STREQ(c->mime.fromLine, "f2");
}

TEST_F(MimeTest, AnOversizedHeaderIsCutAndTheRestStillParses) {
    collect_header_line(*c, "Subject: kept");
    const std::string filler = "X-Filler: " + std::string(1000, 'x');
    for (int i = 0; i < 80; ++i) collect_header_line(*c, filler.c_str());
    collect_header_line(*c, "From: dropped");
    EXPECT_LT(strlen(c->mime.headerBlock), size_t(kHeaderBlockSize));
    EXPECT_EQ(c->mime.headerBlockLength, 0xFFFF);
    parse_header_block(*c, c->mime.headerBlock);
    EXPECT_STREQ(c->mime.subjectLine, "kept");
    EXPECT_STREQ(c->mime.fromLine, "");
    EXPECT_EQ(Body({"body"}), "0:body|");
}

} // namespace
