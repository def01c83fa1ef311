// Deleting Settings 2 or 3: the later set moves up, Settings 3 is emptied.
#include "account/settings_form.h"
#include "account/settings_steps.h"
#include "base/global_lock.h"
#include "base/text/messages.h"
#include "mail/list/received_list.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"

#include <cstring>
#include <mutex>

void move_sets_up(UserRecord& r, int set) {
    UserRuntime& rt = r.runtime;
    for (int k = set; k + 1 < kSettingsSets; k++) {
        r.set[k] = r.set[k + 1];
        rt.keptList[k] = rt.keptList[k + 1];
        rt.keptCount[k] = rt.keptCount[k + 1];
        rt.pop3Status[k] = rt.pop3Status[k + 1].load();
        memcpy(rt.pop3ErrorText[k], rt.pop3ErrorText[k + 1], sizeof rt.pop3ErrorText[k]);
    }
    const int last = kSettingsSets - 1;
    r.set[last] = SettingsSet{};
    rt.keptList[last] = nullptr;
    rt.keptCount[last] = 0;
    rt.pop3Status[last] = 0;
    rt.pop3ErrorText[last][0] = '\0';
}

void delete_settings_set(Connection& c, int set) {
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        free_kept_list(c.user, set);
        move_sets_up(*c.user, set);
        write_user_slot(data_store(), *c.user);
    }
    char text[256];
    message_with(text, sizeof text, kMsgDeleted, c.english, set + 1);
    SendStatus(c, 200);
    // The title is Japanese on pages of either language.
    PageHead(c, Message(kMsgDeletionCompleted, 0));
    BeginPage(c, kPageBody | kPageCenter);
    OutputFormat(c, 0, "<font size=+1>%s</font>\r\n\r\n<hr>", text);
    ListLink(c);
    EndPage(c, kPageCenter | kPageBody | kPageHtml);
}
