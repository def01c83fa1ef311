#include "mail/view/part_names.h"
#include "base/charset/sjis.h"
#include "base/server_paths.h"
#include "base/text/path_part.h"
#include "base/text/percent_decode.h"
#include "mail/view/view_state.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsControl(unsigned char b) {
    return b < 0x20 || b == 0x7F;
}

// ASCII bytes that may stand in a URL path as they are; quotes, '%', '#',
// '?', '/', '\' and '&' among others are escaped.
bool KeptInPath(unsigned char b) {
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) return true;
    return b != 0 && strchr("-._~!$()*+,;=:@", b) != nullptr;
}

void AppendPath(std::string& url, const char* text) {
    static const char kHex[] = "0123456789ABCDEF";
    for (const char* p = text; *p;) {
        const auto b = static_cast<unsigned char>(p[0]);
        if (is_sjis_lead(b) && is_sjis_trail(static_cast<unsigned char>(p[1]))) {
            url.append(p, 2);
            p += 2;
            continue;
        }
        if (KeptInPath(b)) {
            url += static_cast<char>(b);
        } else {
            url += '%';
            url += kHex[b >> 4];
            url += kHex[b & 15];
        }
        p++;
    }
}

} // namespace

bool safe_file_name(const char* name) {
    if (!name[0] || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
    for (const char* p = name; *p; p++)
        if (*p == '/' || IsControl(static_cast<unsigned char>(*p))) return false;
    return true;
}

void make_part_name(char* name, size_t size, int number) {
    const char* last = FileNamePart(name);
    if (last != name) memmove(name, last, strlen(last) + 1);
    if (!safe_file_name(name)) {
        snprintf(name, size, "noname%d.dat", number);
        return;
    }
    size_t length = strlen(name);
    if (length <= kPartNameMax) return;
    const char* extension = Extension(name);
    size_t keep = extension[0] ? strlen(extension) + 1 : 0;
    if (keep > kPartNameMax / 2) keep = 0;
    char cut[kPartNameMax + 1];
    const int base = sjis_copy(cut, name, static_cast<int>(kPartNameMax - keep + 1));
    memcpy(cut + base, name + length - keep, keep);
    cut[static_cast<size_t>(base) + keep] = '\0';
    snprintf(name, size, "%s", cut);
}

std::string user_temp_folder(const UserRecord& user) {
    const char* id = user.set[0].id;
    if (!safe_file_name(id)) return "";
    return server_paths().temp + "/" + id;
}

bool attachment_url(std::string& url, const Connection& c, const char* name, bool from_cid) {
    url.clear();
    if (!c.user || !safe_file_name(c.user->set[0].id)) return false;
    char decoded[kFieldSize];
    if (from_cid) {
        PercentDecode(decoded, name, sizeof decoded);
    } else {
        sjis_copy(decoded, name);
    }
    if (!decoded[0] || strcmp(decoded, ".") == 0 || strcmp(decoded, "..") == 0) return false;
    url = "/mail/~";
    AppendPath(url, c.user->set[0].id);
    url += '/';
    AppendPath(url, decoded);
    return true;
}

void note_cid_reference(Connection& c, const char* cid) {
    char decoded[kFieldSize];
    PercentDecode(decoded, cid, sizeof decoded);
    if (!decoded[0] || cid_referenced(c, decoded)) return;
    ViewProgress& v = c.view;
    const size_t n = strlen(decoded);
    if (v.cidSeenLength < 0 || static_cast<size_t>(v.cidSeenLength) + n + 2 > sizeof v.cidSeen)
        return;
    memcpy(v.cidSeen + v.cidSeenLength, decoded, n);
    v.cidSeenLength += static_cast<int>(n);
    v.cidSeen[v.cidSeenLength++] = '\n';
    v.cidSeen[v.cidSeenLength] = '\0';
}

bool cid_referenced(const Connection& c, const char* content_id) {
    const size_t n = strlen(content_id);
    const ViewProgress& v = c.view;
    if (n == 0 || v.cidSeenLength <= 0) return false;
    const char* end = v.cidSeen + v.cidSeenLength;
    for (const char* p = v.cidSeen; p < end;) {
        const char* lf = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!lf) break;
        if (static_cast<size_t>(lf - p) == n && memcmp(p, content_id, n) == 0) return true;
        p = lf + 1;
    }
    return false;
}

void note_remote_image(Connection& c) {
    c.view.remoteImages++;
}
