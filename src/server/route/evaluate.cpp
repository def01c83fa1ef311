#include "server/route/evaluate.h"
#include "base/date/local_seconds.h"
#include "base/global_lock.h"
#include "base/text/address.h"
#include "base/text/text_copy.h"
#include "mail/compose/outgoing.h"
#include "mail/list/received_list.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "mail/smtp/smtp_client.h"
#include "server/files/static_file.h"
#include "server/login/login.h"
#include "server/login/session_binding.h"
#include "server/route/dispatcher.h"
#include "store/data_file.h"
#include <cstdio>
#include <mutex>

const WorkerStarts kMailWorkerStarts = {start_pop3, start_pop3_all_settings, start_smtp};

WorkerStarts& worker_starts() {
    static WorkerStarts starts = kMailWorkerStarts;
    return starts;
}

namespace {

bool RoomForNewUser() {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return count_users(data_store().users) < max_users;
}

// Routes whose pages belong to a user (or, for 0 and 10, need no login).
bool IsUserRoute(Route r) {
    switch (r) {
    case Route::Top:
    case Route::Setup:
    case Route::Mail:
    case Route::Write:
    case Route::SetupDelete:
    case Route::Book:
    case Route::Sent:
    case Route::Attachment:
    case Route::MailAsText:
    case Route::OAuthConnect:
        return true;
    default:
        return false;
    }
}

void StartWorker(Connection& c, WorkerStart start) {
    c.workerResult = 0;
    c.lastActivity = static_cast<int32_t>(local_seconds());
    if (start) {
        start(c);
    } else {
        c.workerResult = kWorkerConnectFailed;
    }
}

void EvaluateMail(Connection& c) {
    UserRuntime& rt = c.user->runtime;
    PageState next;
    if (c.itemNumber < 0) {
        int number = -c.itemNumber;
        c.itemNumber = number;
        bool accepted = rt.openMessage == number && delete_token_matches(c, number, c.deleteList);
        if (accepted) {
            snprintf(c.deleteList, sizeof c.deleteList, "%d,", number);
            next = PageState::DeleteWait;
        } else {
            c.deleteList[0] = '\0';
            next = PageState::ListWait;
        }
        rt.openMessage = 0;
    } else if (c.itemNumber > 0) {
        next = PageState::MessageWait;
        rt.openMessage = c.itemNumber;
    } else if (c.deleteList[0] && c.listTimeField == rt.listTime) {
        next = PageState::DeleteWait;
    } else {
        next = PageState::ListWait;
        rt.openMessage = 0;
    }
    c.state = next;
    bool merged = next == PageState::ListWait || next == PageState::DeleteWait;
    WorkerStart all = worker_starts().pop3AllSettings;
    if (merged && data_store().settings.multiple_addresses && all) all(c);
    StartWorker(c, worker_starts().pop3);
}

PageState SentState(Connection& c) {
    if (c.itemNumber < 0 || (c.deleteList[0] && c.listTimeField == c.user->runtime.listTime))
        return PageState::SentDeletePage;
    return c.itemNumber > 0 ? PageState::SentMessagePage : PageState::SentListPage;
}

// A logged-in request for a route of the user set.
void EvaluateUserRoute(Connection& c) {
    if (c.route == Route::Top) {
        c.state = PageState::TopPage;
        return;
    }
    if (c.route == Route::Attachment) {
        StartDownload(c);
        return;
    }
    // Every other page needs the user record; a login without one cannot
    // arise from routing, but it must not reach the page producers.
    if (!c.user) {
        RefuseLogin(c);
        return;
    }
    // A deletion by link is a GET; another site may not send one.
    const bool deletes = c.itemNumber < 0 || c.deleteList[0];
    if ((c.route == Route::Mail || c.route == Route::Sent) && deletes && !RequestFromOwnSite(c)) {
        StaleFormPage(c);
        return;
    }
    UserRuntime& rt = c.user->runtime;
    switch (c.route) {
    case Route::Mail:
        EvaluateMail(c);
        return;
    case Route::Write:
        c.state = PageState::ComposePage;
        rt.openMessage = 0;
        return;
    case Route::Setup:
        c.state = PageState::SetupPage;
        rt.openMessage = 0;
        return;
    case Route::Book:
        c.state = PageState::AddressBookPage;
        rt.openMessage = 0;
        return;
    case Route::OAuthConnect:
        c.state = PageState::OAuthConnect;
        return;
    case Route::Sent:
        c.state = SentState(c);
        return;
    case Route::MailAsText:
        rt.openMessage = c.itemNumber;
        if (!worker_starts().pop3) {
            // Text delivery has no error page of its own; without a worker
            // nothing would ever answer.
            NotFoundPage(c);
            c.state = PageState::Done;
            return;
        }
        c.state = PageState::TextWait;
        StartWorker(c, worker_starts().pop3);
        return;
    default:
        // A GET of the settings-delete route shows the list.
        c.state = PageState::ListWait;
        rt.openMessage = 0;
        StartWorker(c, worker_starts().pop3);
        return;
    }
}

bool ValueValid(const char* value) {
    char entry[kLineSize], address[kLineSize];
    const char* p = value;
    while (*p) {
        p = CopyUntil(entry, p, ",");
        ExtractAddress(address, entry);
        if (!ValidAddress(address)) return false;
    }
    return true;
}

} // namespace

void EvaluateRequest(Connection& c) {
    Route r = c.route;
    if (r == Route::NewUser && RoomForNewUser()) {
        c.state = PageState::NewUserPage;
        return;
    }
    if (!IsUserRoute(r)) {
        if (r == Route::Logout && c.auth == kAuthOk) {
            c.state = PageState::LogoutPage;
            CloseSession(c);
        } else if (r == Route::Remote) {
            c.state = PageState::RemotePage;
        } else if (r == Route::OAuthCallback) {
            c.state = PageState::OAuthCallback;
        } else if (r == Route::Static || r == Route::StaticHead) {
            StaticFile(c);
        } else {
            c.route = Route::NotFound;
            NotFoundPage(c);
            c.state = PageState::Done;
        }
        return;
    }
    if (c.auth == kAuthOk) {
        EvaluateUserRoute(c);
    } else if (r == Route::Top) {
        c.state = PageState::TopPage;
    } else {
        RefuseLogin(c);
    }
}

void EvaluatePost(Connection& c) {
    Route r = c.route;
    // A logged-in POST changes something (or asks to); it must come from
    // a form of the user's own page, which carries the session's token.
    const bool loggedIn = c.auth == kAuthOk && c.user;
    if (loggedIn && r != Route::NewUser && r != Route::Remote && !PostFromOwnPage(c)) {
        StaleFormPage(c);
        return;
    }
    if (r == Route::Mail || r == Route::Sent) {
        FormLogin(c);
        EvaluateRequest(c);
        return;
    }
    if (!c.user && r != Route::NewUser) {
        IdErrorAfterPost(c);
        return;
    }
    switch (r) {
    case Route::Write:
        if (AddressCheck(c)) {
            c.state = PageState::SendWait;
            StartWorker(c, worker_starts().smtp);
        } else {
            c.state = PageState::AddressErrorPage;
        }
        return;
    case Route::NewUser:
        if (RoomForNewUser()) c.state = PageState::NewUserSubmit;
        return;
    case Route::Setup:
        c.state = PageState::SetupSubmit;
        return;
    case Route::SetupDelete:
        c.state = PageState::SetupDeleteSubmit;
        return;
    case Route::Book:
        c.state = PageState::AddressBookSubmit;
        return;
    case Route::Remote:
        c.state = PageState::RemoteSubmit;
        return;
    default:
        // No answer: the idle time-out ends the connection.
        return;
    }
}

bool RecipientsValid(const char* to, const char* cc, const char* bcc) {
    if (!to || !to[0]) return false;
    return ValueValid(to) && (!cc || ValueValid(cc)) && (!bcc || ValueValid(bcc));
}

bool AddressCheck(Connection& c) {
    const OutgoingMail& m = c.send;
    return !m.recipientBroken && RecipientsValid(m.sendTo, m.sendCc, m.sendBcc);
}
