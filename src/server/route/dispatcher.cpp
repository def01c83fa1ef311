#include "server/route/dispatcher.h"
#include "account/settings_page.h"
#include "base/global_lock.h"
#include "base/text/messages.h"
#include "mail/book/address_book.h"
#include "mail/compose/compose_page.h"
#include "mail/list/received_list.h"
#include "mail/pop3/extra_runs.h"
#include "mail/sent/sent_pages.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "server/files/static_file.h"
#include "server/login/top_page.h"
#include "server/oauth/oauth_pages.h"
#include "server/remote/remote_page.h"
#include "server/route/worker_wait.h"
#include <mutex>
#include <new>

namespace {

struct ProducerEntry {
    PageState state;
    PageProducer producer;
    // The producer moves the state on itself (streams, and the settings
    // submit that may start a poppassd exchange).
    bool ownsState;
};

ProducerEntry gProducers[] = {
    {PageState::TopPage, TopPage, false},
    {PageState::ComposePage, ShowComposePage, false},
    {PageState::AddressErrorPage, ShowAddressError, false},
    {PageState::SentListPage, ShowSentList, false},
    {PageState::SentMessagePage, ShowSentMessage, false},
    {PageState::SentDeletePage, SentDelete, false},
    {PageState::SetupPage, SetupPage, false},
    {PageState::SetupSubmit, SetupSubmit, true},
    {PageState::SetupDeleteSubmit, SetupDeleteSubmit, false},
    {PageState::SetupPasswordWait, SetupPasswordResult, false},
    {PageState::AddressBookPage, ShowBookPage, false},
    {PageState::AddressBookSubmit, SubmitBook, false},
    {PageState::NewUserPage, NewUserForm, false},
    {PageState::NewUserSubmit, NewUserSubmit, true},
    {PageState::NewUserCheckWait, NewUserCheckResult, false},
    {PageState::DownloadStart, DownloadStartStep, true},
    {PageState::DownloadStream, DownloadStreamStep, true},
    {PageState::StaticStream, StaticStreamStep, true},
    {PageState::LogoutPage, LogoutPage, false},
    {PageState::RemotePage, RemotePage, false},
    {PageState::RemoteSubmit, RemoteSubmit, false},
    {PageState::OAuthConnect, OAuthConnectPage, false},
    {PageState::OAuthCallback, OAuthCallbackPage, false},
};

ProducerEntry* FindEntry(PageState state) {
    for (ProducerEntry& e : gProducers)
        if (e.state == state) return &e;
    return nullptr;
}

// The settings page of a user who does not exist yet, shown with the
// options a new record starts with.
void NewUserPage(Connection& c, PageProducer producer) {
    UserRecord* blank = new (std::nothrow) UserRecord;
    if (!blank) return;
    blank->options[delete_flag] = 0;
    blank->options[row_count] = 10;
    blank->options[column_count] = 80;
    blank->options[header_flag] = 1;
    blank->options[cc_flag] = 0;
    blank->options[bcc_flag] = 0;
    blank->options[jump_flag] = 0;
    blank->options[reserved_option_7] = 1;
    blank->options[upload_no] = 1;
    blank->options[folding] = 0;
    c.user = blank;
    c.settingsIndex = -1;
    producer(c);
    c.user = nullptr;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    delete blank;
}

// ExtraList2 (set 1) and ExtraList3 (set 2) of a merged list.
void ExtraList(Connection& c, int set) {
    if (!pop3_extra_finished(c, set)) return;
    c.settingsIndex = static_cast<int16_t>(set);
    list_section(c, set);
    if (set == 1) {
        c.state = PageState::ExtraList3;
        return;
    }
    list_footer(c);
    EndPage(c, kPageHtml | kPageBody | kPagePre);
    if (c.user) c.user->runtime.busy = 0;
    c.state = PageState::Done;
}

} // namespace

PageProducer SetPageProducer(PageState state, PageProducer producer) {
    ProducerEntry* e = FindEntry(state);
    if (!e) return nullptr;
    PageProducer previous = e->producer;
    e->producer = producer;
    return previous;
}

void Dispatcher(Connection& c) {
    PageState state = c.state;
    switch (state) {
    case PageState::ListWait:
    case PageState::MessageWait:
    case PageState::SendWait:
    case PageState::DeleteWait:
    case PageState::TextWait:
        WorkerWait(c);
        return;
    case PageState::ExtraList2:
        ExtraList(c, 1);
        return;
    case PageState::ExtraList3:
        ExtraList(c, 2);
        return;
    case PageState::SetupPasswordWait:
    case PageState::NewUserCheckWait:
        if (c.workerRunning) return;
        if (c.workerThread.joinable()) c.workerThread.join();
        break;
    default:
        break;
    }
    ProducerEntry* e = FindEntry(state);
    if (!e) return; // Receiving, TextWait, Done, Closing, WorkerDone
    if (!e->producer) {
        NotFoundPage(c);
        c.state = PageState::Done;
        return;
    }
    if (state == PageState::NewUserPage) {
        NewUserPage(c, e->producer);
    } else {
        if (state == PageState::NewUserSubmit) c.settingsIndex = -1;
        e->producer(c);
    }
    if (!e->ownsState) c.state = PageState::Done;
}
