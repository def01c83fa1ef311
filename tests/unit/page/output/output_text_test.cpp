#include "page/output/output_filter_state.h"
#include "page/output/output_text.h"

#include <random>

#include "output_test_util.h"

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
    void Reset() { c->filter.clear(); }
    UserRecord user;
};

// Flags by name, as the case files give them.
int Flags(const std::string& names) {
    int flags = 0;
    for (const auto& [name, flag] : {std::pair{"text", int{kOutText}},
                                     {"breaks", int{kOutBreaks}},
                                     {"links", int{kOutLinks}},
                                     {"quote", int{kOutQuote}}})
        if (names.find(name) != std::string::npos) flags |= flag;
    return flags;
}

// A fourth field names the settings set a mail link writes to.
TEST_F(OutputTextTest, EscapesLinksJisAndHalfWidthKana) {
    strcpy(c->loginQuery, "?user=kei?check=42");
    auto cases = SERVER_CASES("cases/escapes_and_links.ref");
    for (const auto& k : SERVER_CASES("jis_and_kana.ref")) cases.push_back(k);
    // Candidates are capped at one piece; the rest is written on.
    const std::string a(4088, 'a');
    cases.push_back({"text links", std::string(5000, 'x') + " y", std::string(5000, 'x') + " y"});
    cases.push_back({"text links", "http://" + a + std::string(912, 'a'),
                     "<a href=\"http://" + a + "\">http://" + a + "</a>" + std::string(912, 'a')});
    for (const auto& k : cases) {
        Reset();
        c->settingsIndex = static_cast<int16_t>(k.size() > 3 ? std::stoi(k.at(3)) : 0);
        EXPECT_EQ(Run(k.at(1), Flags(k.at(0))), k.at(2)) << testing::PrintToString(k.at(1));
    }
}

TEST_F(OutputTextTest, RepeatedBlanksFollowTheFoldingOption) {
    for (const auto& k : SERVER_CASES("cases/folding.ref")) {
        c->browser = static_cast<uint16_t>(std::stoi(k.at(0), nullptr, 0));
        c->user = k.at(1) == "1" ? &user : nullptr;
        user.options[folding] = static_cast<uint8_t>(std::stoi(k.at(2)));
        settings().user_policy_1 = k.at(3) == "1" ? kPolicy1FoldingFixed : 0;
        settings().user_policy_3 = k.at(4) == "1" ? kPolicy3FoldingOff : 0;
        EXPECT_EQ(Run("a  b   c", kOutText),
                  k.at(5) == "1" ? "a &nbsp;b &nbsp;&nbsp;c" : "a  b   c")
            << testing::PrintToString(k);
    }
}

TEST_F(OutputTextTest, QuotationMarkAfterEachLineFeed) {
    c->user = &user;
    strcpy(user.set[0].quotation, "> ");
    strcpy(user.set[1].quotation, "| ");
    for (const auto& k : SERVER_CASES("cases/quotation.ref")) {
        c->settingsIndex = static_cast<int16_t>(std::stoi(k.at(0)));
        settings().language_policy = k.at(1) == "1" ? kLanguageQuotationFixed : 0;
        strcpy(settings().fixed_quotation, k.at(2).c_str());
        EXPECT_EQ(Run("one\ntwo\n\nthree\n", Flags(k.at(3))), k.at(4));
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
    std::string kanji = "\x1b$B";
    for (int i = 0; i < 3000; ++i) kanji += "\x30\x21";
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
    for (const std::string prefix : {"", "a"}) {
        out.clear();
        OutputFormat(*c, 0, (prefix + "%s").c_str(), pairs.c_str());
        EXPECT_EQ(out, prefix + pairs.substr(0, 4094));
    }
}

// Hostile plain-text mail: no path through the filter may let a message byte
// become markup on a text page.
TEST_F(OutputTextTest, NoMarkupSurvivesAnyFilterPath) {
    for (const auto& k : SERVER_CASES("cases/hostile_text.ref")) {
        const std::string& in = k.at(0);
        for (int flags :
             {int{kOutText}, kOutText | kOutBreaks, kOutText | kOutLinks | kOutBreaks}) {
            Reset();
            const std::string page = Run(in, flags);
            EXPECT_EQ(page.find_first_of("<>"), std::string::npos) << in;
        }
    }
}

} // namespace
