#include "mail/compose/compose_page.h"
#include "base/charset/sjis.h"
#include "base/global_lock.h"
#include "base/text/messages.h"
#include "base/text/text_copy.h"
#include "mail/compose/compose_form.h"
#include "mail/compose/compose_message.h"
#include "mail/compose/outgoing.h"
#include "mail/compose/reply_fields.h"
#include "mail/mime/mime_state.h"
#include "page/form_reading.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"

#include <cstring>
#include <mutex>

namespace {

void Closing(Connection& c) {
    OutputText(c, "<hr>", 0);
    BeginPage(c, kPageCenter);
    ListLink(c);
    EndPage(c, kPageCenter);
    EndPage(c, kPagePre | kPageBody | kPageHtml);
}

// The row of settings sets a message can be written with.
void SettingsRow(Connection& c) {
    const int e = c.english;
    const std::string to = ReplyAddress(c);
    OutputText(c, "<center>", 0);
    for (int k = 0; k < kSettingsSets && c.user->set[k].id[0]; k++) {
        if (k > 0) OutputText(c, "  ", 0);
        if (k == c.settingsIndex) {
            OutputFormat(c, 0, "%s %d", Message(kMsgSettings, e), k + 1);
            continue;
        }
        char label[128];
        snprintf(label, sizeof label, Message(kMsgWriteUsing, e), k + 1);
        OutputFormat(c, 0, "<a href=\"/mail/write/index%d.html%s%s%s\">%s</a>", k + 1,
                     to.empty() ? "" : "?to=", to.c_str(), c.loginQuery, label);
    }
    OutputText(c, "</center><hr><br>", 0);
}

// Appends value to a recipient list: a "," between, the whole within 299
// bytes, never half a two-byte character.
void AppendList(char (&list)[kSendFieldSize], const char* value) {
    size_t used = strnlen(list, sizeof list);
    if (used >= sizeof list - 1) return;
    if (used > 0) {
        list[used++] = ',';
        list[used] = '\0';
    }
    sjis_copy(list + used, value, static_cast<int>(sizeof list - used));
}

} // namespace

void ShowComposePage(Connection& c) {
    if (!c.user) return;
    const int e = c.english;
    SendStatus(c, 200);
    PageHead(c, Message(kMsgSendMail, e));
    BeginPage(c, kPageBody | kPagePre | kPageCenter);
    OutputFormat(c, 0, "<font size=+1>%s</font>\r\n\r\n", Message(kMsgSendMail, e));
    ListLink(c);
    OutputText(c, "</center><hr>", 0);
    if (data_store().settings.multiple_addresses) SettingsRow(c);
    // A new message is never a reply.
    c.mime.subjectLine[0] = '\0';
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        c.user->runtime.lastMessageId[0] = '\0';
        c.user->runtime.replyReferences[0] = '\0';
    }
    WriteForm(c, FormVariant::New);
    Closing(c);
}

void ShowAddressError(Connection& c) {
    if (!c.user) return;
    const int e = c.english;
    // Nothing is sent, so the files of this post have no use.
    RemoveUploads(c);
    SendStatus(c, 200);
    PageHead(c, Message(kMsgSendMail, e));
    BeginPage(c, kPageBody | kPagePre);
    OutputFormat(c, 0, "<center><font size=+1>%s\r\n", Message(kMsgSendMail, e));
    OutputText(c, Message(c.send.sendTo[0] ? kMsgBadReceiver : kMsgNoReceiver, e), 0);
    OutputText(c, "</font></center>\r\n\r\n", 0);
    StripSignature(c);
    WriteForm(c, FormVariant::AddressError);
    Closing(c);
}

void StoreSendField(Connection& c, const char* text, int urlencoded) {
    char name[kFieldSize];
    char value[kLineSize];
    if (urlencoded) {
        const char* v = SplitField(text, name, sizeof name);
        if (!v) return;
        const size_t length = strcspn(v, "\r\n");
        const size_t take = length < sizeof value - 1 ? length : sizeof value - 1;
        memcpy(value, v, take);
        value[take] = '\0';
    } else {
        sjis_copy(name, c.fieldName);
        sjis_copy(value, text);
        value[strcspn(value, "\r\n")] = '\0';
    }
    OutgoingMail& m = c.send;
    // Cut at the break, an address list would name other recipients than
    // the ones typed.
    if (c.form.valueBroken && (!strcmp(name, "to") || !strcmp(name, "cc") || !strcmp(name, "bcc")))
        m.recipientBroken = 1;
    if (!value[0]) return;
    if (!strcmp(name, "subject"))
        sjis_copy(m.sendSubject, value);
    else if (!strcmp(name, "to"))
        AppendList(m.sendTo, value);
    else if (!strcmp(name, "cc"))
        AppendList(m.sendCc, value);
    else if (!strcmp(name, "bcc"))
        AppendList(m.sendBcc, value);
    else if (!strcmp(name, "from"))
        sjis_copy(m.sendFrom, value);
}

void WriteReplyForm(Connection& c) {
    WriteForm(c, FormVariant::Reply);
}
