// Checking a posted settings or registration form.
#include "account/settings_form.h"
#include "account/settings_steps.h"
#include "base/charset/sjis.h"
#include "base/global_lock.h"
#include "base/text/address.h"
#include "base/text/messages.h"
#include "base/text/secret_equals.h"
#include "mail/list/received_list.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"
#include "store/login_throttle.h"

#include <cstring>
#include <mutex>
#include <string>

namespace {

// What a row or column slot shows when its value cannot be used.
constexpr int kDefaultRows = 10;
constexpr int kDefaultColumns = 80;

bool Empty(const Connection& c, int slot) {
    return c.formSlots[slot][0] == '\0';
}

bool Same(const Connection& c, int a, int b) {
    return strcmp(c.formSlots[a], c.formSlots[b]) == 0;
}

// The user whose key is id, if any.
const UserRecord* KeyOwner(const char* id) {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return find_user(data_store().users, id);
}

void NewPasswords(Connection& c, ErrorList& errors) {
    if (!Same(c, kSlotPass1, kSlotPass2)) errors.add(Message(kMsgPasswordsDiffer, c.english));
    if (Empty(c, kSlotPass1) && Empty(c, kSlotPass2))
        errors.add(Message(kMsgPasswordMissing, c.english));
}

void ChangedPassword(Connection& c, int set, ErrorList& errors) {
    char stored[sizeof c.user->set[0].password];
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        sjis_copy(stored, c.user->set[set].password);
    }
    const bool old = !Empty(c, kSlotPass0);
    bool wrong = !old && !Empty(c, kSlotPass1);
    if (old) {
        // The old password is a password check like a login: it is throttled
        // the same way, or the form would let a session holder guess it.
        LoginThrottle& throttle = login_throttle();
        const std::string address = ThrottleAddress(c.clientAddress);
        const auto now = LoginThrottle::Clock::now();
        wrong = !throttle.allowed(c.userName, address, now) ||
                !SecretEquals(stored, sizeof stored, c.formSlots[kSlotPass0]);
        if (wrong)
            throttle.failed(c.userName, address, now);
        else
            throttle.succeeded(c.userName, address);
    }
    if (wrong) errors.add(Message(kMsgOldPasswordWrong, c.english));
    if (!Same(c, kSlotPass1, kSlotPass2)) errors.add(Message(kMsgNewPasswordsDiffer, c.english));
    if (old && Empty(c, kSlotPass1) && Empty(c, kSlotPass2))
        errors.add(Message(kMsgNewPasswordMissing, c.english));
}

void ExistingSet(Connection& c, int set, ErrorList& errors) {
    const UserRecord* owner = KeyOwner(c.formSlots[kSlotId]);
    if (set == 0 && owner && owner != c.user) errors.replace(Message(kMsgIdTaken, c.english));
    // A set now read from another mailbox must not keep the old one's list.
    if (!owner) free_kept_list(c.user, set);
    if (settings_adding(c, set))
        NewPasswords(c, errors);
    else
        ChangedPassword(c, set, errors);
}

// The label of a text field's slot, as the form shows it.
int FieldLabel(int slot, bool adding) {
    switch (slot) {
    case kSlotId:
        return kMsgPop3User;
    case kSlotPass0:
        return kMsgOldPassword;
    case kSlotPass1:
        return adding ? kMsgPassword : kMsgNewPassword;
    case kSlotPass2:
        return adding ? kMsgPasswordReentry : kMsgNewPasswordReentry;
    case kSlotName:
        return kMsgName;
    case kSlotMailAddress:
        return kMsgMailAddress;
    case kSlotSmtpName:
        return kMsgSmtpServer;
    case kSlotPop3Name:
        return kMsgPop3Server;
    case kSlotQuotation:
        return kMsgQuotation;
    default:
        return -1;
    }
}

// A value posted with a line break would reach a mail server's command line
// cut into a different name or password (or the rest as a command).
void LineBreaks(Connection& c, int set, ErrorList& errors) {
    const int label = FieldLabel(slot_number(c, kSlotBrokenField), settings_adding(c, set));
    if (label < 0) return;
    std::string name = Message(label, c.english);
    // Some English labels carry blanks that line up the form.
    while (!name.empty() && name.back() == ' ') name.pop_back();
    char text[256];
    message_with(text, sizeof text, kMsgLineBreak, c.english, name.c_str());
    errors.add(text);
}

void EntryArea(Connection& c, int set, const BasicSettings& b, ErrorList& errors) {
    const SettingsPolicy p = settings_policy(b);
    char text[256];
    if (set > 0) {
        // Settings 2 and 3 offer no entry area inputs; the values only size
        // the signature box of a redisplayed form.
        if (p.rows)
            set_slot_number(c, kSlotRowCount, kDefaultRows);
        else
            set_slot_number(c, kSlotRowCount, b.fixed_rows);
        if (p.columns)
            set_slot_number(c, kSlotColumnCount, kDefaultColumns);
        else
            set_slot_number(c, kSlotColumnCount, b.fixed_columns);
        return;
    }
    if (p.rows) {
        const int rows = slot_number(c, kSlotRowCount);
        if (rows < 1 || rows > kMaxRows) {
            message_with(text, sizeof text, kMsgRowRange, c.english, kMaxRows);
            errors.add(text);
            set_slot_number(c, kSlotRowCount, kDefaultRows);
        }
    } else {
        set_slot_number(c, kSlotRowCount, kDefaultRows);
    }
    if (p.columns) {
        const int columns = slot_number(c, kSlotColumnCount);
        if (columns < kMinColumns || columns > kMaxColumns) {
            message_with(text, sizeof text, kMsgColumnRange, c.english, kMaxColumns);
            errors.add(text);
            set_slot_number(c, kSlotColumnCount, kDefaultColumns);
        }
    } else {
        set_slot_number(c, kSlotColumnCount, kDefaultColumns);
    }
}

} // namespace

void ErrorList::add(const char* message) {
    const size_t n = strlen(message);
    if (length + n + 4 >= sizeof text) return;
    memcpy(text + length, message, n);
    memcpy(text + length + n, "<br>", 5);
    length += n + 4;
}

void ErrorList::replace(const char* message) {
    length = 0;
    text[0] = '\0';
    add(message);
}

void prepare_posted_settings(Connection& c, int set) {
    const SettingsPolicy p = settings_policy(data_store().settings);
    const bool adding = settings_adding(c, set);
    if (!adding) {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const SettingsSet& s = c.user->set[set];
        if (!p.name) set_slot(c, kSlotName, s.name);
        if (!p.mail_address) set_slot(c, kSlotMailAddress, s.mail_address);
        if (!p.id) set_slot(c, kSlotId, s.id);
    }
    // The old password belongs to an existing set, and a fixed password is
    // not for the user to change.
    if (adding) set_slot(c, kSlotPass0, "");
    if (!adding && !p.password)
        for (int slot : {kSlotPass0, kSlotPass1, kSlotPass2}) set_slot(c, slot, "");
    // Escape and shift bytes would switch the output filter into JIS text
    // wherever the signature is shown; they have no place in a signature.
    int length = c.messageLength;
    if (length < 0 || length >= kMessageTextSize) length = 0;
    int n = 0;
    for (int i = 0; i < length; i++) {
        const char b = c.messageText[i];
        if (b != '\x1b' && b != '\x0e' && b != '\x0f') c.messageText[n++] = b;
    }
    while (n > 0 && (c.messageText[n - 1] == '\r' || c.messageText[n - 1] == '\n')) n--;
    c.messageText[n] = '\0';
    c.messageLength = n;
}

void check_settings(Connection& c, int set, ErrorList& errors) {
    const BasicSettings& b = data_store().settings;
    const SettingsPolicy p = settings_policy(b);
    const int e = c.english;
    if (Empty(c, kSlotId)) errors.add(Message(kMsgNoId, e));
    if (set < 0) {
        if (KeyOwner(c.formSlots[kSlotId])) errors.add(Message(kMsgIdTaken, e));
        NewPasswords(c, errors);
    } else {
        ExistingSet(c, set, errors);
    }
    if (Empty(c, kSlotName)) errors.add(Message(kMsgNoName, e));
    if (Empty(c, kSlotMailAddress))
        errors.add(Message(kMsgEnterAddress, e));
    else if (!ValidAddress(c.formSlots[kSlotMailAddress]))
        errors.add(Message(kMsgBadAddress, e));
    if (p.servers) {
        if (Empty(c, kSlotSmtpName)) errors.add(Message(kMsgNoSmtpServer, e));
        if (Empty(c, kSlotPop3Name)) errors.add(Message(kMsgNoPop3Server, e));
    }
    EntryArea(c, set, b, errors);
    if (p.signature && c.messageLength > kMaxSignature)
        errors.add(Message(kMsgSignatureTooLong, e));
    LineBreaks(c, set, errors);
}

void settings_error_page(Connection& c, int set, const ErrorList& errors) {
    const char* heading = Message(kMsgInputError, c.english);
    SendStatus(c, 200);
    PageHead(c, heading);
    BeginPage(c, kPageBody);
    OutputFormat(c, 0, "<center><font size=+1>%s</font><br><br>\r\n", heading);
    OutputText(c, errors.text, 0);
    OutputText(c, "<hr></center>", 0);
    write_settings_form(c, set);
}
