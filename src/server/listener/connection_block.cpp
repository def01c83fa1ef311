// One heap block holds a connection's context and the records it refers to,
// so that a request still costs one allocation and its records sit next to
// the fields they are read with.
#include "base/global_lock.h"
#include "mail/book/book_state.h"
#include "mail/compose/outgoing.h"
#include "mail/list/list_state.h"
#include "mail/mime/mime_state.h"
#include "mail/net/mail_link.h"
#include "mail/pop3/pop3_state.h"
#include "mail/view/view_state.h"
#include "page/client_stream.h"
#include "page/connection.h"
#include "page/form_reading.h"
#include "page/output/output_filter_state.h"
#include "server/files/file_answer.h"
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

namespace {

struct ConnectionBlock {
    Connection c;
    // Cleared whole on reuse, like the context's own fields before its
    // large buffers.
    FileAnswer download;
    FormReading form;
    MailLink mail;
    Pop3Exchange pop3;
    MimeState mime;
    ListProgress list;
    ViewProgress view;
    OutgoingMail send;
    BookProgress book;
    // Holds a large buffer: cleared by its own clear().
    OutputFilterState filter;

    ConnectionBlock()
        : c(ConnectionRecords{download, form, mail, pop3, mime, list, view, send, book, filter}) {}
};
static_assert(!std::is_polymorphic_v<ConnectionBlock>,
              "the context must stand at the start of its block");

// The context is the block's first member, at its start.
ConnectionBlock* BlockOf(Connection* c) {
    return reinterpret_cast<ConnectionBlock*>(c);
}

// Contexts are large; reusing them spares the allocator, the page faults and
// the clearing of buffers a request never touches.
std::mutex gSpareMutex;
// Never destroyed: the spare blocks stay reachable until the process ends.
std::vector<void*>& gSpare = *new std::vector<void*>;
constexpr size_t kMaxSpare = 64;

void reset(ConnectionBlock* b) {
    Connection* c = &b->c;
    // Everything before the large buffers, which come last.
    memset(static_cast<void*>(c), 0, reinterpret_cast<char*>(c->line) - reinterpret_cast<char*>(c));
    c->line[0] = c->fieldName[0] = c->receiveBuffer[0] = 0;
    c->deleteList[0] = c->messageText[0] = c->quotationText[0] = 0;
    for (auto& slot : c->formSlots) slot[0] = 0;
    char* records = reinterpret_cast<char*>(&b->download);
    memset(static_cast<void*>(records), 0, reinterpret_cast<char*>(&b->filter) - records);
    b->filter.clear();
}

} // namespace

Connection* NewConnection(int clientSocket) {
    void* mem = nullptr;
    {
        std::lock_guard<std::mutex> hold(gSpareMutex);
        if (!gSpare.empty()) {
            mem = gSpare.back();
            gSpare.pop_back();
        }
    }
    if (mem) {
        reset(static_cast<ConnectionBlock*>(mem));
    } else {
        // Fresh blocks of this size are mapped zero pages: untouched buffers
        // cost no memory.
        mem = calloc(1, sizeof(ConnectionBlock));
        if (!mem) return nullptr;
    }
    Connection* c = &(new (mem) ConnectionBlock)->c;
    c->client.socket = clientSocket;
    c->mail.socket = -1;
    c->file = -1;
    c->route = Route::NotFound;
    c->state = PageState::Receiving;
    c->bodyRemaining = -1;
    return c;
}

void FreeConnection(Connection* c) {
    if (!c) return;
    if (c->workerThread.joinable()) c->workerThread.join();
    if (c->connectionThread.joinable()) c->connectionThread.join();
    ClientTlsFree(c->client);
    ConnectionBlock* b = BlockOf(c);
    b->~ConnectionBlock();
    {
        std::lock_guard<std::mutex> hold(gSpareMutex);
        if (gSpare.size() < kMaxSpare) {
            gSpare.push_back(b);
            return;
        }
    }
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    free(b);
}
