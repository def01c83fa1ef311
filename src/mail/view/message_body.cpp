// The body phase of a message: text onto the page, other parts into their
// files, and the end of the page.
#include "base/charset/detect.h"
#include "base/charset/foreign_charset.h"
#include "base/charset/header_text.h"
#include "base/charset/sjis.h"
#include "base/global_lock.h"
#include "base/text/messages.h"
#include "base/text/url_encode.h"
#include "mail/compose/compose_page.h"
#include "mail/list/received_list.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "mail/view/message_view.h"
#include "mail/view/view_internal.h"
#include "mail/view/view_options.h"
#include "mail/view/view_state.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

// A decoded line and the CR LF after it. Lines arrive with at most
// kLineSize - 1 bytes; a foreign charset written as character references
// can make one several times longer.
constexpr size_t kDecodedSize = 4 * kLineSize;

// Writes n bytes that may hold NULs (decoded base64): OutputText ends at one.
void WriteText(Connection& c, const char* bytes, int n, int flags) {
    char piece[kLineSize];
    int i = 0;
    while (i < n) {
        int k = 0;
        while (i < n && k < static_cast<int>(sizeof piece) - 2) {
            if (bytes[i] != '\0') piece[k++] = bytes[i];
            i++;
        }
        // The filter keeps its two-byte state across calls, so a cut between
        // the bytes of a character does no harm.
        piece[k] = '\0';
        if (k > 0) OutputText(c, piece, flags);
    }
}

// Adds text to the quotation of a reply, never beyond its buffer and never
// ending in half a two-byte character.
void AppendQuotation(Connection& c, const char* bytes, int n) {
    ViewProgress& v = c.view;
    if (v.quotationFull) return;
    int length = v.quotationLength;
    if (length < 0 || length >= kQuotationTextSize) return;
    for (int i = 0; i < n;) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const int width = is_sjis_lead(b) && i + 1 < n ? 2 : 1;
        if (length + width > kQuotationTextSize - 1) {
            // A lead byte that an earlier piece left at the end loses its
            // trail byte for good, so it goes too.
            int k = 0, last = 0;
            while (k < length) {
                last = k;
                k += is_sjis_lead(static_cast<unsigned char>(c.quotationText[k])) ? 2 : 1;
            }
            if (k > length) length = last;
            v.quotationFull = 1;
            break;
        }
        if (b != '\0') {
            memcpy(c.quotationText + length, bytes + i, static_cast<size_t>(width));
            length += width;
        }
        i += width;
    }
    c.quotationText[length] = '\0';
    v.quotationLength = length;
}

void TextLine(Connection& c, char* out, int n, bool plain, bool page, const ViewOptions& o) {
    const bool folding = page && o.folding;
    if (plain && !folding) {
        out[n++] = '\r';
        out[n++] = '\n';
    }
    if (o.quotation || !plain) {
        AppendQuotation(c, out, n);
        if (folding && plain) AppendQuotation(c, "\r\n", 2);
    }
    if (!page) {
        WriteText(c, out, n, 0);
        return;
    }
    if (!folding) {
        WriteText(c, out, n, kOutText | kOutLinks);
        return;
    }
    // Decoded text carries its own line ends, which become the breaks;
    // plain lines end where the received line ends.
    WriteText(c, out, n, kOutText | kOutLinks | (plain ? 0 : kOutBreaks));
    if (plain) {
        view_reset_filter(c);
        OutputText(c, "<br>", 0);
    }
}

void BodyLine(Connection& c, const char* line) {
    MimeState& m = c.mime;
    char out[kDecodedSize];
    int n = decode_body_line(c, line, out, sizeof out - 2);
    if (n < 0) n = 0;
    const bool plain = m.transferMode == kTransferNone || m.transferMode == kTransferEucJp;
    const bool page = c.state.load() != PageState::TextWait;
    switch (m.contentClass) {
    case kClassText:
        TextLine(c, out, n, plain, page, view_options(c));
        break;
    case kClassHtml:
        if (line[0] == '\0') break;
        [[fallthrough]];
    case kClassImage:
    case kClassAttachment:
        // A saved file keeps its line ends whatever the page does with text.
        if (plain) {
            out[n++] = '\r';
            out[n++] = '\n';
        }
        write_part_file(c, out, n);
        break;
    default:
        // Multipart containers, and the plain text that an HTML alternative
        // stands for, show nothing.
        break;
    }
}

ViewAsk EndOfMessage(Connection& c) {
    MimeState& m = c.mime;
    if (m.dividedPhase == 2) return view_search_next_part(c);
    finish_part_file(c);
    if (c.state.load() != PageState::TextWait) {
        const ViewOptions o = view_options(c);
        view_reset_filter(c);
        if (o.folding) OutputText(c, "<pre>", 0);
        OutputText(c, "<hr>", 0);
        // The policy header kept the pictures from the web out; loading
        // them tells the sender the mail was read, so the user decides.
        if (c.view.remoteImages > 0 && !c.showImages) {
            OutputFormat(c, 0, "<center><a href=\"/mail/%c%04d.html%.*s?images\">%s</a></center>",
                         view_set_letter(c), c.itemNumber, static_cast<int>(sizeof c.loginQuery),
                         c.loginQuery, Message(kMsgShowImages, c.english));
            OutputText(c, "<hr>", 0);
        }
        if (o.saveText) {
            OutputFormat(c, 0, "<center><a href=\"/mail/%c%04d.txt%.*s\">%s</a></center>",
                         view_set_letter(c), c.itemNumber, static_cast<int>(sizeof c.loginQuery),
                         c.loginQuery, Message(kMsgSaveText, c.english));
            OutputText(c, "<hr>", 0);
        }
        WriteReplyForm(c);
        BeginPage(c, kPagePre | kPageHr);
        message_links(c);
        EndPage(c, kPagePre);
        EndPage(c, kPageCenter);
        if (o.showHeaders) {
            BeginPage(c, kPagePre);
            m.headerBlock[kHeaderBlockSize - 1] = '\0';
            OutputText(c, m.headerBlock, kOutText);
            view_reset_filter(c);
            EndPage(c, kPagePre);
        }
        if (c.user && c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets)
            mark_read(c.user->runtime.keptList[c.settingsIndex], c.itemNumber, o.markRead ? 1 : 0);
    }
    return ViewAsk::Quit;
}

} // namespace

char view_set_letter(const Connection& c) {
    const int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    return static_cast<char>('a' + set);
}

void view_display_text(char (&dst)[kHeaderFieldSize], const char* src) {
    header_display_text(dst, src);
}

void view_reset_filter(Connection& c) {
    // ESC ( B ends a two-byte or katakana run from any state but a broken
    // escape, and writes nothing.
    OutputText(c, "\x1B(B", 0);
}

ViewAsk view_body_line(Connection& c, const char* line) {
    if (!line) return ViewAsk::Nothing;
    if (line[0] == '.' && line[1] == '\0') return EndOfMessage(c);
    MimeState& m = c.mime;
    if (m.inPartHeader) {
        part_header_line(c, line);
        return ViewAsk::Nothing;
    }
    const uint16_t ended = m.contentClass;
    if (is_boundary_line(c, line)) {
        // The markup of the next part must not land in a run of the last.
        if (c.state.load() != PageState::TextWait) view_reset_filter(c);
        finish_part_file(c);
        if (ended == kClassHtml && c.state.load() != PageState::TextWait) OutputText(c, "<pre>", 0);
        return ViewAsk::Nothing;
    }
    BodyLine(c, line);
    return ViewAsk::Nothing;
}

void message_links(Connection& c) {
    char anchor[16] = "";
    const ViewOptions o = view_options(c);
    if (o.jump) snprintf(anchor, sizeof anchor, "#%c%04d", view_set_letter(c), c.itemNumber);
    const int query = static_cast<int>(sizeof c.loginQuery);
    const int e = c.english;
    if (!o.deleteLink || !c.user) {
        OutputFormat(c, 0, "<a href=\"/mail/index.html%.*s%s\">%s</a><hr>", query, c.loginQuery,
                     anchor, Message(kMsgBackToList, e));
        return;
    }
    char id[kHeaderFieldSize];
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        sjis_copy(id, c.user->runtime.lastMessageId);
    }
    char encoded[kHeaderFieldSize * 3];
    UrlEncode(encoded, id);
    OutputFormat(c, 0,
                 "<a href=\"/mail/index.html%.*s%s\">%s</a>      "
                 "<a href=\"/mail/index.html?delete=%c%d.%s%.*s\">%s</a><hr>",
                 query, c.loginQuery, anchor, Message(kMsgBackToList, e), view_set_letter(c),
                 c.itemNumber, encoded, query, c.loginQuery, Message(kMsgBackAfterDelete, e));
}
