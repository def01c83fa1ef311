// What the fuzz targets share: a check that stops the run, the bound of a
// string buffer, a scratch folder, one input fed whole and in pieces, the
// socket a mail exchange sends its commands into, a user and a connection.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "page/connection.h"
#include "store/user_record.h"

inline void check(bool ok, const char* what = nullptr) {
    if (ok) return;
    if (what) fprintf(stderr, "broken: %s\n", what);
    abort();
}

// The buffer holds its terminating NUL.
template <size_t N> void checkText(const char (&text)[N]) {
    check(memchr(text, '\0', N) != nullptr);
}

// The bytes in a buffer of exactly room bytes (room >= size, the rest NUL),
// so that a read past its end is caught.
inline std::unique_ptr<char[]> Exactly(const uint8_t* data, size_t size, size_t room) {
    std::unique_ptr<char[]> copy(new char[room]());
    if (size) memcpy(copy.get(), data, size);
    return copy;
}

// A fresh folder for the files the code under test writes, made at the
// first call and removed at exit. The targets write at every run, so the
// folder is in memory where the machine has /dev/shm: on a disk the writes,
// not the reader, set the rate.
inline const std::string& ScratchFolder(const char* name) {
    static std::string* folder = nullptr; // never destroyed: the exit handler reads it
    if (!folder) {
        const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/";
        folder = new std::string(base + name + "-XXXXXX");
        check(mkdtemp(folder->data()) != nullptr);
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(*folder, ignored);
        });
    }
    return *folder;
}

// The input after its first byte, to one run whole and then to a fresh one
// in pieces of 1 + data[0] % most bytes; same(whole, split) compares them.
template <class Run, class Same>
void FeedWholeAndSplit(const uint8_t* data, size_t size, size_t most, Same same) {
    const size_t piece = 1 + data[0] % most;
    Run whole;
    whole.feed(data + 1, size - 1);
    Run split;
    for (size_t at = 1; at < size; at += piece) split.feed(data + at, std::min(piece, size - at));
    same(whole, split);
}

// A non-blocking socket pair: the code under test writes into end[0], and
// drain() collects what it sent.
struct SocketPair {
    int end[2] = {-1, -1};
    std::string sent;
    SocketPair() {
        check(socketpair(AF_UNIX, SOCK_STREAM, 0, end) == 0);
        fcntl(end[0], F_SETFL, O_NONBLOCK);
        fcntl(end[1], F_SETFL, O_NONBLOCK);
    }
    ~SocketPair() {
        close(end[0]);
        close(end[1]);
    }
    void drain() {
        char b[65536];
        ssize_t n;
        while ((n = read(end[1], b, sizeof b)) > 0) sent.append(b, static_cast<size_t>(n));
    }
};

// User taro (Taro <taro@example.jp>, password "pw"), quoting with ">", made
// once: the code under test may keep pointers to it.
inline UserRecord& Taro() {
    static UserRecord* user = [] {
        auto* u = new UserRecord;
        strcpy(u->set[0].id, "taro");
        strcpy(u->set[0].password, "pw");
        strcpy(u->set[0].name, "Taro");
        strcpy(u->set[0].mail_address, "taro@example.jp");
        strcpy(u->set[0].quotation, ">");
        return u;
    }();
    return *user;
}

// Freed connections wait in a pool that is torn down at exit before the leak
// check runs; holding the (reused) block keeps it from counting as a leak.
inline Connection* gPooled = nullptr;

// A fresh connection whose answers land in page, freed when it goes.
struct Captured {
    Connection* c = NewConnection(-1);
    std::string page;
    Captured() {
        check(c != nullptr, "no connection");
        c->captureForTest = &page;
    }
    ~Captured() {
        FreeConnection(c);
        gPooled = c;
    }
};
