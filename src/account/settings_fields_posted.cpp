// The "user_" fields of a settings or registration post, each into its own
// form slot (see SettingsSlot), cut to the length the record keeps without
// splitting a two-byte character.
#include "account/settings_form.h"
#include "account/settings_page.h"
#include "base/charset/sjis.h"
#include "base/text/text_copy.h"
#include "page/form_reading.h"

#include <cstring>

namespace {

struct PostedField {
    const char* name;
    int slot;
    int longest; // bytes kept; 0 for a checkbox
};

constexpr PostedField kFields[] = {
    {"id", kSlotId, 39},
    {"pass0", kSlotPass0, 39},
    {"pass1", kSlotPass1, 39},
    {"pass2", kSlotPass2, 39},
    {"name", kSlotName, 39},
    {"mail_address", kSlotMailAddress, 79},
    {"smtp_name", kSlotSmtpName, 79},
    {"pop3_name", kSlotPop3Name, 79},
    {"quotation", kSlotQuotation, 4},
    {"row_count", kSlotRowCount, 2},
    {"column_count", kSlotColumnCount, 3},
    {"upload_no", kSlotUploadNo, 2},
    {"delete_flag", kSlotDeleteFlag, 0},
    {"header_flag", kSlotHeaderFlag, 0},
    {"cc_flag", kSlotCcFlag, 0},
    {"bcc_flag", kSlotBccFlag, 0},
    {"jump_flag", kSlotJumpFlag, 0},
    {"apop_flag", kSlotApopFlag, 0},
    {"poppassd", kSlotPoppassd, 0},
    {"folding", kSlotFolding, 0},
    {"save_text", kSlotSaveText, 0},
    {"delete_link", kSlotDeleteLink, 0},
    {"pop3_security", kSlotPop3Security, 8},
    {"smtp_security", kSlotSmtpSecurity, 8},
    {"smtp_auth", kSlotSmtpAuth, 0},
    {"smtp_user", kSlotSmtpUser, 127},
    {"smtp_pass", kSlotSmtpPass, 127},
};

constexpr size_t kNameSize = 32;

const PostedField* FindField(const char* name) {
    for (const PostedField& f : kFields)
        if (strcmp(f.name, name) == 0) return &f;
    return nullptr;
}

// Copies text up to a line end into dst (at most size - 1 bytes). Other
// control bytes are left out: an escape byte in a name would switch the
// output filter into JIS text for the rest of every page showing it. No byte
// of a two-byte character is below 0x40, so pairs stay whole.
void CopyLine(char* dst, const char* text, size_t size) {
    size_t n = 0;
    for (const char* p = text; *p && *p != '\r' && *p != '\n' && n < size - 1; p++) {
        const unsigned char b = static_cast<unsigned char>(*p);
        if (b >= 0x20 && b != 0x7F) dst[n++] = *p;
    }
    dst[n] = '\0';
}

} // namespace

void SettingsUserField(Connection& c, const char* text, int urlencoded) {
    char name[kNameSize];
    const char* value = text;
    if (urlencoded) {
        value = SplitField(text, name, sizeof name);
        if (!value) return;
    } else {
        CopyLine(name, c.fieldName, sizeof name);
    }
    const PostedField* f = FindField(name);
    if (!f) return;
    if (f->longest == 0) {
        set_slot(c, f->slot, "1");
        return;
    }
    // Cut at the break, the value would be a different name or password:
    // the checks refuse the form instead.
    if (c.form.valueBroken && f->slot <= kSlotQuotation && !slot_ticked(c, kSlotBrokenField))
        set_slot_number(c, kSlotBrokenField, f->slot);
    char line[kLineSize];
    CopyLine(line, value, sizeof line);
    sjis_copy(c.formSlots[f->slot], line, f->longest + 1);
}
