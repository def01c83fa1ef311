#include "server/login/top_page.h"
#include "base/global_lock.h"
#include "base/server_paths.h"
#include "base/text/messages.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/page_policy.h"
#include "page/output/send_status.h"
#include "store/data_file.h"
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void WriteCloseScript(Connection& c) {
    OutputText(c, "<script language=\"JavaScript\"> window.close() </script>", 0);
}

[[maybe_unused]] const bool kScriptAllowed = register_page_script(WriteCloseScript);

constexpr const char* kVersion = "1.51";
constexpr int kNameFieldLength = 40;
// The logout page is read whole into the message buffer, leaving its NUL.
constexpr size_t kLogoutPageLimit = kMessageTextSize - 1;

int UserCount() {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return count_users(data_store().users);
}

// The administrator's own logout page, when there is one: a regular file
// (a FIFO or a device there must not hold the page).
bool SendLogoutFile(Connection& c) {
    std::string path = server_paths().html + "/logout.html";
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    size_t n = 0;
    while (n < kLogoutPageLimit) {
        ssize_t r = read(fd, c.messageText + n, kLogoutPageLimit - n);
        if (r <= 0) break;
        n += static_cast<size_t>(r);
    }
    close(fd);
    c.messageText[n] = '\0';
    OutputText(c, c.messageText, 0);
    return true;
}

} // namespace

void LoginBlock(Connection& c, const char* languageQuery, int english) {
    const BasicSettings& s = data_store().settings;
    int users = UserCount();
    if (users > 0) {
        if (s.browser_auth) {
            OutputFormat(c, 0, "<font size=+1><a href=\"/mail/index.html%s\">%s</a></font><br><br>",
                         languageQuery, Message(kMsgReadWriteMail, english));
        } else {
            OutputFormat(c, 0, "<form method=\"post\" action=\"/mail/index.html%s\"><pre>",
                         languageQuery);
            OutputFormat(c, 0, "%-18s: <input type=text name=\"a\" size=20 maxlength=%d>\r\n",
                         Message(kMsgUserName, english), kNameFieldLength);
            OutputFormat(c, 0,
                         "%-18s: <input type=password name=\"b\" size=20 maxlength=%d>\r\n\r\n",
                         Message(kMsgPassword, english), kNameFieldLength);
            OutputFormat(c, 0, "<input type=\"submit\" value=\"%s\">\r\n\r\n</pre>",
                         Message(kMsgReadWriteMail, english));
        }
    }
    OutputText(c, "</pre></form>", 0);
    if (users < max_users && s.browser_registration)
        OutputFormat(c, 0, "<font size=+1><a href=\"/mail/new/index.html%s\">%s</a></font><br><br>",
                     languageQuery, Message(kMsgAddUsers, english));
    OutputText(c, "<font size=2>", 0);
    if (s.browser_auth) {
        OutputFormat(c, 0, "%s<br>", Message(kMsgCloseBrowserHint, english));
        if (s.close_browser)
            OutputFormat(c, 0, "%s<br>", Message(kMsgFinishClosesBrowser, english));
        if (c.browser & kBrowserMsie)
            OutputFormat(c, 0, "%s<br>", Message(kMsgNoSavedPassword, english));
    } else {
        OutputFormat(c, 0, "%s<br>", Message(kMsgAlwaysFinish, english));
    }
    OutputText(c, "</font>", 0);
}

void TopPage(Connection& c) {
    int languages = data_store().settings.language_policy & kLanguageTopMask;
    SendStatus(c, 200);
    char title[64];
    snprintf(title, sizeof title, "Tarn Version %s", kVersion);
    PageHead(c, title);
    BeginPage(c, kPageBody | kPageCenter);
    OutputText(c,
               "<br><br><font size=7>Tarn</font><br><font size=3>Halvane Web mail</font><br>"
               "<font size=4>box</font><br>",
               0);
    OutputFormat(c, 0, "Version %s<br><br><br>", kVersion);
    if (!c.english && (languages & 1)) {
        LoginBlock(c, "", 0);
        if (languages & 2) OutputText(c, "<br><br>", 0);
    }
    if (c.english || (languages & 2)) LoginBlock(c, "?lang=eng", 1);
    EndPage(c, kPageHtml | kPageBody | kPageCenter);
}

void LogoutPage(Connection& c) {
    const BasicSettings& s = data_store().settings;
    SendStatus(c, 200);
    if (SendLogoutFile(c)) return;
    PageHead(c, Message(kMsgFinish, c.english));
    BeginPage(c, kPageBody | kPageCenter);
    if (s.close_browser) WriteCloseScript(c);
    OutputText(c,
               "<br><br><font size=7>Tarn</font><br><font size=3>Halvane Web mail</font>"
               "<br><br><br>",
               0);
    OutputText(c, Message(kMsgFinishedCloseBrowser, c.english), 0);
    OutputText(c, "<br>", 0);
    if (!s.close_browser) {
        OutputText(c, Message(kMsgReadAgainFromTop, c.english), 0);
        OutputText(c, "<br><br>", 0);
        TopLink(c);
    }
    EndPage(c, kPageHtml | kPageBody | kPageCenter);
}
