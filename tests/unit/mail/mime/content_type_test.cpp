#include "mail/mail_golden.h"
#include "mime_test_util.h"

#include <cstring>

namespace {

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
