#include "page/output/form_token.h"

#include "page/output/output_text.h"
#include "store/data_file.h"

void FormTokenField(Connection& c) {
    if (c.auth != kAuthOk || !c.user) return;
    SessionKeyText token;
    if (data_store().settings.browser_auth)
        basic_form_token(c.userName, token);
    else if (!session_form_token(c.userName, c.session.check, token))
        return;
    OutputFormat(c, 0, "<input type=hidden name=\"csrf\" value=\"%s\">", token.text);
}
