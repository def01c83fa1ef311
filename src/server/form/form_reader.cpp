#include "server/form/form_reader.h"
#include "page/form_reading.h"

#include <cstring>

#include "base/text/char_class.h"
#include "base/text/text_copy.h"
#include "base/text/text_search.h"
#include "server/form/part_header.h"
#include "server/form/upload_file.h"

FieldHandlers& field_handlers() {
    static FieldHandlers handlers = kPageFieldHandlers;
    return handlers;
}

namespace {

struct FieldFamily {
    const char* prefix;
    FieldHandler FieldHandlers::*handler;
};

constexpr FieldFamily kFieldFamilies[] = {
    {"user_", &FieldHandlers::user},
    {"send_", &FieldHandlers::send},
    {"book_", &FieldHandlers::book},
};
constexpr size_t kFamilyPrefixLength = 5;

// Login fields a and b are bounded like a user name or password.
constexpr size_t kLoginFieldSize = 40;

bool Starts(const char* s, const char* prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

void AddDeleteMark(Connection& c, const char* mark, size_t n) {
    size_t used = strlen(c.deleteList);
    if (used + n + 1 >= sizeof c.deleteList) return;
    memcpy(c.deleteList + used, mark, n);
    c.deleteList[used + n] = ',';
    c.deleteList[used + n + 1] = '\0';
}

void SetListTime(Connection& c, const char* value) {
    if (IsDigit(static_cast<unsigned char>(*value))) c.listTimeField = ParseInt(value);
}

void SetLoginSlot(Connection& c, int slot, const char* value) {
    CopyUntil(c.formSlots[slot], value, "", kLoginFieldSize);
}

// The form token; anything but its exact length is no token.
void SetPostedToken(Connection& c, const char* value) {
    if (strlen(value) + 1 == sizeof c.session.postedToken)
        memcpy(c.session.postedToken, value, sizeof c.session.postedToken);
    else
        c.session.postedToken[0] = '\0';
}

// The family a field name belongs to, or null.
const FieldFamily* FamilyOf(const char* name) {
    for (const FieldFamily& f : kFieldFamilies)
        if (Starts(name, f.prefix)) return &f;
    return nullptr;
}

void UrlencodedLine(Connection& c) {
    const char* line = c.line;
    if (Starts(line, "message=")) {
        AppendMessage(c, line + 8);
        c.form.bodyMode = kBodyUrlencodedMessage;
    } else if (const FieldFamily* f = FamilyOf(line)) {
        FieldHandler handler = field_handlers().*(f->handler);
        if (handler != nullptr) handler(c, line + kFamilyPrefixLength, 1);
    } else if (Starts(line, "delete_")) {
        AddDeleteMark(c, line + 7, strcspn(line + 7, "="));
    } else if (Starts(line, "list_time")) {
        const char* eq = strchr(line, '=');
        if (eq != nullptr) SetListTime(c, eq + 1);
    } else if (Starts(line, "csrf=")) {
        SetPostedToken(c, line + 5);
    } else if (Starts(line, "a=")) {
        SetLoginSlot(c, 0, line + 2);
    } else if (Starts(line, "b=")) {
        SetLoginSlot(c, 2, line + 2);
    } else if (c.form.bodyMode == kBodyUrlencodedMessage) {
        // The message text runs on until a recognised field; the upload
        // fields that follow it in the compose form end it too.
        if (Starts(line, "upload")) {
            c.form.bodyMode = kBodyUrlencoded;
        } else {
            AppendMessage(c, line);
        }
    }
}

// One line of an ordinary part. The page fields get every line; the list and
// login fields take the first line of their value, like their urlencoded
// forms, so the multipart list form can delete marked mail too.
void FieldPartLine(Connection& c) {
    const char* name = c.form.partName;
    // The part's last line end is framing; one between its lines is inside
    // the value.
    if (c.form.partLines++ > 0) c.form.valueBroken = 1;
    FieldHandler handler = nullptr;
    if (const FieldFamily* f = FamilyOf(name)) {
        handler = field_handlers().*(f->handler);
    } else if (Starts(name, "delete_")) {
        AddDeleteMark(c, name + 7, strlen(name + 7));
        c.form.partName[0] = '\0';
        return;
    } else if (Starts(name, "list_time")) {
        SetListTime(c, c.line);
        c.form.partName[0] = '\0';
        return;
    } else if (strcmp(name, "csrf") == 0) {
        SetPostedToken(c, c.line);
        c.form.partName[0] = '\0';
        return;
    } else if (strcmp(name, "a") == 0 || strcmp(name, "b") == 0) {
        SetLoginSlot(c, name[0] == 'a' ? 0 : 2, c.line);
        c.form.partName[0] = '\0';
        return;
    }
    if (handler == nullptr) return;
    CopyUntil(c.fieldName, name + kFamilyPrefixLength, "");
    CopyUntil(c.receiveBuffer, c.line, "");
    handler(c, c.receiveBuffer, 0);
}

bool IsBoundaryLine(const Connection& c) {
    size_t n = strlen(c.form.boundary);
    if (c.form.bodyMode == kBodyPartFile) {
        return static_cast<size_t>(c.lineLength) >= n && memcmp(c.line, c.form.boundary, n) == 0;
    }
    return strncmp(c.line, c.form.boundary, n) == 0;
}

void MultipartLine(Connection& c) {
    if (IsBoundaryLine(c)) {
        // The closing boundary is no different: the body count ends the body.
        CloseUpload(c);
        c.form.partName[0] = '\0';
        c.form.bodyMode = kBodyPartHeaders;
        return;
    }
    switch (c.form.bodyMode) {
    case kBodyPartHeaders:
        if (c.line[0] != '\0') {
            PartHeaderLine(c, c.line);
        } else if (Starts(c.form.partName, "message")) {
            c.form.bodyMode = kBodyPartMessage;
        } else if (!Starts(c.form.partName, "upload")) {
            c.form.partLines = 0;
            c.form.bodyMode = kBodyPartField;
        } else {
            c.form.crlfHeld = 0;
            c.form.bodyMode = kBodyPartFile;
        }
        break;
    case kBodyPartField:
        FieldPartLine(c);
        break;
    case kBodyPartMessage:
        AppendMessage(c, c.line);
        break;
    case kBodyPartFile:
        WriteUploadPiece(c, c.line, c.lineLength);
        break;
    }
}

} // namespace

void FormLine(Connection& c) {
    if (c.form.bodyMode == kBodyUrlencoded || c.form.bodyMode == kBodyUrlencodedMessage) {
        UrlencodedLine(c);
    } else if (c.form.bodyMode >= kBodyPartHeaders && c.form.bodyMode <= kBodyPartFile) {
        MultipartLine(c);
    }
}

void AppendMessage(Connection& c, const char* text) {
    size_t n = (text[0] == '\r' || text[0] == '\n') ? 0 : strlen(text);
    size_t used = static_cast<size_t>(c.messageLength);
    if (used + n + 2 > static_cast<size_t>(kMessageTextLimit)) return;
    memcpy(c.messageText + used, text, n);
    used += n;
    c.messageText[used++] = '\r';
    c.messageText[used++] = '\n';
    c.messageText[used] = '\0';
    c.messageLength = static_cast<int32_t>(used);
}
