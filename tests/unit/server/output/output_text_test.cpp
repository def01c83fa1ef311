#include "server/output/output_text.h"

#include <cstring>
#include <random>

#include "output_test_util.h"
#include "server/server_cases.h"

namespace {

// Shift_JIS of a kanji and a full-width katakana.
const std::string kAi = "\x88\x9f"; // JIS 3021
const std::string kA = "\x83\x41";  // full-width katakana A

class OutputTextTest : public OutputTest {
protected:
    std::string Run(const std::string& text, int flags) {
        out.clear();
        OutputText(*c, text.c_str(), flags);
        return out;
    }
    void Reset() {
        c->filter.state = 0;
        c->filter.pending = 0;
        c->filter.linkLength = 0;
    }
    UserRecord user;
};

struct Case {
    int flags;
    std::string input;
    std::string expected;
};

std::string Link(const std::string& url) {
    return "<a href=\"" + url + "\">" + url + "</a>";
}

TEST_F(OutputTextTest, EscapesAndLinks) {
    strcpy(c->loginQuery, "?user=kei?check=42");
    const std::string mailLink = "<a href=\"/mail/write/index.html?to=kei@example.com?user=kei?"
                                 "check=42\">kei@example.com</a>";
    const int link = kOutText | kOutLinks;
    const Case cases[] = {
        {kOutText, "a<b>&c", "a&lt;b&gt;&amp;c"},
        {0, "a<b>&c", "a<b>&c"},
        {kOutText | kOutBreaks, "a\r\nb\n", "a<br>b<br>"},
        {kOutText, "a\r\nb", "a\r\nb"},
        {link, "see http://www.example.com/a.html.",
         "see " + Link("http://www.example.com/a.html.")},
        {link, "http://", "http://"},
        {link, "http://x", Link("http://x")},
        {link, "(ftp://ftp.example.org/pub) ok", "(" + Link("ftp://ftp.example.org/pub") + ") ok"},
        {link, "ftp://a", "ftp://a"},
        {link, "http://a.b/<x>", Link("http://a.b/") + "&lt;x&gt;"},
        {link, "http://a.b/?x=1&y=2", Link("http://a.b/?x=1&y=2")},
        {link, "Re:http://x.org", "Re:" + Link("http://x.org")},
        {link, "To:kei@example.com", "To:" + mailLink},
        {link, "mail kei@example.com now", "mail " + mailLink + " now"},
        {link, "kei@host here", "kei@host here"},
        // The trail byte "A" of a katakana does not begin the address.
        {link, kA + "bc@d.e",
         kA + "<a href=\"/mail/write/index.html?to=bc@d.e?user=kei?check=42\">bc@d.e</a>"},
        {kOutText, "http://example.com", "http://example.com"},
        // Candidates are capped at one piece; the rest is written on.
        {link, std::string(5000, 'x') + " y", std::string(5000, 'x') + " y"},
        {link, "http://" + std::string(5000, 'a'),
         Link("http://" + std::string(4088, 'a')) + std::string(912, 'a')},
        {kOutLinks, "<http://example.com>", "<http://example.com>"},
        // References to characters Shift_JIS cannot hold pass; plain
        // ampersands, even before other references, are escaped.
        {kOutText, "smile &#128512; & &#60; &amp;", "smile &#128512; &amp; &amp;#60; &amp;amp;"},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(Run(k.input, k.flags), k.expected) << k.input;
    }
}

TEST_F(OutputTextTest, MailLinkNamesTheSettingsSet) {
    strcpy(c->loginQuery, "?user=kei?check=42");
    c->settingsIndex = 2;
    EXPECT_EQ(Run("a@b.c", kOutText | kOutLinks),
              "<a href=\"/mail/write/index3.html?to=a@b.c?user=kei?check=42\">a@b.c</a>");
}

TEST_F(OutputTextTest, RepeatedBlanksFollowTheFoldingOption) {
    const struct {
        uint16_t browser;
        bool withUser;
        int userFolding;
        int policy1, policy3;
        bool nbsp;
    } cases[] = {
        {kBrowserMozilla4, true, 1, 0, 0, true},
        {kBrowserMozilla4, true, 0, 0, 0, false},
        {kBrowserMsie, true, 1, 0, 0, false},
        {kBrowserMozilla4, false, 0, 0, 0, false},
        {kBrowserMozilla4, true, 0, kPolicy1FoldingFixed, 0, true},
        {kBrowserMozilla4, false, 0, kPolicy1FoldingFixed, 0, true},
        {kBrowserMozilla4, true, 1, kPolicy1FoldingFixed, kPolicy3FoldingOff, false},
    };
    for (const auto& k : cases) {
        c->browser = k.browser;
        c->user = k.withUser ? &user : nullptr;
        user.options[folding] = static_cast<uint8_t>(k.userFolding);
        settings().user_policy_1 = k.policy1;
        settings().user_policy_3 = k.policy3;
        EXPECT_EQ(Run("a  b   c", kOutText), k.nbsp ? "a &nbsp;b &nbsp;&nbsp;c" : "a  b   c")
            << k.browser << " " << k.withUser << " " << k.userFolding << " " << k.policy1;
    }
}

TEST_F(OutputTextTest, QuotationMarkAfterEachLineFeed) {
    const struct {
        int settingsIndex;
        bool fixed;
        const char* fixedMark;
        int flags;
        const char* expected;
    } cases[] = {
        {0, false, "", kOutQuote, "one\n> two\n> \n> three\n"},
        {1, false, "", kOutQuote, "one\n| two\n| \n| three\n"},
        {2, false, "", kOutQuote, "one\ntwo\n\nthree\n"},
        {0, true, "# ", kOutQuote, "one\n# two\n# \n# three\n"},
        {0, true, "", kOutQuote, "one\n> two\n> \n> three\n"},
        {0, false, "# ", kOutQuote, "one\n> two\n> \n> three\n"},
        {0, false, "", 0, "one\ntwo\n\nthree\n"},
    };
    c->user = &user;
    strcpy(user.set[0].quotation, "> ");
    strcpy(user.set[1].quotation, "| ");
    for (const auto& k : cases) {
        c->settingsIndex = static_cast<int16_t>(k.settingsIndex);
        settings().language_policy = k.fixed ? kLanguageQuotationFixed : 0;
        strcpy(settings().fixed_quotation, k.fixedMark);
        EXPECT_EQ(Run("one\ntwo\n\nthree\n", k.flags), k.expected);
    }
}

TEST_F(OutputTextTest, ConvertsJisAndHalfWidthKana) {
    for (const auto& k : SERVER_CASES("jis_and_kana.ref")) {
        const int flags = (k.at(0).find("text") != std::string::npos ? int{kOutText} : 0) |
                          (k.at(0).find("breaks") != std::string::npos ? int{kOutBreaks} : 0);
        Reset();
        EXPECT_EQ(Run(k.at(1), flags), k.at(2)) << testing::PrintToString(k.at(1));
    }
}

TEST_F(OutputTextTest, SplittingTheInputAnywhereChangesNothing) {
    std::vector<std::string> inputs = {
        "ab\x1b$B\x30\x21\x30\x22\x1b(B\xb6\xde\xb1 \x0e\x36\x5e\x31\x0f\x1b(I\x36\x5e\x31\x1b(B" +
            kA + "<&>\x1bx\x1b(Z\r\n\x1b$B\x30\x21\n\xca\xdf\xb1",
    };
    // Random mixtures of the bytes the filter treats specially.
    const std::string alphabet = std::string("\x1b$(B@JIZ\x0e\x0f\r\n <&!0^6aP", 21) +
                                 "\x81\x83\x9f\xa1\xb1\xb6\xca\xdd\xde\xdf\xe0";
    std::mt19937 random(7);
    for (int i = 0; i < 150; ++i) {
        std::string s;
        for (int n = 0; n < 24; ++n) s += alphabet[random() % alphabet.size()];
        inputs.push_back(s);
    }
    for (int flags : {0, int(kOutText), kOutText | kOutBreaks}) {
        for (const auto& input : inputs) {
            Reset();
            const std::string whole = Run(input, flags);
            for (size_t at = 0; at <= input.size(); ++at) {
                Reset();
                std::string split = Run(input.substr(0, at), flags);
                split += Run(input.substr(at), flags);
                ASSERT_EQ(split, whole)
                    << flags << " " << testing::PrintToString(input) << " at " << at;
            }
        }
    }
}

// The filter's pieces are gathered into segments of the stage's size; what
// is left goes out when the writer flushes.
TEST_F(OutputTextTest, SendsWholeSegmentsOfAtMostTheStageSize) {
    const std::string kanji = "\x1b$B" + [] {
        std::string s;
        for (int i = 0; i < 3000; ++i) s += "\x30\x21";
        return s;
    }();
    const struct {
        std::string input;
        int flags;
        std::vector<size_t> sizes; // empty: only the bound is checked
    } cases[] = {
        {std::string(40000, 'a'), 0, {16380, 16380, 7240}},
        {std::string(5000, '<'), kOutText, {16368, 3632}},
        {kanji, 0, {6000}},
        {"x http://" + std::string(6000, 'a') + " " + std::string(5000, 'b') + "@c.d",
         kOutText | kOutLinks,
         {}},
    };
    strcpy(c->loginQuery, "?user=kei?check=42");
    for (const auto& k : cases) {
        Reset();
        const std::string expected = Run(k.input, k.flags);
        Reset();
        SendRecorder recorder(*c);
        OutputText(*c, k.input.c_str(), k.flags);
        FlushClient(*c);
        recorder.Finish();
        EXPECT_EQ(recorder.bytes, expected);
        if (!k.sizes.empty()) {
            EXPECT_EQ(recorder.sizes, k.sizes);
        }
        for (size_t size : recorder.sizes) EXPECT_LE(size, static_cast<size_t>(kSendStageSize));
    }
}

TEST_F(OutputTextTest, FormatCutsBeforeASplitCharacter) {
    std::string pairs;
    for (int i = 0; i < 3000; ++i) pairs += kAi;
    OutputFormat(*c, 0, "%s", pairs.c_str());
    EXPECT_EQ(out, pairs.substr(0, 4094));
    out.clear();
    OutputFormat(*c, 0, "a%s", pairs.c_str());
    EXPECT_EQ(out, "a" + pairs.substr(0, 4094));
}

// Hostile plain-text mail: no path through the filter may let a message byte
// become markup on a text page.
TEST_F(OutputTextTest, NoMarkupSurvivesAnyFilterPath) {
    const char* inputs[] = {
        "\x1b<img src=x onerror=alert(1)>", // unknown escape, then a tag
        "\x1b(<script>",                    // unknown intermediate
        "\xb1<b>",                          // held kana, then a tag
        "\x1b$B\x21\x1d\x1b(B",             // JIS pair whose Shift_JIS trail is "<"
        "\x0e\x31<i>\x0f",                  // SO katakana run, then a tag
    };
    for (const char* in : inputs) {
        for (int flags :
             {int{kOutText}, kOutText | kOutBreaks, kOutText | kOutLinks | kOutBreaks}) {
            Reset();
            const std::string page = Run(in, flags);
            EXPECT_EQ(page.find_first_of("<>"), std::string::npos) << in;
        }
    }
}

} // namespace
