#include "page/output/page_policy.h"

#include "base/charset/utf8_text.h"
#include <mutex>
#include <openssl/evp.h>
#include <set>
#include <vector>

namespace {

struct Registry {
    std::mutex lock;
    std::vector<PageScriptWriter> scripts;
    std::vector<std::string> handlers;
    bool built = false;
    std::string plain, images;
};

Registry& registry() {
    static Registry r;
    return r;
}

// A browser hashes the script's text as it parsed it: line ends made LF
// (the parser does that to every CR LF and lone CR of a page), and as UTF-8
// whatever the page's charset.
std::string HashSource(const std::string& sjis) {
    std::string lf;
    for (size_t i = 0; i < sjis.size(); i++) {
        if (sjis[i] == '\r') {
            lf += '\n';
            if (i + 1 < sjis.size() && sjis[i + 1] == '\n') i++;
        } else {
            lf += sjis[i];
        }
    }
    const std::string text = sjis_to_utf8(lf.data(), lf.size());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(text.data(), text.size(), digest, &n, EVP_sha256(), nullptr);
    unsigned char b64[4 * EVP_MAX_MD_SIZE / 3 + 4];
    const int length = EVP_EncodeBlock(b64, digest, static_cast<int>(n));
    return "'sha256-" + std::string(reinterpret_cast<char*>(b64), static_cast<size_t>(length)) +
           "'";
}

// The text between <script ...> and </script> of what write puts out.
std::string ScriptText(PageScriptWriter write, int english) {
    std::string page;
    Connection* c = NewConnection(-1);
    if (!c) return page;
    c->captureForTest = &page;
    c->english = static_cast<uint16_t>(english);
    write(*c);
    FreeConnection(c);
    const size_t open = page.find("<script");
    const size_t start = open == std::string::npos ? open : page.find('>', open);
    const size_t end = page.find("</script>");
    if (start == std::string::npos || end == std::string::npos || end < start) return "";
    return page.substr(start + 1, end - start - 1);
}

std::string Build(const std::set<std::string>& sources, bool images) {
    std::string p = "default-src 'none'; script-src";
    for (const std::string& s : sources) p += " " + s;
    p += "; style-src 'self' 'unsafe-inline'; img-src 'self' data:";
    if (images) p += " https: http:";
    p += "; font-src 'self'; media-src 'self'; frame-src 'none'; frame-ancestors 'none'; "
         "form-action 'self'; base-uri 'none'; object-src 'none'";
    return p;
}

void BuildPolicies(Registry& r) {
    std::set<std::string> sources;
    for (PageScriptWriter write : r.scripts)
        for (int english = 0; english < 2; english++)
            sources.insert(HashSource(ScriptText(write, english)));
    if (!r.handlers.empty()) sources.insert("'unsafe-hashes'");
    for (const std::string& h : r.handlers) sources.insert(HashSource(h));
    if (sources.empty()) sources.insert("'none'");
    r.plain = Build(sources, false);
    r.images = Build(sources, true);
    r.built = true;
}

} // namespace

bool register_page_script(PageScriptWriter write) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.scripts.push_back(write);
    r.built = false;
    return true;
}

bool register_page_handler(const char* code) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.handlers.emplace_back(code);
    r.built = false;
    return true;
}

const std::string& page_policy(bool images) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (!r.built) BuildPolicies(r);
    return images ? r.images : r.plain;
}
