#include "server/remote/remote_page.h"
#include "base/text/text_search.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "server/login/login.h"
#include "store/data_file.h"

std::atomic<int> serviceActive{1};

namespace {

// Form fields a (the command word) and b (the password).
constexpr int kSlotA = 0;
constexpr int kSlotB = 2;
constexpr int kFieldLength = 40;

void RemoteFrame(Connection& c) {
    SendStatus(c, 200);
    PageHead(c, "remote");
    BeginPage(c, kPageBody | kPageCenter);
}

} // namespace

void RemotePage(Connection& c) {
    RemoteFrame(c);
    OutputText(c, "<form method=\"post\" action=\"/remote/index.html\"><pre>", 0);
    OutputFormat(c, 0, "<input type=text name=\"a\" size=20 maxlength=%d>\r\n", kFieldLength);
    OutputFormat(c, 0, "<input type=password name=\"b\" size=20 maxlength=%d>\r\n\r\n",
                 kFieldLength);
    OutputText(c, "<input type=\"submit\" value=\"Action\">\r\n\r\n</pre></form>", 0);
    EndPage(c, kPageHtml | kPageBody | kPageCenter);
}

void RemoteSubmit(Connection& c) {
    const BasicSettings& s = data_store().settings;
    RemoteFrame(c);
    OutputText(c, "<font size=5>", 0);
    const char* result = "Error<br>";
    const char* command = c.formSlots[kSlotA];
    if (s.remote_control &&
        SecretEquals(s.admin_password, sizeof s.admin_password, c.formSlots[kSlotB])) {
        if (PrefixEqualNoCase(command, "suspend", 7) == 0) {
            serviceActive = 0;
            result = "Stop<br>";
        } else if (PrefixEqualNoCase(command, "resume", 6) == 0) {
            serviceActive = 1;
            result = "Start<br>";
        }
    }
    OutputText(c, result, 0);
    OutputText(c, "<hr></font>", 0);
    EndPage(c, kPageHtml | kPageBody | kPageCenter);
}
