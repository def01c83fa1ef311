#include "page/output/not_found_page.h"
#include "base/text/messages.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"

void NotFoundPage(Connection& c) {
    SendStatus(c, 404);
    BeginPage(c, kPageHtml | kPageBody);
    OutputFormat(c, 0, "<font size=+1>File Not Found</font><br><br>  %s<br>",
                 Message(kMsgNoSuchUrl, c.english));
    EndPage(c, kPageHtml | kPageBody);
}
