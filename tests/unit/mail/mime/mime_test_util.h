// A connection on a message page with no socket: its page lands in a string,
// its user "taro" saves parts under a fresh temp folder. Messages are fed
// line by line the way the message view drives the parser.
#pragma once
#include "mail/mime/mime_parser.h"
#include "mail/view/message_view.h"
#include "server/route/page_fixture.h"
#include <unistd.h>
#include <vector>

// A content class by the name the case files give it.
inline uint16_t ContentClass(const std::string& name) {
    static const char* const kNames[] = {
        "text", "html", "image", "attachment", "multipart", "alternative", "text-in-alternative"};
    for (uint16_t i = 0; i < std::size(kNames); i++)
        if (name == kNames[i]) return i;
    ADD_FAILURE() << "no content class " << name;
    return 0;
}

class MimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = MakeScratchFolder("mime", {"temp"});
        ASSERT_FALSE(home.empty());
        savedPaths = server_paths();
        server_paths() = ServerPaths{home, home + "/html", home + "/temp", home + "/user"};
        c = NewConnection(-1);
        ASSERT_NE(c, nullptr);
        c->captureForTest = &page;
        snprintf(user.set[0].id, sizeof user.set[0].id, "taro");
        c->user = &user;
        c->state = PageState::MessageWait;
        c->workerResult = Retrieving;
        mime_reset(*c);
    }
    void TearDown() override {
        if (c->file >= 0) close(c->file);
        c->file = -1;
        FreeConnection(c);
        server_paths() = savedPaths;
        std::filesystem::remove_all(home);
    }

    void Header(const std::vector<std::string>& lines) {
        for (const auto& l : lines) collect_header_line(*c, l.c_str());
        parse_header_block(*c, c->mime.headerBlock);
    }

    // The body as the parser yields it: "-" for a boundary, "h" for a part
    // header line, else the content class and the yield of the line.
    std::string Body(const std::vector<std::string>& lines) {
        std::string t;
        for (const auto& l : lines) {
            if (c->mime.inPartHeader) {
                part_header_line(*c, l.c_str());
                t += "h";
            } else if (is_boundary_line(*c, l.c_str())) {
                if (c->file >= 0) finish_part_file(*c);
                t += "-";
            } else {
                char out[kLineSize + 8];
                const int n = decode_body_line(*c, l.c_str(), out, sizeof out);
                t += std::to_string(c->mime.contentClass) + ":" + std::string(out, n) + "|";
            }
        }
        return t;
    }

    Connection* c = nullptr;
    UserRecord user;
    std::string page;
    std::string home;

private:
    ServerPaths savedPaths;
};
