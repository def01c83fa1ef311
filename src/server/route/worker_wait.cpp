#include "server/route/worker_wait.h"
#include "base/date/local_seconds.h"
#include "mail/net/mail_connect.h"
#include "mail/pop3/exchange_failure_page.h"

void WorkerWait(Connection& c) {
    int result = c.workerResult;
    int64_t now = local_seconds();
    int64_t last = static_cast<uint32_t>(c.lastActivity.load());
    if (now <= last + workerTimeoutSeconds && result < kWorkerConnectFailed) return;
    ExchangeFailurePage(c);
}
