#include "mail/mail_golden.h"
#include "mime_test_util.h"

#include <cstring>

namespace {

TEST_F(MimeTest, BoundaryLinesAndTheRuleBetweenParts) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("boundary_lines.ref"))) {
        mime_reset(*c);
        strcpy(c->mime.boundaries[0], "b1");
        strcpy(c->mime.boundaries[1], "b2");
        c->mime.boundaryCount = 2;
        c->mime.contentClass = ContentClass(t.at(0));
        c->mime.transferMode = kTransferBase64;
        c->mime.base64CarryLength = 3;
        c->mime.partSeparatorPending = 9;
        c->state = t.at(1) == "message" ? PageState::MessageWait : PageState::TextWait;
        const bool boundary = t.at(3) == "1";
        EXPECT_EQ(is_boundary_line(*c, t.at(2).c_str()), boundary) << t[2];
        EXPECT_EQ(c->mime.partSeparatorPending, std::stoi(t.at(4))) << t[2];
        if (!boundary) continue;
        EXPECT_EQ(c->mime.inPartHeader, 1);
        EXPECT_EQ(c->mime.transferMode, kTransferNone);
        EXPECT_EQ(c->mime.base64CarryLength, 0);
    }
    mime_reset(*c);
    EXPECT_FALSE(is_boundary_line(*c, "--"));
}

TEST_F(MimeTest, MixedMessageWithRuleAndClosingBoundary) {
    Header({"Content-Type: multipart/mixed;", "\tboundary=\"b1\""});
    EXPECT_STREQ(c->mime.boundaries[0], "b1");
    EXPECT_EQ(Body({"preamble", "--b1", "Content-Type: text/plain", "", "one", "--b1",
                    "Content-Type: text/plain;", " charset=utf-8", "", "\xE2\x82\xAC", "--b1", "",
                    "bare", "--b1--", "", "epilogue"}),
              "4:preamble|-hh0:one|-hhh0:&#8364;|-h0:bare|-h0:epilogue|");
    EXPECT_EQ(page, "<hr><hr>");
}

TEST_F(MimeTest, AlternativeInsideMixedAndPartsWithoutContentType) {
    const auto message = mail_golden::ReadCases(GOLDEN_PATH("alternative_in_mixed.cases"));
    Header(message.at(0));
    EXPECT_EQ(Body(message.at(1)), message.at(2).at(0));
    EXPECT_EQ(user.runtime.attachments[0].message_name, std::string("i@x"));
    // The HTML part leaves the preformatted block; the image has a Content-ID
    // and gets no rule before it, the last part does.
    EXPECT_NE(page.find("</pre>"), std::string::npos);
    const size_t rule = page.find("<hr>");
    ASSERT_NE(rule, std::string::npos);
    EXPECT_EQ(page.find("<hr>", rule + 1), std::string::npos);
}

TEST_F(MimeTest, ElevenNestedMultipartsKeepTheOuterPartsReadable) {
    auto name = [](int level) { return std::string("bnd") + char('A' + level); };
    std::vector<std::string> body;
    Header({"Content-Type: multipart/mixed; boundary=" + name(0)});
    for (int level = 1; level <= 10; ++level) {
        body.insert(body.end(), {"--" + name(level - 1),
                                 "Content-Type: multipart/mixed; boundary=" + name(level), ""});
    }
    body.insert(body.end(), {"--" + name(10), "Content-Type: text/plain", "", "deep",
                             "--" + name(10) + "--", ""});
    for (int level = 9; level >= 1; --level)
        body.insert(body.end(), {"--" + name(level) + "--", ""});
    body.insert(body.end(), {"--" + name(0), "Content-Type: text/plain", "", "after"});
    const std::string t = Body(body);
    EXPECT_EQ(c->mime.boundaryCount, kMaxBoundaries);
    EXPECT_NE(t.find("4:deep|"), std::string::npos) << t;
    EXPECT_EQ(t.substr(t.size() - 8), "0:after|") << t;
}

TEST_F(MimeTest, OversizedPartHeaderIsCut) {
    Header({"Content-Type: multipart/mixed; boundary=b"});
    std::vector<std::string> body = {"--b", "Content-Type: text/plain"};
    for (int i = 0; i < 10; ++i) body.push_back("X-Long: " + std::string(1000, 'y'));
    // 4,061 bytes so far: the pad fits, then the encoding line no longer does.
    body.insert(body.end(),
                {"X-Pad: 12345678901234", "Content-Transfer-Encoding: base64", "", "YWJj"});
    const std::string t = Body(body);
    EXPECT_LT(strlen(c->mime.partHeaderBlock), size_t(kHeaderBlockSize));
    EXPECT_EQ(t.substr(t.size() - 7), "0:YWJj|"); // the late encoding line was dropped
}

using BodyTest = MimeTest;

TEST_F(BodyTest, LinesYieldTheirText) {
    for (const auto& record : mail_golden::ReadCases(GOLDEN_PATH("body_lines.cases"))) {
        SCOPED_TRACE(record.at(0));
        mime_reset(*c);
        c->state = PageState::MessageWait;
        std::vector<std::string> header;
        std::string yield;
        using S = const std::string&;
        mail_golden::Play(record, {{"text-download", [&](S) { c->state = PageState::TextWait; }},
                                   {"h", [&](S a) { header.push_back(a); }},
                                   {"l",
                                    [&](S a) {
                                        if (yield.empty()) Header(header);
                                        char buf[kLineSize + 8];
                                        const int n =
                                            decode_body_line(*c, a.c_str(), buf, sizeof buf);
                                        yield += std::string(buf, n) + "|";
                                    }},
                                   {"=", [&](S a) { EXPECT_EQ(yield, a); }}});
    }
}

TEST_F(BodyTest, YieldsStayInsideTheirBuffer) {
    mime_reset(*c);
    Header({"Content-Type: text/plain; charset=utf-8"});
    char out[12];
    memset(out, 'Z', sizeof out);
    // Three emoji references need 27 bytes: only whole ones are written.
    const int n = decode_body_line(*c, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80", out, 12);
    EXPECT_EQ(std::string(out, n), "&#128512;");
    EXPECT_EQ(out[n], '\0');

    mime_reset(*c);
    Header({});
    const std::string sjis = "a" + Sjis("日本");
    EXPECT_EQ(decode_body_line(*c, sjis.c_str(), out, 3), 1);
    EXPECT_STREQ(out, "a");

    const std::string huge(3 * kLineSize, 'x');
    char big[kLineSize + 8];
    EXPECT_EQ(decode_body_line(*c, huge.c_str(), big, sizeof big), kLineSize - 1);
}

} // namespace
