// Feeds one request to a fresh Connection whole, split in two at every byte
// offset and one byte at a time, and checks that every way of cutting it
// leaves the same trace. The trace is text, so a difference reads as a diff.
#pragma once
#include "page/form_reading.h"
#include "server/route/page_fixture.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

#include "base/charset/base64.h"
#include "mail/mail_golden.h"

namespace request_test {

namespace fs = std::filesystem;

constexpr size_t kNever = std::string::npos;

inline std::vector<std::string>* recordedCalls = nullptr;

// Urlencoded calls as "kind:name=value"; multipart ones as "kind[name]value"
// from fieldName and receiveBuffer, which the text argument must equal.
inline void Record(const char* kind, Connection& c, const char* text, int urlencoded) {
    std::string r = kind;
    r += urlencoded ? ":" + std::string(text)
                    : "[" + std::string(c.fieldName) + "]" + c.receiveBuffer;
    if (!urlencoded && strcmp(text, c.receiveBuffer) != 0) r += " (text differs)";
    if (c.form.valueBroken) r += " (broken)";
    if (recordedCalls != nullptr) recordedCalls->push_back(r);
}

inline std::string Base64(const std::string& s) {
    std::string out(static_cast<size_t>(base64_encoded_size(static_cast<int>(s.size()))), '\0');
    base64_encode(out.data(), s.data(), static_cast<int>(s.size()));
    return out;
}

const std::string kBoundary = "----WebKitFormBoundaryq1W2e3R4t5Y6u7I8";

// The page fixture's folders and settings, the field handlers recording
// their calls.
class RequestTest : public PageTest {
protected:
    std::vector<std::string> calls;

    void SetUp() override {
        PageTest::SetUp();
        recordedCalls = &calls;
        field_handlers() = {
            [](Connection& c, const char* t, int u) { Record("user", c, t, u); },
            [](Connection& c, const char* t, int u) { Record("send", c, t, u); },
            [](Connection& c, const char* t, int u) { Record("book", c, t, u); },
        };
    }

    void TearDown() override {
        field_handlers() = kPageFieldHandlers;
        recordedCalls = nullptr;
        PageTest::TearDown();
    }

    UserRecord* AddUser(const char* id, const char* password) {
        UserRecord* r = PageTest::AddUser(id);
        set_default_options(*r);
        server_cases::Put(r->set[0].password, password);
        renumber_users(data_store().users);
        return r;
    }

    // Feeds request in the chunks that end at the given offsets (the last one
    // is the request's size), stopping at the call that returns 1. end is the
    // offset just after the byte that completes the request, or kNever. The
    // trace: what the request left in the Connection, in the temp folder and
    // in the field handlers.
    std::string Feed(const std::string& request, const std::vector<size_t>& cuts, size_t end) {
        calls.clear();
        std::string page;
        ConnectionPtr c(NewConnection(-1));
        c->captureForTest = &page;
        bool done = false, doneAtEnd = false; // the call that returned 1 had the last byte
        size_t from = 0;
        for (size_t to : cuts) {
            int r = FeedBytes(*c, request.data() + from, static_cast<int>(to - from));
            if (r == 1) {
                done = true;
                doneAtEnd = from < end && end <= to;
                break;
            }
            EXPECT_EQ(r, 0);
            from = to;
        }
        using ::testing::PrintToString;
        std::vector<std::string> slots, names, files;
        for (const auto& s : c->formSlots) slots.emplace_back(s);
        for (const auto& s : c->uploadNames) names.emplace_back(s);
        std::ostringstream t;
        t << "done " << done << doneAtEnd << " user " << (c->user != nullptr) << " fileOpen "
          << (c->file >= 0) << " route " << static_cast<int>(c->route) << " state "
          << static_cast<int>(c->state.load()) << " auth " << c->auth << " browser " << c->browser
          << " bodyMode " << c->form.bodyMode << " bodyRemaining " << c->bodyRemaining
          << " listTime " << c->listTimeField << " uploads " << c->uploadCount << "\n"
          << PrintToString(std::vector<std::string>{
                 c->userName, c->password, c->form.boundary,
                 std::string(c->messageText, static_cast<size_t>(c->messageLength)), c->deleteList})
          << "\nslots " << PrintToString(slots) << "\nnames " << PrintToString(names) << "\nfields "
          << PrintToString(calls);
        c.reset();
        // Uploads are taken from the folder and removed, so the next run
        // starts from an empty folder.
        const fs::path temp = home + "/temp";
        for (const auto& e : fs::recursive_directory_iterator(temp)) {
            std::string rel = e.path().string().substr(temp.string().size() + 1);
            files.push_back(e.is_directory() ? rel + "/" : rel + " " + golden::read(e.path()));
        }
        std::sort(files.begin(), files.end());
        for (const auto& e : fs::directory_iterator(temp)) fs::remove_all(e.path());
        return t.str() + "\nfiles " + PrintToString(files);
    }

    // The trace of the whole request, after checking that every split and
    // the byte-at-a-time feed leave the same trace. end as in Feed.
    std::string FeedEveryWay(const std::string& request, size_t end) {
        const size_t n = request.size();
        const std::string whole = Feed(request, {n}, end);
        EXPECT_EQ(whole.substr(0, 7), end != kNever ? "done 11" : "done 00");
        for (size_t cut = 1; cut < n; ++cut) {
            const std::string split = Feed(request, {cut, n}, end);
            if (split != whole) {
                ADD_FAILURE() << "split at " << cut << "\n" << split << "\nwhole:\n" << whole;
                break;
            }
        }
        std::vector<size_t> bytes;
        for (size_t i = 1; i <= n; ++i) bytes.push_back(i);
        EXPECT_EQ(Feed(request, bytes, end), whole) << "one byte at a time";
        return whole;
    }

    // The traces of the requests of a case file, one section each under its
    // record's name. A record gives "raw TEXT" for a request as it stands;
    // or a POST to "path PATH" (/mail/new/ unless given) of "url BODY", or of
    // multipart "part NAME VALUE", "file NAME FILENAME DATA" and "upload
    // FILENAME" (upload1 holding x) fields of yamada's ("credentials
    // USER:PASSWORD" of another's, none if empty) from "agent TEXT", with
    // "header TEXT" before its own; "cut TEXT" ends the body after TEXT. Then
    // "after TEXT" for what the client sends after it (never read), "open"
    // for a request that never completes.
    std::string TracesOf(const fs::path& cases) {
        std::string traces;
        for (const auto& record : server_cases::Read(cases, true)) {
            SCOPED_TRACE(record.at(0));
            std::string parts; // of a multipart body, its last boundary still to come
            auto part = [&](const std::string& name, const std::string& data, const char* file) {
                parts +=
                    "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
                if (file)
                    parts += "; filename=\"" + std::string(file) +
                             "\"\r\nContent-Type: application/octet-stream";
                parts += "\r\n\r\n" + data + "\r\n";
            };
            std::map<std::string, std::string> given{{"credentials", "yamada:secret"},
                                                     {"agent", "Mozilla/5.0 (X11; Linux x86_64)"},
                                                     {"path", "/mail/new/"}};
            for (size_t i = 1; i < record.size(); i++) {
                const std::string& f = record[i];
                const size_t a = f.find(' '), b = f.find(' ', a + 1), c = f.find(' ', b + 1);
                const std::string kind = f.substr(0, a);
                if (kind == "part")
                    part(f.substr(a + 1, b - a - 1), f.substr(b + 1), nullptr);
                else if (kind == "file")
                    part(f.substr(a + 1, b - a - 1), f.substr(c + 1),
                         f.substr(b + 1, c - b - 1).c_str());
                else if (kind == "upload")
                    part("upload1", "x", f.substr(a + 1).c_str());
                else
                    given[kind] = a == std::string::npos ? "" : f.substr(a + 1);
            }
            std::string request = given["raw"];
            if (request.empty()) {
                std::string body =
                    parts.empty() ? given["url"] : parts + "--" + kBoundary + "--\r\n";
                const std::string& cut = given["cut"];
                if (!cut.empty()) body.resize(body.find(cut) + cut.size());
                std::string headers = given["header"];
                if (!parts.empty())
                    headers += "User-Agent: " + given["agent"] +
                               "\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
                               "\r\n";
                if (!parts.empty() && !given["credentials"].empty())
                    headers += "Authorization: Basic " + Base64(given["credentials"]) + "\r\n";
                request = Post(given["path"], headers, body);
            }
            traces += mail_golden::Section(
                record.at(0), FeedEveryWay(request + given["after"],
                                           given.count("open") ? kNever : request.size()));
        }
        return traces;
    }
};

} // namespace request_test
