#include "mime_test_util.h"

#include "mail/mail_golden.h"

#include <cstring>

namespace {

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
