#include "server/output/not_found_page.h"
#include "base/text/messages.h"
#include "server/output/output_text.h"
#include "server/output/page_frame.h"
#include "server/output/send_status.h"

void NotFoundPage(Connection& c) {
    SendStatus(c, 404);
    BeginPage(c, kPageHtml | kPageBody);
    OutputFormat(c, 0, "<font size=+1>File Not Found</font><br><br>  %s<br>",
                 Message(kMsgNoSuchUrl, c.english));
    EndPage(c, kPageHtml | kPageBody);
}
