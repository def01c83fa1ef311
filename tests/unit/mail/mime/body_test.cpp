#include "mime_test_util.h"

#include "mail/charset/base64.h"

#include <cstring>

namespace {

std::string Base64(const std::string& bytes) {
    std::string s(base64_encoded_size(static_cast<int>(bytes.size())), '\0');
    base64_encode(s.data(), bytes.data(), static_cast<int>(bytes.size()));
    return s;
}

class BodyTest : public MimeTest {
protected:
    // The yields of lines fed to a part with the given header lines.
    std::string Feed(const std::vector<std::string>& header,
                     const std::vector<std::string>& lines) {
        mime_reset(*c);
        Header(header);
        std::string out;
        for (const auto& l : lines) {
            char buf[kLineSize + 8];
            const int n = decode_body_line(*c, l.c_str(), buf, sizeof buf);
            out += std::string(buf, n) + "|";
        }
        return out;
    }
};

TEST_F(BodyTest, Base64GroupsMayStraddleLines) {
    const std::string data(400, 'q');
    const std::string b64 = Base64(data); // 536 characters
    const std::vector<std::string> cte = {"Content-Transfer-Encoding: base64"};
    const struct {
        const char* what;
        std::vector<std::string> lines;
        std::string expect;
    } cases[] = {
        {"76 per line",
         {b64.substr(0, 76), b64.substr(76, 76)},
         data.substr(0, 57) + "|" + data.substr(57, 57) + "|"},
        {"70 then 6", {b64.substr(0, 70), b64.substr(70, 6)}, "|" + data.substr(0, 57) + "|"},
        {"blanks at the end",
         {b64.substr(0, 4) + "  ", b64.substr(4, 4)},
         data.substr(0, 3) + "|" + data.substr(3, 3) + "|"},
        {"padding ends it", {Base64("ab")}, "ab|"},
        // Longer than the carry and not whole groups: alignment must survive.
        {"long ragged lines",
         {b64.substr(0, 101), b64.substr(101, 202), b64.substr(303)},
         data.substr(0, 75) + "|" + data.substr(75, 150) + "|" + data.substr(225) + "|"},
    };
    for (const auto& t : cases) EXPECT_EQ(Feed(cte, t.lines), t.expect) << t.what;
}

TEST_F(BodyTest, QuotedPrintableAndDotStuffing) {
    const std::vector<std::string> qp = {"Content-Transfer-Encoding: quoted-printable"};
    EXPECT_EQ(Feed(qp, {"soft=", "=3D=", "=", "", "..x"}), "soft|=|\r\n|\r\n|.x\r\n|");
    EXPECT_EQ(Feed({}, {"..", "...", ".x", "a..b"}), ".|..|.x|a..b|");
    EXPECT_EQ(Feed({"Content-Type: text/plain; charset=EUC-JP"}, {"\xA4\xA2", "..\xA4\xA2"}),
              Sjis("あ") + "|." + Sjis("あ") + "|");
}

TEST_F(BodyTest, ForeignTextBecomesShiftJis) {
    const std::vector<std::string> utf8 = {"Content-Type: text/plain; charset=utf-8"};
    EXPECT_EQ(Feed(utf8, {"日本語", "smile \xF0\x9F\x98\x80", "bad \xC3"}),
              Sjis("日本語") + "|smile &#128512;|bad |");
    // The character cut by the base64 line end waits for the next line.
    const std::string b64 = Base64("a日本");
    EXPECT_EQ(Feed({utf8[0], "Content-Transfer-Encoding: base64"},
                   {b64.substr(0, 4), b64.substr(4, 4), b64.substr(8)}),
              "a|" + Sjis("日") + "|" + Sjis("本") + "|");
    EXPECT_EQ(
        Feed({utf8[0], "Content-Transfer-Encoding: quoted-printable"}, {"=E6=97=", "=A5=E6=9C=AC"}),
        "|" + Sjis("日本") + "\r\n|");
    EXPECT_EQ(Feed({"Content-Type: text/plain; charset=iso-8859-1"}, {"caf\xE9 \x80"}),
              "caf&#233; &#8364;|");
    c->state = PageState::TextWait;
    EXPECT_EQ(Feed(utf8, {"\xF0\x9F\x98\x80 \xFF"}), "\x81\xAC ?|");
    // Attachments keep their bytes.
    c->state = PageState::MessageWait;
    EXPECT_EQ(Feed({"Content-Type: application/x-raw; charset=utf-8"}, {"\xE6\x97"}), "\xE6\x97|");
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
