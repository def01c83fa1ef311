// The producers of the settings and new-user states.
#include "account/registration_check.h"
#include "account/settings_form.h"
#include "account/settings_page.h"
#include "account/settings_steps.h"
#include "base/charset/sjis.h"
#include "base/global_lock.h"
#include "base/text/markup_escape.h"
#include "base/text/messages.h"
#include "mail/pop3/pop3_login_check.h"
#include "mail/poppassd/poppassd_client.h"
#include "page/output/not_found_page.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"

#include <mutex>
#include <string>

const SettingsWorkers kMailSettingsWorkers = {StartPoppassd, StartRegistrationPop3Check};

SettingsWorkers& settings_workers() {
    static SettingsWorkers workers = kMailSettingsWorkers;
    return workers;
}

namespace {

int SetOf(const Connection& c) {
    const int set = c.settingsIndex;
    return set >= 0 && set < kSettingsSets ? set : 0;
}

// A direct request for the registration pages while registration is off is
// answered like a page that does not exist, as the top page offers no link.
bool RegistrationOpen() {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return data_store().settings.browser_registration != 0;
}

void ShowSettings(Connection& c, int set) {
    std::string name;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        fill_settings_form(c, *c.user, set);
        name = MarkupEscape(c.user->set[0].name);
    }
    char title[256];
    message_with(title, sizeof title, kMsgChangeIn, c.english, name.c_str());
    SendStatus(c, 200);
    PageHead(c, title);
    BeginPage(c, kPageBody);
    write_settings_form(c, set);
}

} // namespace

void SetupPage(Connection& c) {
    if (!c.user) {
        NotFoundPage(c);
        return;
    }
    ShowSettings(c, SetOf(c));
}

// Checks the post; on success either saves at once or starts the poppassd
// exchange and leaves the state at SetupPasswordWait.
void SetupSubmit(Connection& c) {
    c.state = PageState::Done;
    if (!c.user) {
        NotFoundPage(c);
        return;
    }
    const int set = SetOf(c);
    prepare_posted_settings(c, set);
    ErrorList errors;
    check_settings(c, set, errors);
    if (!errors.empty()) {
        settings_error_page(c, set, errors);
        return;
    }
    if (!poppassd_wanted(c, set)) {
        save_settings(c, set, false);
        return;
    }
    sjis_copy(c.formSlots[kSlotPoppassdUser], c.formSlots[kSlotId]);
    sjis_copy(c.formSlots[kSlotPoppassdOld], c.formSlots[kSlotPass0]);
    sjis_copy(c.formSlots[kSlotPoppassdNew], c.formSlots[kSlotPass1]);
    c.workerResult = 0;
    c.state = PageState::SetupPasswordWait;
    if (settings_workers().password)
        settings_workers().password(c, set);
    else
        c.workerResult = kPoppassdConnectFailed;
}

void SetupPasswordResult(Connection& c) {
    if (!c.user) {
        NotFoundPage(c);
        return;
    }
    const int set = SetOf(c);
    const int result = c.workerResult;
    if (result == 0 || result == 5)
        save_settings(c, set, result == 5);
    else
        poppassd_failure_page(c, set, result);
}

// Settings 1 holds the user's key and cannot be deleted: the request gets
// the settings page of Settings 1 and nothing changes.
void SetupDeleteSubmit(Connection& c) {
    if (!c.user) {
        NotFoundPage(c);
        return;
    }
    const int set = SetOf(c);
    if (set == 0) {
        c.settingsIndex = 0;
        ShowSettings(c, 0);
        return;
    }
    delete_settings_set(c, set);
}

void NewUserForm(Connection& c) {
    if (!RegistrationOpen() || !c.user) {
        NotFoundPage(c);
        return;
    }
    fill_settings_form(c, *c.user, -1);
    SendStatus(c, 200);
    PageHead(c, Message(kMsgAddUsers, c.english));
    BeginPage(c, kPageBody);
    write_settings_form(c, -1);
}

// The account is made only once the POP3 server took the login: the form's
// checks first, then the server is asked on a worker.
void NewUserSubmit(Connection& c) {
    c.state = PageState::Done;
    if (!RegistrationOpen()) {
        NotFoundPage(c);
        return;
    }
    prepare_posted_settings(c, -1);
    ErrorList errors;
    check_settings(c, -1, errors);
    if (!errors.empty()) {
        settings_error_page(c, -1, errors);
        return;
    }
    c.workerResult = 0;
    c.formSlots[kSlotCheckRefusal][0] = '\0';
    c.state = PageState::NewUserCheckWait;
    if (settings_workers().registrationCheck) settings_workers().registrationCheck(c);
}

void NewUserCheckResult(Connection& c) {
    if (!RegistrationOpen()) {
        NotFoundPage(c);
        return;
    }
    if (c.workerResult == static_cast<int>(LoginCheckOutcome::Accepted)) {
        save_settings(c, -1, false);
        return;
    }
    ErrorList errors;
    if (c.workerResult == static_cast<int>(LoginCheckOutcome::Refused)) {
        errors.add(Message(kMsgPop3LoginRefused, c.english));
        if (c.formSlots[kSlotCheckRefusal][0])
            errors.add(MarkupEscape(c.formSlots[kSlotCheckRefusal]).c_str());
    } else {
        errors.add(Message(kMsgPop3Unreachable, c.english));
    }
    settings_error_page(c, -1, errors);
}

bool poppassd_wanted(const Connection& c, int set) {
    if (settings_adding(c, set) || !c.formSlots[kSlotPass0][0]) return false;
    const BasicSettings& b = data_store().settings;
    if (b.poppassd_changeable) return slot_ticked(c, kSlotPoppassd);
    return b.poppassd_value != 0;
}
