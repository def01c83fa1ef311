// Starting POP3 exchanges and the worker thread that runs one.
#include "mail/pop3/pop3_client.h"
#include "base/charset/detect.h"
#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/global_lock.h"
#include "base/socket_stream.h"
#include "mail/list/received_list.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "mail/net/mail_connect.h"
#include "mail/net/mail_link.h"
#include "mail/net/mail_tls.h"
#include "mail/oauth/oauth_client.h"
#include "mail/pop3/exchange_failure_page.h"
#include "mail/pop3/extra_runs.h"
#include "mail/pop3/pop3_state.h"
#include "mail/view/message_view.h"
#include "mail/view/view_options.h"
#include "mail/view/view_state.h"
#include "page/connection_list.h"
#include "page/output/page_frame.h"
#include "store/data_file.h"
#include "store/mail_security.h"
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

// How long the worker blocks in one wait before it looks at the connection's
// state again; the socket wakes it earlier.
constexpr int kWaitStepMs = 200;

int32_t now_seconds() {
    return static_cast<int32_t>(local_seconds());
}

bool worker_state(PageState s) {
    return s == PageState::ListWait || s == PageState::MessageWait || s == PageState::DeleteWait ||
           s == PageState::TextWait;
}

bool use_apop(const Connection& c) {
    const BasicSettings& s = data_store().settings;
    if (s.apop_changeable) return c.user->set[c.settingsIndex].apop_flag != 0;
    return (s.language_policy & kLanguageApopOn) != 0;
}

// A context that nobody supervises: the exchange of a further set has no
// browser thread whose dispatcher would notice a stall.
bool unsupervised_stall(const Connection& c) {
    return c.parent && now_seconds() > c.lastActivity + workerTimeoutSeconds;
}

// Connects without blocking for longer than one wait step at a time, so that
// a dispatcher that has given up (and moved the state on) ends the attempt.
bool connect_server(Connection& c, PageState started) {
    return mail_connect(c.mail.socket, c.mail.serverAddress, kWaitStepMs,
                        [&] { return c.state == started && !unsupervised_stall(c); });
}

// Set 0 exchanges of one user share the kept list and the temporary files.
bool take_busy(Connection& c, PageState started) {
    BusyFlag& busy = c.user->runtime.busy;
    for (;;) {
        if (busy.TryTake()) return true;
        if (c.state != started) return false;
        busy.WaitFree(kWaitStepMs);
    }
}

// No secure connection: the page's wait writes the failure page, as after a
// refused connection; a further set's section reports it as unreached.
void secure_failed(Connection& c) {
    mail_tls_end(c.mail.tls);
    c.user->runtime.pop3Status[c.settingsIndex] = kPop3ConnectFailed;
    c.workerResult = TlsFailed;
    shutdown(c.mail.socket, SHUT_RDWR);
}

void release_busy(Connection& c) {
    if (!c.pop3.busyHeld) return;
    c.pop3.busyHeld = 0;
    c.user->runtime.busy = 0;
}

// Polls until QUIT is answered, the socket fails or closes, or the exchange
// is taken away from the worker.
void run_exchange(Connection& c) {
    for (;;) {
        int k = socket_stream_wait(c.mail.socket, c.mail.tls, kWaitStepMs);
        if (k < 0) return;
        if (k > 0) {
            if (pop3_poll(c) != 0) return;
            continue;
        }
        if (!worker_state(c.state)) return;
        if (unsupervised_stall(c)) {
            c.user->runtime.pop3Status[c.settingsIndex] = kPop3ExchangeError;
            return;
        }
    }
}

// The raw header block at the end of a message saved as text.
void write_text_headers(Connection& c) {
    char block[kHeaderBlockSize + 1];
    int n = static_cast<int>(strnlen(c.mime.headerBlock, kHeaderBlockSize));
    memcpy(block, c.mime.headerBlock, static_cast<size_t>(n));
    n = convert_to_sjis(block, n, kCodeDetect);
    SendRaw(c, block, static_cast<size_t>(n));
}

// True when the dispatcher has written, or is about to write, the error page
// of a stalled exchange: it shuts the socket down before it moves the state
// on, so the state alone can still look like the worker's own. Its rule is
// taken exactly: once it holds it keeps holding, since lastActivity no longer
// moves.
bool dispatcher_gives_up(const Connection& c, PageState s) {
    if (c.parent) return false;
    if (s != PageState::ListWait && s != PageState::MessageWait && s != PageState::DeleteWait)
        return false;
    int step = c.workerResult;
    return step > NotStarted && step < ConnectFailed &&
           now_seconds() > c.lastActivity + workerTimeoutSeconds;
}

// Closes the page unless the dispatcher or the monitor has already ended it.
void finish_page(Connection& c) {
    PageState s = c.state;
    bool merged = data_store().settings.multiple_addresses != 0;
    bool mergedFirst = merged && c.settingsIndex == 0 && !c.parent;
    if (!worker_state(s) || dispatcher_gives_up(c, s)) {
        // On a merged list the dispatcher goes on with the sections of the
        // further sets and frees busy when it is done.
        bool sectionsFollow =
            mergedFirst &&
            (s == PageState::ListWait || s == PageState::ExtraList2 || s == PageState::ExtraList3);
        if (!sectionsFollow) release_busy(c);
        return;
    }
    if (c.parent) {
        release_busy(c);
        c.state = PageState::Closing;
        return;
    }
    if (!c.statusSent) {
        // The server closed before the page was opened: the answer is the
        // failure page, whole.
        if (!(mergedFirst && s == PageState::ListWait)) release_busy(c);
        ExchangeFailurePage(c);
        return;
    }
    if (mergedFirst && s == PageState::ListWait) {
        c.state.compare_exchange_strong(s, PageState::ExtraList2);
        return;
    }
    if (s == PageState::ListWait && !merged) list_footer(c);
    release_busy(c);
    if (s != PageState::TextWait)
        EndPage(c, kPagePre | kPageBody | kPageHtml);
    else if (view_options(c).showHeaders)
        write_text_headers(c);
    if (c.state.compare_exchange_strong(s, PageState::Done)) EndAnswer(c);
}

// The exchange of a further set ends here whatever happened, so that the
// monitor frees its context and the parent's page goes on.
void end_extra(Connection& c) {
    if (!c.parent) return;
    PageState s = c.state;
    if (s != PageState::Closing && s != PageState::WorkerDone) c.state = PageState::WorkerDone;
    extra_run_end(c.pop3.extraId);
}

void pop3_worker_main(Connection* cp) {
    Connection& c = *cp;
    pop3_worker(c);
    end_extra(c);
    WorkerFinished(c); // c may be freed from here on
}

} // namespace

void start_pop3(Connection& c) {
    c.workerResult = NotStarted;
    if (!c.user || c.settingsIndex < 0 || c.settingsIndex >= kSettingsSets) {
        c.workerResult = ConnectFailed;
        return;
    }
    BasicSettings& s = data_store().settings;
    UserRuntime& rt = c.user->runtime;
    int set = c.settingsIndex;
    char server[sizeof s.pop3_server];
    MailSecurity security;
    if (!s.per_user_servers) {
        sjis_copy(server, s.pop3_server);
        security = mail_security_of(s, c.user->set[set]);
    } else {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        char(&own)[sizeof s.pop3_server] = c.user->set[set].pop3_name;
        if (!own[0]) sjis_copy(own, s.pop3_server);
        sjis_copy(server, own);
        security = mail_security_of(s, c.user->set[set]);
    }
    const int port = security.pop3Port;
    c.pop3.security = static_cast<uint8_t>(security.pop3);
    c.pop3.verify = security.verify;
    sjis_copy(c.mail.serverName, server);
    c.mail.tls = nullptr;
    c.mail.tlsFailure = 0;
    if (!pop3_resolve(server, port, c.mail.serverAddress)) {
        c.workerResult = HostNotFound;
        // A further set's section needs a status to show; with the servers of
        // the basic settings the name is just as wrong for it.
        if (s.per_user_servers || c.parent) rt.pop3Status[set] = kPop3ServerNotFound;
        return;
    }
    int family = c.mail.serverAddress.ss_family;
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return; // reported by the dispatcher after the time-out
    sockaddr_storage local{};
    local.ss_family = static_cast<sa_family_t>(family);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), mail_address_length(local)) != 0) {
        rt.pop3Status[set] = kPop3ConnectFailed;
        if (c.parent) c.state = PageState::WorkerDone;
        c.workerResult = ConnectFailed;
        close(fd);
        return;
    }
    c.mail.socket = fd;
    c.workerRunning = true;
    try {
        c.workerThread.start([&c] { pop3_worker_main(&c); });
    } catch (const std::system_error&) {
        // Like a socket that cannot be made: the time-out reports it.
        WorkerFinished(c);
    }
}

namespace {

// The XOAUTH2 response of an OAuth2 set, formed before the connection: a
// token about to end is renewed first, which is network traffic of its own.
void prepare_oauth(Connection& c, int set) {
    c.pop3.oauth = set_uses_oauth(*c.user, set);
    c.saslResponse[0] = c.saslDetail[0] = '\0';
    if (!c.pop3.oauth) return;
    std::string token, why;
    if (!oauth_token_for_set(c.user, set, token, why)) {
        snprintf(c.saslDetail, sizeof c.saslDetail, "%s", why.c_str());
        return;
    }
    const std::string response = xoauth2_response(c.user->set[set].id, token);
    if (response.size() >= sizeof c.saslResponse)
        snprintf(c.saslDetail, sizeof c.saslDetail, "OAuth2: access token too long");
    else
        memcpy(c.saslResponse, response.c_str(), response.size() + 1);
}

} // namespace

void pop3_worker(Connection& c) {
    const PageState started = c.state;
    const int set = c.settingsIndex;
    UserRuntime& rt = c.user->runtime;
    prepare_oauth(c, set);
    c.lastActivity = now_seconds();
    if (!connect_server(c, started)) {
        rt.pop3Status[set] = kPop3ConnectFailed;
        c.workerResult = ConnectFailed;
        // Shut down, not closed: the dispatcher may shut it down at the same
        // moment, and a closed number could already belong to another socket.
        // It is closed when the context is freed.
        shutdown(c.mail.socket, SHUT_RDWR);
        return;
    }
    if (c.pop3.security == static_cast<uint8_t>(Pop3Security::Tls) && !pop3_start_tls(c)) {
        secure_failed(c);
        return;
    }
    rt.pop3Status[set] = kPop3Connected;
    if (set == 0) {
        if (!take_busy(c, started)) {
            shutdown(c.mail.socket, SHUT_RDWR);
            return;
        }
        c.pop3.busyHeld = 1;
        delete_user_files(c.user);
        rt.lastMessageId[0] = '\0';
        rt.replyReferences[0] = '\0';
    }
    c.lineLength = 0;
    c.pop3.lineCut = 0;
    c.pop3.statCount = c.pop3.headerPhase = c.pop3.deletedCount = 0;
    c.pop3.deleteCursor = 0;
    c.lastActivity = now_seconds();
    mime_reset(c);
    c.view = ViewProgress{};
    c.view.partFileSlot = -1;
    c.workerResult = use_apop(c) ? AwaitGreetingApop : AwaitGreeting;
    run_exchange(c);
    if (c.workerResult == TlsFailed) {
        release_busy(c);
        secure_failed(c);
        return;
    }
    mail_tls_end(c.mail.tls);
    shutdown(c.mail.socket, SHUT_RDWR);
    finish_page(c);
}

bool pop3_start_tls(Connection& c) {
    TlsOutcome t =
        mail_tls_start(c.mail.socket, c.mail.serverName, c.pop3.verify != 0, workerTimeoutSeconds);
    c.mail.tls = t.session;
    c.mail.tlsFailure = static_cast<uint8_t>(t.failure);
    return t.session != nullptr;
}

void pop3_split_delete_list(const char* list, int routed, char (&out)[kSettingsSets][kLineSize]) {
    size_t lengths[kSettingsSets] = {};
    for (auto& l : out) l[0] = '\0';
    const char* p = list;
    while (*p) {
        int set = routed;
        if (*p >= 'a' && *p <= 'c') set = *p++ - 'a';
        const char* start = p;
        while (*p >= '0' && *p <= '9') p++;
        size_t n = static_cast<size_t>(p - start);
        if (n > 0 && lengths[set] + n + 2 < kLineSize) {
            memcpy(out[set] + lengths[set], start, n);
            lengths[set] += n;
            out[set][lengths[set]++] = ',';
            out[set][lengths[set]] = '\0';
        }
        while (*p && !(*p >= 'a' && *p <= 'c') && !(*p >= '0' && *p <= '9')) p++;
    }
}

void start_pop3_all_settings(Connection& c) {
    if (!c.user) return;
    UserRecord* user = c.user;
    int routed = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    bool deleting = c.state == PageState::DeleteWait;
    char lists[kSettingsSets][kLineSize] = {};
    if (deleting) pop3_split_delete_list(c.deleteList, routed, lists);
    extra_runs_forget(&c);
    for (int set = 1; set < kSettingsSets; set++) {
        UserRuntime& rt = user->runtime;
        rt.pop3Status[set] = kPop3None;
        if (!user->set[set].id[0]) {
            rt.pop3Status[set] = kPop3Connected;
            continue;
        }
        Connection* x = NewConnection(-1);
        if (!x) {
            rt.pop3Status[set] = kPop3ExchangeError;
            continue;
        }
        x->state = lists[set][0] ? PageState::DeleteWait : PageState::ListWait;
        memcpy(x->deleteList, lists[set], sizeof x->deleteList);
        x->lastActivity = now_seconds();
        x->user = user;
        x->listTimeField = c.listTimeField;
        x->parent = &c;
        x->settingsIndex = static_cast<int16_t>(set);
        x->english = 0;
        x->loginQuery[0] = '\0';
        // No request thread serves this context; the monitor frees it once its
        // worker has ended.
        x->connectionThreadEnded = true;
        x->pop3.extraId = extra_run_begin(&c, set);
        start_pop3(*x);
        if (!x->workerThread.joinable()) {
            if (rt.pop3Status[set] == kPop3None) rt.pop3Status[set] = kPop3ConnectFailed;
            x->state = PageState::WorkerDone;
            extra_run_end(x->pop3.extraId);
        }
        // Listed only now: from here on the monitor may free it at any time.
        AppendConnection(x);
    }
    if (deleting) {
        memcpy(c.deleteList, lists[0], sizeof c.deleteList);
        if (!lists[0][0]) c.state = PageState::ListWait;
    }
    // The merged page is the page of set 0, whichever set was routed.
    c.settingsIndex = 0;
}
