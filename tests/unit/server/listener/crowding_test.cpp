// Which connection gives way to a newcomer when the table is full.
#include "server/listener/crowding.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Table {
    std::vector<Connection*> all;
    Connection* add(int64_t started, PageState state = PageState::Receiving) {
        Connection* c = NewConnection(-1);
        c->receiveStarted = started;
        c->state = state;
        if (!all.empty()) all.back()->next = c;
        all.push_back(c);
        return c;
    }
    Connection* first() { return all.empty() ? nullptr : all.front(); }
    ~Table() {
        for (Connection* c : all) FreeConnection(c);
    }
};

constexpr int64_t kLater = 1000000;

TEST(Crowding, PagesUnderWayMergedExchangesAndFreshConnectionsAreNeverDropped) {
    Table t;
    t.add(10, PageState::ListWait);
    t.add(20, PageState::StaticStream);
    t.add(30, PageState::Done);
    Connection* extra = t.add(40);
    extra->parent = t.all.front();
    EXPECT_EQ(OldestUnfinishedRequest(t.first(), kLater), nullptr);
    Connection* waiting = t.add(50);
    t.add(60);
    EXPECT_EQ(OldestUnfinishedRequest(t.first(), kLater), waiting);
    // A request that may still be on its way keeps its place.
    EXPECT_EQ(OldestUnfinishedRequest(t.first(), 49), nullptr);
    EXPECT_EQ(OldestUnfinishedRequest(t.first(), 50), waiting);
    EXPECT_EQ(OldestUnfinishedRequest(nullptr, kLater), nullptr);
}

} // namespace
