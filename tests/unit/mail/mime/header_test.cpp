#include "mail/mail_golden.h"
#include "mime_test_util.h"

#include "mail/charset/foreign_charset.h"
#include "server/route/page_fixture.h"
#include <cstring>

namespace {

TEST_F(MimeTest, ContinuationLinesJoinByTheirLeadingBlanks) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("header_folding.cases"))) {
        mime_reset(*c);
        for (size_t i = 0; i + 1 < t.size(); i++) collect_header_line(*c, t[i].c_str());
        EXPECT_EQ(c->mime.headerBlock, t.back()) << t.at(0);
    }
}

TEST_F(MimeTest, ForeignEncodedWordsBecomeShiftJis) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("foreign_words.cases"))) {
        mime_reset(*c);
        c->state = t.at(0) == "TextWait" ? PageState::TextWait : PageState::MessageWait;
        Header({t.at(1)});
        EXPECT_EQ(c->mime.subjectLine, t.at(2)) << t[1];
    }
}

TEST_F(MimeTest, HeaderFieldsAreRecognisedByNameColonAndBlank) {
    Header({"subject: S", "DATE: D", "From: F", "To: T", "Cc: C", "Reply-To: R",
            "Message-ID: <m@x>", "References: <r@x>", "In-Reply-To: <i@x>", "X-Mailer: Microsoft",
            "Content-Transfer-Encoding: Base64", "Content-ID: <cid1@x>", "Content-Type:text/html"});
    const MimeState& m = c->mime;
    // The Content-Type has no blank after the colon: it is not taken.
    EXPECT_EQ(std::string(m.subjectLine) + "|" + m.dateLine + "|" + m.fromLine + "|" + m.toLine +
                  "|" + m.ccLine + "|" + m.replyTo + "|" + m.messageId + "|" + m.references + "|" +
                  m.inReplyTo + "|" + user.runtime.attachments[0].message_name + "|" +
                  m.contentType + "|",
              "S|D|F|T|C|R|<m@x>|<r@x>|<i@x>|cid1@x||");
    EXPECT_EQ(m.sjisParameters, 1u);
    EXPECT_EQ(m.transferMode, kTransferBase64);
    EXPECT_EQ(m.contentClass, kClassText);
}

// The transfer encoding must match wholly; EUC-JP lines only when the
// charset is the first parameter.
TEST_F(MimeTest, TransferModes) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("transfer_modes.cases"))) {
        mime_reset(*c);
        Header({t.begin(), t.end() - 1});
        EXPECT_EQ(c->mime.transferMode, std::stoi(t.back())) << t.at(0);
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

std::string Convert(const char* charset, const std::string& in, ForeignMode mode,
                    size_t cap = 256) {
    std::string out(cap + 1, 'Z');
    const int n = convert_foreign_to_sjis(charset, in.data(), in.size(), out.data(), cap, mode);
    if (n < 0) return "(none)";
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(out[cap], 'Z'); // nothing past the capacity
    return out.substr(0, n);
}

TEST(ForeignCharset, WhichLabelsAreConverted) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("foreign_labels.cases")))
        EXPECT_EQ(is_foreign_charset(t.at(0).c_str()), t.at(1) == "1") << t[0];
    EXPECT_FALSE(is_foreign_charset(nullptr));
}

TEST(ForeignCharset, ConvertsOrMarksEveryCharacter) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("foreign_text.cases"))) {
        const ForeignMode mode = t.at(2) == "Geta" ? ForeignMode::Geta : ForeignMode::Ncr;
        EXPECT_EQ(Convert(t.at(0).c_str(), t.at(1), mode), t.at(3)) << t[1];
    }
}

TEST(ForeignCharset, NeverSplitsACharacterAtTheBound) {
    const std::string text = "\xE6\x97\xA5\xF0\x9F\x98\x80z"; // 日, emoji, z
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 2), "");
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 11), Sjis("日"));
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 12), Sjis("日") + "&#128512;");
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Geta, 5), Sjis("日") + "\x81\xAC");
}

TEST(ForeignCharset, ReferencesTheFilterMayPass) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("filter_references.cases")))
        EXPECT_EQ(foreign_ncr_length(t.at(0).c_str()), std::stoi(t.at(1))) << t[0];
}

TEST_F(MimeTest, ContentTypesGiveTheirClasses) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("content_classes.ref"))) {
        mime_reset(*c);
        c->mime.contentClass = ContentClass(t.at(0));
        analyse_content_type(*c, t.at(1).c_str());
        EXPECT_EQ(c->mime.contentClass, ContentClass(t.at(2))) << t[1];
    }
}

TEST_F(MimeTest, ForeignCharsetOfTextPartsIsRemembered) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("text_charsets.ref"))) {
        mime_reset(*c);
        analyse_content_type(*c, t.at(0).c_str());
        EXPECT_EQ(c->mime.textCharset, t.at(1)) << t[0];
    }
}

TEST_F(MimeTest, FileNamesComeFromTheNameParameter) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("file_names.ref"))) {
        mime_reset(*c);
        user.runtime.attachments[0].file_name[0] = '\0';
        analyse_content_type(*c, ("application/x-test" + t.at(0)).c_str());
        EXPECT_EQ(user.runtime.attachments[0].file_name, t.at(1)) << t[0];
    }
    // The second byte of 表 is a backslash, which must not cut the name.
    analyse_content_type(*c, ("image/gif; name=\"" + Sjis("表.gif") + "\"").c_str());
    EXPECT_EQ(user.runtime.attachments[0].file_name, Sjis("表.gif"));
}

TEST_F(MimeTest, BoundariesAreTakenUpToTen) {
    analyse_content_type(*c, "multipart/report; report-type=delivery-status; boundary=\"r1\"");
    EXPECT_STREQ(c->mime.boundaries[0], "r1");
    analyse_content_type(*c, "multipart/mixed");
    EXPECT_EQ(c->mime.boundaryCount, 1);
    for (int i = 1; i < 12; ++i) {
        analyse_content_type(*c, ("multipart/mixed; boundary=b" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(c->mime.boundaryCount, kMaxBoundaries);
    EXPECT_STREQ(c->mime.boundaries[9], "b9");
    EXPECT_EQ(c->mime.contentClass, kClassMultipart);
}

TEST_F(MimeTest, ListModeLeavesTheSlotsAlone) {
    c->workerResult = FetchingHeaders;
    strcpy(user.runtime.attachments[0].message_name, "kept");
    Header({"Content-Type: image/gif; name=x.gif", "Content-ID: <other>"});
    EXPECT_EQ(c->mime.contentClass, kClassImage);
    EXPECT_STREQ(user.runtime.attachments[0].file_name, "");
    EXPECT_STREQ(user.runtime.attachments[0].message_name, "kept");
    EXPECT_EQ(c->file, -1);
    EXPECT_EQ(page, "");
}

TEST_F(MimeTest, DividedMailPhases) {
    analyse_content_type(*c, "message/partial; id=\"<a@b>\"; number=1; total=3");
    EXPECT_EQ(c->mime.dividedPhase, 1);
    EXPECT_EQ(c->mime.partTotal, 3);
    EXPECT_STREQ(c->mime.partialId, "\"<a@b>\"");

    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("partial_search.cases"))) {
        c->mime.dividedPhase = 3;
        c->mime.partNumber = std::stoi(t.at(1));
        partial_parameters(*c, t.at(0).c_str());
        EXPECT_EQ(c->mime.dividedPhase, std::stoi(t.at(2))) << t[0];
    }
    // Opened at part 2: a normal message that knows its total.
    mime_reset(*c);
    partial_parameters(*c, "number=2; total=4; id=x");
    EXPECT_EQ(c->mime.dividedPhase, 0);
    EXPECT_EQ(c->mime.partTotal, 4);
}

} // namespace
