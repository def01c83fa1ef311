#include "page/output/style_sheet.h"
#include <cstdio>
#include <openssl/evp.h>

namespace {

// Attribute selectors leave the administrator's colours (bgcolor, text,
// link, background on <body>) in charge wherever they are set.
constexpr const char kSheet[] =
    R"css(:root{color-scheme:light dark;-webkit-text-size-adjust:100%;text-size-adjust:100%}
body{margin:0 auto;max-width:60rem;padding:.75rem 1rem 2rem;font:16px/1.5 system-ui,-apple-system,"Segoe UI","Hiragino Sans","Noto Sans CJK JP","Yu Gothic",Meiryo,sans-serif;overflow-wrap:anywhere}
body:not([bgcolor]):not([background]){background:#fbfbfa}
body:not([text]){color:#1d1f23}
body:not([link]) a:link{color:#1a5fb4}
body:not([vlink]) a:visited{color:#613583}
pre{white-space:pre-wrap;overflow-wrap:anywhere;font-family:ui-monospace,"Cascadia Mono","Noto Sans Mono CJK JP",Menlo,Consolas,monospace;font-size:.95rem;margin:.5rem 0}
font[size="+1"]{font-size:1.1rem}
a{text-underline-offset:.15em}
a[href]{display:inline-block;min-height:1.75rem;padding:.3rem .15rem}
hr{border:0;border-top:1px solid #8884;margin:.9rem 0}
input,select,textarea,button{font:inherit;font-family:system-ui,-apple-system,"Segoe UI","Hiragino Sans","Noto Sans CJK JP",sans-serif;font-size:max(16px,1rem);max-width:100%;box-sizing:border-box}
input[type=text],input[type=password],input:not([type]),textarea,select{padding:.4rem .5rem;border:1px solid #8889;border-radius:.4rem;min-height:2.5rem}
input[type=submit],input[type=reset],input[type=button],button{white-space:normal;padding:.5rem 1rem;min-height:2.75rem;border:1px solid #8889;border-radius:.5rem;background:#8881;cursor:pointer}
input[type=checkbox],input[type=radio]{width:1.5rem;height:1.5rem;vertical-align:middle;margin:.3rem .4rem .3rem 0}
textarea{width:100%}
table{max-width:100%;border-collapse:collapse}
td,th{padding:.25rem .4rem;vertical-align:top}
img{max-width:100%;height:auto}
.lang-switch{float:right;font-size:.9rem}
@media (max-width:40rem){body{padding:.5rem .6rem 1.5rem}pre{font-size:.9rem}table,tbody,tr,td{display:block;width:auto!important}td{padding:.2rem 0}}
@media (prefers-color-scheme:dark){body:not([bgcolor]):not([background]){background:#16181c}body:not([text]){color:#e4e4e1}body:not([link]) a:link{color:#8cb4ff}body:not([vlink]) a:visited{color:#c6a0f6}}
)css";

std::string sheet_name(const char* text, size_t n) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text, n, digest, &length, EVP_sha256(), nullptr);
    char hex[13];
    for (int i = 0; i < 6; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return std::string("/style/") + hex + ".css";
}

} // namespace

const std::string& style_sheet_text() {
    static const std::string text(kSheet, sizeof kSheet - 1);
    return text;
}

const std::string& style_sheet_path() {
    static const std::string path = sheet_name(kSheet, sizeof kSheet - 1);
    return path;
}

const std::string& page_head_lines() {
    static const std::string lines =
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><link "
        "rel=\"stylesheet\" href=\"" +
        style_sheet_path() + "\">";
    return lines;
}
