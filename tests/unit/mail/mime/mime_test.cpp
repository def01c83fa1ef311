// MIME parsing on a connection of a message page with no socket: its page
// lands in a string, its user "taro" saves parts under the temp folder.
// Messages are fed line by line the way the message view drives the parser.
#include "base/charset/foreign_charset.h"
#include "mail/mail_golden.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "mail/pop3/pop3_state.h"
#include "mail/view/message_view.h"
#include "server/route/page_fixture.h"
#include <cstring>
#include <functional>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

// A content class by the name the case files give it.
inline uint16_t ContentClass(const std::string& name) {
    static const char* const kNames[] = {
        "text", "html", "image", "attachment", "multipart", "alternative", "text-in-alternative"};
    for (uint16_t i = 0; i < std::size(kNames); i++)
        if (name == kNames[i]) return i;
    ADD_FAILURE() << "no content class " << name;
    return 0;
}

class MimeTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        c = Capture(0);
        snprintf(user.set[0].id, sizeof user.set[0].id, "taro");
        c->user = &user;
        c->state = PageState::MessageWait;
        c->workerResult = Retrieving;
        mime_reset(*c);
    }
    void TearDown() override {
        if (c->file >= 0) close(c->file);
        c->file = -1;
        c.reset();
        PageTest::TearDown();
    }

    void Header(const std::vector<std::string>& lines) {
        for (const auto& l : lines) collect_header_line(*c, l.c_str());
        parse_header_block(*c, c->mime.headerBlock);
    }

    // The body as the parser yields it: "-" for a boundary, "h" for a part
    // header line, else the content class and the yield of the line.
    std::string Body(const std::vector<std::string>& lines) {
        std::string t;
        for (const auto& l : lines) {
            if (c->mime.inPartHeader) {
                part_header_line(*c, l.c_str());
                t += "h";
            } else if (is_boundary_line(*c, l.c_str())) {
                if (c->file >= 0) finish_part_file(*c);
                t += "-";
            } else {
                char yield[kLineSize + 8];
                const int n = decode_body_line(*c, l.c_str(), yield, sizeof yield);
                t += std::to_string(c->mime.contentClass) + ":" + std::string(yield, n) + "|";
            }
        }
        return t;
    }

    // What the header and Content-Type readers left, for goldens.
    std::string Fields() const {
        const MimeState& m = c->mime;
        const AttachmentEntry& slot = user.runtime.attachments[0];
        std::ostringstream f;
        using Field = std::pair<const char*, const char*>;
        for (const auto& [name, value] : {Field{"Subject", m.subjectLine},
                                          {"Date", m.dateLine},
                                          {"From", m.fromLine},
                                          {"To", m.toLine},
                                          {"Cc", m.ccLine},
                                          {"Reply-To", m.replyTo},
                                          {"Message-ID", m.messageId},
                                          {"References", m.references},
                                          {"In-Reply-To", m.inReplyTo},
                                          {"Content-Type", m.contentType},
                                          {"partial id", m.partialId},
                                          {"slot file", slot.file_name},
                                          {"slot message", slot.message_name}})
            f << name << ": \"" << value << "\"\n";
        f << "Shift_JIS parameters " << m.sjisParameters << ", transfer " << m.transferMode
          << ", class " << m.contentClass << ", divided " << m.dividedPhase << " of " << m.partTotal
          << ", file " << c->file << "\nboundaries";
        for (int i = 0; i < m.boundaryCount; i++) f << " " << m.boundaries[i];
        f << "\npage \"" << out << "\"\n";
        return f.str();
    }

    ConnectionPtr c;
    UserRecord user;
};

// Case files whose records end in what the parser or the foreign charset
// code makes of the fields before that, each on a fresh message state.
// Transfer encodings must match wholly; EUC-JP lines only when the charset
// is the first parameter.
TEST_F(MimeTest, CaseTables) {
    using R = const mail_golden::Record&;
    const std::pair<const char*, std::function<std::string(R)>> kTables[] = {
        {"file_names.ref",
         [&](R t) {
             user.runtime.attachments[0].file_name[0] = '\0';
             analyse_content_type(*c, ("application/x-test" + t.at(0)).c_str());
             return std::string(user.runtime.attachments[0].file_name);
         }},
        {"header_folding.cases",
         [&](R t) {
             for (size_t i = 0; i + 1 < t.size(); i++) collect_header_line(*c, t[i].c_str());
             return std::string(c->mime.headerBlock);
         }},
        {"foreign_words.cases",
         [&](R t) {
             if (t.at(0) == "TextWait") c->state = PageState::TextWait;
             Header({t.at(1)});
             return std::string(c->mime.subjectLine);
         }},
        {"transfer_modes.cases",
         [&](R t) {
             Header({t.begin(), t.end() - 1});
             return std::to_string(c->mime.transferMode);
         }},
        {"content_classes.ref",
         [&](R t) {
             c->mime.contentClass = ContentClass(t.at(0));
             analyse_content_type(*c, t.at(1).c_str());
             return c->mime.contentClass == ContentClass(t.at(2))
                        ? t[2]
                        : std::to_string(c->mime.contentClass);
         }},
        {"text_charsets.ref",
         [&](R t) {
             analyse_content_type(*c, t.at(0).c_str());
             return std::string(c->mime.textCharset);
         }},
        {"foreign_labels.cases",
         [](R t) { return std::to_string(is_foreign_charset(t.at(0).c_str())); }},
        {"foreign_text.cases",
         [](R t) {
             const ForeignMode mode = t.at(2) == "Geta" ? ForeignMode::Geta : ForeignMode::Ncr;
             const size_t cap = t.size() > 4 ? std::stoul(t[3]) : 256;
             std::string out(cap + 1, 'Z');
             const int n = convert_foreign_to_sjis(t[0].c_str(), t[1].data(), t[1].size(),
                                                   out.data(), cap, mode);
             if (n < 0) return std::string("(none)");
             EXPECT_EQ(out[n], '\0');
             EXPECT_EQ(out[cap], 'Z'); // nothing past the capacity
             return out.substr(0, n);
         }},
        {"partial_search.cases",
         [&](R t) {
             mail_golden::Put(c->mime.partialId, "\"<a@b>\"");
             c->mime.dividedPhase = 3;
             c->mime.partTotal = 3;
             c->mime.partNumber = std::stoi(t.at(1));
             partial_parameters(*c, t.at(0).c_str());
             return std::to_string(c->mime.dividedPhase);
         }},
        {"boundary_lines.ref",
         [&](R t) {
             strcpy(c->mime.boundaries[0], "b1");
             strcpy(c->mime.boundaries[1], "b2");
             c->mime.boundaryCount = 2;
             c->mime.contentClass = ContentClass(t.at(0));
             c->mime.transferMode = kTransferBase64;
             c->mime.base64CarryLength = 3;
             c->mime.partSeparatorPending = 9;
             if (t.at(1) == "text-download") c->state = PageState::TextWait;
             const bool boundary = is_boundary_line(*c, t.at(2).c_str());
             EXPECT_EQ(boundary, t.at(3) == "1");
             if (boundary) { // the part header opens, the last part's encoding goes
                 EXPECT_EQ(c->mime.inPartHeader, 1);
                 EXPECT_EQ(c->mime.transferMode, kTransferNone);
                 EXPECT_EQ(c->mime.base64CarryLength, 0);
             }
             return std::to_string(c->mime.partSeparatorPending);
         }},
        {"filter_references.cases",
         [](R t) { return std::to_string(foreign_ncr_length(t.at(0).c_str())); }}};
    for (const auto& [file, f] : kTables)
        for (const auto& t : CASE_BLOCKS(file)) {
            mime_reset(*c);
            c->state = PageState::MessageWait;
            EXPECT_EQ(f(t), t.back()) << file << ": " << t[0];
        }
    EXPECT_FALSE(is_foreign_charset(nullptr));
    mime_reset(*c);
    EXPECT_FALSE(is_boundary_line(*c, "--"));
}

// Each record of headers.cases is read by the header and Content-Type
// readers as the message view drives them; headers.ref holds the fields
// they left at each "fields".
TEST_F(MimeTest, Headers) {
    std::string golden;
    for (const auto& record : CASE_BLOCKS("headers.cases")) {
        mime_reset(*c);
        c->workerResult = Retrieving;
        user.runtime.attachments[0].file_name[0] = user.runtime.attachments[0].message_name[0] = 0;
        mail_golden::Play(
            record, {{"list-mode", [&](S) { c->workerResult = FetchingHeaders; }},
                     {"slot-message",
                      [&](S a) { strcpy(user.runtime.attachments[0].message_name, a.c_str()); }},
                     {"h", [&](S a) { collect_header_line(*c, a.c_str()); }},
                     {"parse", [&](S) { parse_header_block(*c, c->mime.headerBlock); }},
                     {"new-block", [&](S) { memset(c->mime.headerBlock, 0, 2); }},
                     {"type", [&](S a) { analyse_content_type(*c, a.c_str()); }},
                     {"partial", [&](S a) { partial_parameters(*c, a.c_str()); }},
                     {"fields", [&](S a) { golden += mail_golden::Section(a, Fields()); }}});
    }
    EXPECT_GOLDEN("headers.ref", golden);
}

TEST_F(MimeTest, OversizedHeadersAreCutAndTheRestStillParses) {
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

    // So is an oversized part header.
    mime_reset(*c);
    Header({"Content-Type: multipart/mixed; boundary=b"});
    std::vector<std::string> body = {"--b", "Content-Type: text/plain"};
    body.insert(body.end(), 10, "X-Long: " + std::string(1000, 'y'));
    // 4,061 bytes so far: the pad fits, then the encoding line no longer does.
    body.insert(body.end(),
                {"X-Pad: 12345678901234", "Content-Transfer-Encoding: base64", "", "YWJj"});
    const std::string t = Body(body);
    EXPECT_LT(strlen(c->mime.partHeaderBlock), size_t(kHeaderBlockSize));
    EXPECT_EQ(t.substr(t.size() - 7), "0:YWJj|"); // the late encoding line was dropped
}

// Rules go between parts: an HTML part leaves the preformatted block, an
// image with a Content-ID gets no rule before it. Each section of
// messages.ref also names the Content-ID the first slot was given and the
// boundaries taken.
TEST_F(MimeTest, Messages) {
    const auto records = CASE_BLOCKS("messages.cases");
    std::string pages;
    for (size_t at = 0; at + 2 < records.size(); at += 3) {
        SCOPED_TRACE(at / 3);
        mime_reset(*c);
        out.clear();
        Header(records[at]);
        EXPECT_EQ(Body(records[at + 1]), records[at + 2].at(0));
        const std::string slot = user.runtime.attachments[0].message_name;
        pages += mail_golden::Section(std::to_string(at / 3 + 1) + " slot \"" + slot +
                                          "\" boundaries " + std::to_string(c->mime.boundaryCount),
                                      out);
    }
    EXPECT_GOLDEN("messages.ref", pages);
}

using BodyTest = MimeTest;

TEST_F(BodyTest, LinesYieldTheirText) {
    for (const auto& record : CASE_BLOCKS("body_lines.cases")) {
        SCOPED_TRACE(record.at(0));
        mime_reset(*c);
        c->state = PageState::MessageWait;
        std::vector<std::string> header;
        std::string yield;
        size_t room = kLineSize + 8;
        mail_golden::Play(record, {{"text-download", [&](S) { c->state = PageState::TextWait; }},
                                   {"h", [&](S a) { header.push_back(a); }},
                                   {"yield-size", [&](S a) { room = std::stoul(a); }},
                                   {"l",
                                    [&](S a) {
                                        if (yield.empty()) Header(header);
                                        std::vector<char> buf(room);
                                        const int n =
                                            decode_body_line(*c, a.c_str(), buf.data(), room);
                                        EXPECT_EQ(buf.at(n), '\0');
                                        yield += std::string(buf.data(), n) + "|";
                                    }},
                                   {"=", [&](S a) { EXPECT_EQ(yield, a); }}});
    }
    // A line longer than the yield is cut.
    mime_reset(*c);
    Header({});
    const std::string huge(3 * kLineSize, 'x');
    char big[kLineSize + 8];
    EXPECT_EQ(decode_body_line(*c, huge.c_str(), big, sizeof big), kLineSize - 1);
}

} // namespace
