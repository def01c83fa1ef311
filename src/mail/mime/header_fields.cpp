#include "base/charset/header_text.h"
#include "base/charset/sjis.h"
#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "page/output/output_text.h"

#include <cstring>

namespace {

enum class Field { Text, HeaderText, ContentId, TransferEncoding, Mailer };

struct FieldRule {
    const char* name; // with ": "
    Field kind;
    char (MimeState::*value)[kHeaderFieldSize];
};

constexpr FieldRule kFields[] = {
    {"Subject: ", Field::HeaderText, &MimeState::subjectLine},
    {"Date: ", Field::Text, &MimeState::dateLine},
    {"From: ", Field::Text, &MimeState::fromLine},
    {"Cc: ", Field::Text, &MimeState::ccLine},
    {"Reply-To: ", Field::Text, &MimeState::replyTo},
    {"To: ", Field::Text, &MimeState::toLine},
    {"Message-Id: ", Field::Text, &MimeState::messageId},
    {"References: ", Field::Text, &MimeState::references},
    {"In-Reply-To: ", Field::Text, &MimeState::inReplyTo},
    {"Content-Type: ", Field::Text, &MimeState::contentType},
    {"Content-ID: ", Field::ContentId, nullptr},
    {"Content-Transfer-Encoding: ", Field::TransferEncoding, nullptr},
    {"X-Mailer: ", Field::Mailer, nullptr},
};

char* field_of(MimeState& m, char (MimeState::*member)[kHeaderFieldSize]) {
    return m.*member;
}

// A value cut at the field size must not end in half a character reference.
void copy_value(char* dst, const char* value, bool header_text) {
    if (!header_text) {
        if (static_cast<size_t>(sjis_copy(dst, value, kHeaderFieldSize)) < strlen(value)) {
            mime_trim_cut_reference(dst);
        }
        return;
    }
    // Widened katakana make the copy longer than its source.
    char whole[kHeaderBlockSize];
    const int full = copy_header_text(whole, value, sizeof whole);
    if (copy_header_text(dst, value, kHeaderFieldSize) < full) mime_trim_cut_reference(dst);
}

// "<id@host>" gives "id@host"; a value without brackets is taken to its first
// blank, as some mailers write it so and their HTML refers to it that way.
void take_content_id(Connection& c, const char* value) {
    AttachmentEntry* slot = mime_current_slot(c);
    if (!slot) return;
    const char* open = strchr(value, '<');
    const char* start = open ? open + 1 : value;
    size_t n = strcspn(start, open ? ">" : " ");
    if (n >= sizeof slot->message_name) n = sizeof slot->message_name - 1;
    char id[sizeof slot->message_name];
    memcpy(id, start, n);
    id[n] = '\0';
    sjis_copy(slot->message_name, id, sizeof slot->message_name);
}

void apply_field(Connection& c, const FieldRule& rule, const char* value) {
    MimeState& m = c.mime;
    switch (rule.kind) {
    case Field::Text:
    case Field::HeaderText:
        copy_value(field_of(m, rule.value), value, rule.kind == Field::HeaderText);
        break;
    case Field::ContentId:
        take_content_id(c, value);
        break;
    case Field::TransferEncoding:
        if (mime_equal_no_case(value, "quoted-printable")) {
            m.transferMode = kTransferQuotedPrintable;
        } else if (mime_equal_no_case(value, "base64")) {
            m.transferMode = kTransferBase64;
        }
        break;
    case Field::Mailer:
        if (strncmp(value, "Microsoft", 9) == 0) m.sjisParameters = 1;
        break;
    }
}

} // namespace

void parse_header_block(Connection& c, const char* block) {
    MimeState& m = c.mime;
    if (block == m.headerBlock) {
        for (const FieldRule& rule : kFields) {
            if (rule.value) field_of(m, rule.value)[0] = '\0';
        }
    }
    m.contentType[0] = '\0';
    if (AttachmentEntry* slot = mime_current_slot(c)) slot->message_name[0] = '\0';

    char line[kHeaderBlockSize];
    const char* p = block ? block : "";
    while (*p) {
        size_t n = strcspn(p, "\n");
        if (n > kHeaderBlockSize - 1) n = kHeaderBlockSize - 1;
        memcpy(line, p, n);
        line[n] = '\0';
        p += n;
        if (*p == '\n') ++p;
        for (const FieldRule& rule : kFields) {
            const size_t name_len = strlen(rule.name);
            if (mime_starts_no_case(line, rule.name)) {
                apply_field(c, rule, line + name_len);
                break;
            }
        }
    }

    if (m.partSeparatorPending) {
        const AttachmentEntry* slot = mime_current_slot(c);
        if (!slot || !slot->message_name[0]) {
            OutputText(c, "<hr>", 0);
            m.partSeparatorPending = 0;
        }
    }
    analyse_content_type(c, m.contentType);
}
