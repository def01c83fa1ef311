// Names of the files a message's parts are saved under, and the URLs that
// serve them.
#pragma once
#include "page/connection.h"
#include <cstddef>
#include <string>

// Longest file name kept: 26 letters may still be inserted and the result
// stays well inside the file system's limit.
constexpr size_t kPartNameMax = 200;

// True for a name that stays inside its folder: not empty, not "." or "..",
// no "/" and no control byte.
bool safe_file_name(const char* name);

// Reduces a name from a message to something that can only name a file in
// the user's folder: its last path component, or "noname<number>.dat" when
// that is unusable; long names are shortened before their extension, never
// inside a two-byte character.
void make_part_name(char* name, size_t size, int number);

// The user's temp folder, "" when the user's id could leave the temp folder.
std::string user_temp_folder(const UserRecord& user);

// "/mail/~<user>/<name>" for markup. The name keeps its two-byte characters,
// which the browser sends as UTF-8 escapes and routing turns back into
// Shift_JIS; every ASCII byte that means something in a URL or in an
// attribute is escaped. With from_cid the name is the text after "cid:",
// whose own escapes are undone first. False (url empty) when there is no
// user or the name would step out of the user's folder.
bool attachment_url(std::string& url, const Connection& c, const char* name, bool from_cid);

// Remembers the Content-ID an HTML part referred to with "cid:" (the text
// after it, escapes undone), so that the part it names is not offered twice.
void note_cid_reference(Connection& c, const char* cid);
// The cleaned text kept a picture from the web; the page offers to show it.
void note_remote_image(Connection& c);
bool cid_referenced(const Connection& c, const char* content_id);
