#include <cstring>

#include "base/text/char_class.h"
#include "base/text/text_search.h"
#include "server/request/request_reader.h"

uint16_t DetectBrowser(const char* userAgent) {
    if (strncmp(userAgent, "Mozilla", 7) != 0 || userAgent[7] == '\0') return 0;
    // "Mozilla/4.0 ...": the byte after the slash is the major version.
    const char* p = userAgent + 8;
    if (*p == '\0') return 0;
    uint16_t flags = 0;
    unsigned char version = static_cast<unsigned char>(*p);
    if (version >= '5') {
        flags = kBrowserMozilla2 | kBrowserMozilla3 | kBrowserMozilla4 | kBrowserMozilla5;
    } else if (version == '4') {
        flags = kBrowserMozilla2 | kBrowserMozilla3 | kBrowserMozilla4;
    } else if (version == '3') {
        flags = kBrowserMozilla2 | kBrowserMozilla3;
    } else if (version == '2') {
        flags = kBrowserMozilla2;
    }
    for (; *p != '\0'; ++p) {
        if (ToUpperAscii(*p) != 'M') continue;
        if (PrefixEqualNoCase(p, "Mac", 3) == 0) {
            flags |= kBrowserMac;
        } else if (strncmp(p, "MSIE", 4) == 0) {
            flags |= kBrowserMsie;
            if (*SkipBlanks(p + 4) == '5') flags |= kBrowserMsie5;
        }
    }
    return flags;
}
