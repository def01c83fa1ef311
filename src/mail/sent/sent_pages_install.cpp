#include "mail/sent/sent_pages.h"
#include "server/route/dispatcher.h"

void install_sent_pages() {
    SetPageProducer(PageState::SentListPage, ShowSentList);
    SetPageProducer(PageState::SentMessagePage, ShowSentMessage);
    SetPageProducer(PageState::SentDeletePage, SentDelete);
}
