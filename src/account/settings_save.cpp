// Saving a checked settings or registration post, and the page that shows
// what was stored.
#include "account/settings_form.h"
#include "account/settings_security.h"
#include "account/settings_steps.h"
#include "base/charset/sjis.h"
#include "base/global_lock.h"
#include "base/text/markup_escape.h"
#include "base/text/messages.h"
#include "mail/list/received_list.h"
#include "mail/oauth/oauth_client.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"
#include "store/mail_security.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace {

// Outcomes of the poppassd exchange (c.workerResult).
enum : int { kPoppassdServerNotFound = 6, kPoppassdConnectFailed = 7 };

constexpr int kMaxUploadNo = 10;

// What the result page shows, copied under the lock.
struct Saved {
    SettingsSet set;
    uint8_t options[kOptionBytes];
    bool settings1PasswordChanged;
};

uint8_t Flag(const Connection& c, int slot) {
    return slot_ticked(c, slot) ? 1 : 0;
}

// Stores the slots into set of r and returns whether the password of
// Settings 1 changed. The caller holds globalLock unless r is still private.
bool ApplyForm(Connection& c, UserRecord& r, int set, bool newUser) {
    const BasicSettings& b = data_store().settings;
    const SettingsPolicy p = settings_policy(b);
    SettingsSet& s = r.set[set];
    const char* pass1 = c.formSlots[kSlotPass1];
    bool changed = false;
    if (newUser) {
        sjis_copy(s.password, pass1);
    } else {
        const bool p0 = c.formSlots[kSlotPass0][0];
        const bool p1 = pass1[0];
        const bool p2 = c.formSlots[kSlotPass2][0];
        if ((p0 && p1 && p2) || (set > 0 && p1 && p2)) {
            changed = set == 0 && strcmp(s.password, pass1) != 0;
            sjis_copy(s.password, pass1);
        }
    }
    sjis_copy(s.name, c.formSlots[kSlotName]);
    sjis_copy(s.id, c.formSlots[kSlotId]);
    sjis_copy(s.mail_address, c.formSlots[kSlotMailAddress]);
    if (p.signature) sjis_copy(s.signature, c.messageText);
    if (p.quotation) sjis_copy(s.quotation, c.formSlots[kSlotQuotation]);
    apply_security_slots(c, b, s, newUser, p.servers);
    // Ports of the set's own, set by the administrator, stay.
    if (!(s.mail_security & kSecurityOwnPorts)) {
        s.smtp_port = b.smtp_port;
        s.pop3_port = b.pop3_port;
    }
    if (p.servers) {
        sjis_copy(s.smtp_name, c.formSlots[kSlotSmtpName]);
        sjis_copy(s.pop3_name, c.formSlots[kSlotPop3Name]);
    }
    if (!s.smtp_name[0]) sjis_copy(s.smtp_name, b.smtp_server);
    if (!s.pop3_name[0]) sjis_copy(s.pop3_name, b.pop3_server);
    if (p.apop) s.apop_flag = Flag(c, kSlotApopFlag);
    if (set > 0) return changed;

    uint8_t* o = r.options;
    if (newUser) {
        memset(o, 0, kOptionBytes);
        o[reserved_option_7] = 1;
        o[reserved_option_8] = 0;
    }
    // The checks left rows and columns in range; a hand-made upload count is
    // brought back to one.
    if (p.rows || newUser) o[row_count] = static_cast<uint8_t>(slot_number(c, kSlotRowCount));
    if (p.columns || newUser)
        o[column_count] = static_cast<uint8_t>(slot_number(c, kSlotColumnCount));
    if (p.upload_no || newUser) {
        const int uploads = slot_number(c, kSlotUploadNo);
        o[upload_no] = static_cast<uint8_t>(uploads >= 1 && uploads <= kMaxUploadNo ? uploads : 1);
    }
    const struct {
        bool changeable;
        int option;
        int slot;
    } flags[] = {
        {p.delete_mark, delete_flag, kSlotDeleteFlag},
        {p.header, header_flag, kSlotHeaderFlag},
        {p.cc, cc_flag, kSlotCcFlag},
        {p.bcc, bcc_flag, kSlotBccFlag},
        {p.folding, folding, kSlotFolding},
        {p.save_text, save_text, kSlotSaveText},
        {p.delete_link, delete_link, kSlotDeleteLink},
        {p.jump, jump_flag, kSlotJumpFlag},
    };
    for (const auto& f : flags)
        if (f.changeable || newUser) o[f.option] = Flag(c, f.slot);
    if (!newUser && p.delete_mark && o[delete_flag] == 0) clear_read_marks(&r);
    return changed;
}

void RegistrationFailure(Connection& c) {
    SendStatus(c, 405);
    BeginPage(c, kPageHtml | kPageBody);
    OutputFormat(c, 0, "<font size=+1>%s</font><br><br>",
                 Message(kMsgRegistrationFailure, c.english));
    EndPage(c, kPageBody | kPageHtml);
}

// Appends the new user while there is room and the key is still free (two
// registrations may race for both). Returns false when it was not taken.
bool Register(Connection& c, Saved& saved) {
    UserRecord* r = new (std::nothrow) UserRecord;
    if (!r) return false;
    ApplyForm(c, *r, 0, true);
    DataStore& ds = data_store();
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    if (count_users(ds.users) >= max_users || find_user(ds.users, r->set[0].id)) {
        delete r;
        return false;
    }
    append_user(ds.users, r);
    renumber_users(ds.users);
    if (write_user_slot(ds, *r) != 1) {
        // The page must not say done for an account the file does not hold.
        unlink_user(ds.users, r->set[0].id);
        renumber_users(ds.users);
        delete r;
        return false;
    }
    if (settings_policy(ds.settings).servers) store_posted_smtp_login(c, *r, 0);
    saved.set = r->set[0];
    memcpy(saved.options, r->options, kOptionBytes);
    saved.settings1PasswordChanged = false;
    return true;
}

void Change(Connection& c, int set, Saved& saved) {
    DataStore& ds = data_store();
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    SettingsSet before[kSettingsSets];
    std::copy(std::begin(c.user->set), std::end(c.user->set), before);
    saved.settings1PasswordChanged = ApplyForm(c, *c.user, set, false);
    write_user_slot(ds, *c.user);
    if (settings_policy(ds.settings).servers) store_posted_smtp_login(c, *c.user, set);
    oauth_keep_providers(ds.credentials, before, *c.user);
    saved.set = c.user->set[set];
    memcpy(saved.options, c.user->options, kOptionBytes);
}

void Line(Connection& c, const char* format, int label, const char* value) {
    OutputFormat(c, 0, format, Message(label, c.english), MarkupEscape(value).c_str());
}

void WordLine(Connection& c, int message, int word) {
    char text[256];
    message_with(text, sizeof text, message, c.english, Message(word, c.english));
    OutputFormat(c, 0, "%s<br>", text);
}

void OnOffLine(Connection& c, int message, bool on) {
    if (c.english)
        OutputFormat(c, 0, "%s: %s<br>", Message(message, 1), on ? "ON" : "OFF");
    else
        OutputFormat(c, 0, "%s%s<br>", Message(message, 0), Message(on ? kMsgUse : kMsgNotUse, 0));
}

void CcLine(Connection& c, const char* field, bool on) {
    char text[256];
    message_with(text, sizeof text, on ? kMsgInputPossible : kMsgInputImpossible, c.english, field);
    OutputFormat(c, 0, "%s<br>", text);
}

void OptionLines(Connection& c, const SettingsPolicy& p, const uint8_t* o) {
    const int e = c.english;
    if (p.columns)
        OutputFormat(c, 0, "\r\n%-23s: %d<br>", Message(kMsgColumns, e), o[column_count]);
    if (p.rows) OutputFormat(c, 0, "%-23s: %d<br>", Message(kMsgRows, e), o[row_count]);
    if (p.upload_no) OutputFormat(c, 0, "%-23s: %d<br>", Message(kMsgUploads, e), o[upload_no]);
    if (p.header) WordLine(c, kMsgHeader, o[header_flag] ? kMsgShow : kMsgHide);
    if (p.delete_mark) WordLine(c, kMsgReadMail, o[delete_flag] ? kMsgMark : kMsgNoMark);
    if (p.jump) WordLine(c, kMsgJump, o[jump_flag] ? kMsgJumps : kMsgNoJump);
    if (p.cc) CcLine(c, "CC", o[cc_flag]);
    if (p.bcc) CcLine(c, "BCC", o[bcc_flag]);
    if (p.folding) OnOffLine(c, kMsgFoldingResult, o[folding]);
    if (p.save_text) OnOffLine(c, kMsgSaveLink, o[save_text]);
    if (p.delete_link) OnOffLine(c, kMsgDeleteLink, o[delete_link]);
}

void ResultPage(Connection& c, int set, const Saved& saved, bool passwordChangedOnServer) {
    const int e = c.english;
    const BasicSettings& b = data_store().settings;
    const SettingsPolicy p = settings_policy(b);
    const bool newUser = set < 0;
    const SettingsSet& s = saved.set;
    const char* heading = Message(newUser ? kMsgRegistrationCompleted : kMsgChangesCompleted, e);
    SendStatus(c, 200);
    PageHead(c, heading);
    BeginPage(c, kPageBody | kPageCenter);
    OutputFormat(c, 0, "<font size=+1>%s</font><br>", heading);
    if (newUser || !b.multiple_addresses) {
        OutputFormat(c, 0, "</center><hr><br><font size=+1>%s</font><br><br>",
                     Message(kMsgContents, e));
    } else {
        char title[256];
        message_with(title, sizeof title, kMsgContentsOfSet, e, set + 1);
        OutputFormat(c, 0, "</center><hr><br><font size=+1>%s</font><br><br>", title);
    }
    Line(c, "%-23s: %s<br>", kMsgName, s.name);
    Line(c, "%-23s: %s<br>", kMsgMailAddress, s.mail_address);
    Line(c, "%-23s: %s<br><br>", kMsgPop3User, s.id);
    if (passwordChangedOnServer)
        OutputFormat(c, 0, "%s<br><br>", Message(kMsgChangedByPoppassd, e));
    if (p.servers) {
        Line(c, "%-23s: %s<br>", kMsgSmtpServer, s.smtp_name);
        Line(c, "%-23s: %s<br><br>", kMsgPop3Server, s.pop3_name);
        write_security_result(c, b, s);
    }
    if (p.quotation) {
        if (s.quotation[0])
            Line(c, "%-23s: %s<br><br>", kMsgQuotation, s.quotation);
        else
            OutputFormat(c, 0, "%-23s: %s<br>", Message(kMsgQuotation, e),
                         Message(kMsgNoQuotation, e));
    }
    if (set <= 0) OptionLines(c, p, saved.options);
    if (p.apop) WordLine(c, kMsgApop, s.apop_flag ? kMsgUse : kMsgNotUse);
    if (p.signature) {
        OutputFormat(c, 0, "<br>%s : <br><pre>", Message(kMsgSignature, e));
        OutputText(c, MarkupEscape(s.signature).c_str(), 0);
        OutputText(c, "</pre>", 0);
    }

    if (newUser) {
        TopLink(c);
    } else if (saved.settings1PasswordChanged && b.browser_auth) {
        OutputFormat(c, 0, "<br><center><hr><font size=+1>%s</font></center>",
                     Message(kMsgPasswordChanged, e));
        if (b.close_browser)
            OutputFormat(c, 0,
                         "<br><br><center><font size=+1><a "
                         "href=\"/mail/logout/index.html\">%s</a></font></center>",
                         Message(kMsgCloseBrowser, e));
    } else {
        settings_page_end(c, set);
        return;
    }
    EndPage(c, kPageBody | kPageHtml);
}

} // namespace

SettingsSet registration_probe(Connection& c) {
    auto r = std::make_unique<UserRecord>();
    ApplyForm(c, *r, 0, true);
    return r->set[0];
}

void save_settings(Connection& c, int set, bool passwordChangedOnServer) {
    Saved saved{};
    if (set < 0) {
        if (!Register(c, saved)) {
            RegistrationFailure(c);
            return;
        }
    } else {
        Change(c, set, saved);
    }
    ResultPage(c, set, saved, passwordChangedOnServer);
}

void poppassd_failure_page(Connection& c, int set, int result) {
    const int e = c.english;
    const char* heading = Message(kMsgInputError, e);
    SendStatus(c, 200);
    PageHead(c, heading);
    BeginPage(c, kPageBody);
    OutputFormat(c, 0, "<center><font size=+1>%s</font>\r\n\r\n\r\n", heading);
    // The heading alone does not say what failed.
    OutputFormat(c, 0, "%s\r\n", Message(kMsgPoppassdFailed, e));
    if (result == kPoppassdServerNotFound) {
        OutputFormat(c, 0, "%s\r\n<hr></center>", Message(kMsgServerNotFound, e));
    } else if (result == kPoppassdConnectFailed) {
        OutputFormat(c, 0, "%s\r\n<hr></center>", Message(kMsgConnectionFailed, e));
    } else {
        // The server's words, with markup and escape bytes made harmless.
        char reply[kSafeSubjectSize];
        {
            std::lock_guard<std::recursive_mutex> hold(globalLock);
            safe_subject(reply, c.user->runtime.pop3ErrorText[0]);
        }
        OutputFormat(c, 0, "%s\r\n", Message(kMsgErrorMessage, e));
        OutputText(c, reply, 0);
        OutputText(c, "\r\n<hr></center>", 0);
    }
    write_settings_form(c, set);
}
