// Throughput of the Japanese conversions against glibc iconv doing the same
// job in the same run, on a few MB of generated mail text.
//
//   convert_to_sjis ISO-2022-JP  vs iconv ISO-2022-JP -> SHIFT_JIS
//   convert_to_sjis EUC-JP       vs iconv EUC-JP -> SHIFT_JIS
//   encode_header_words          vs iconv SHIFT_JIS -> ISO-2022-JP of the whole
//                                   header plus base64 of the result (the same
//                                   work without run splitting and folding)
//
// MB/s count input bytes; each figure is the best of several repetitions.

#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/charset/base64.h"
#include "base/charset/detect.h"
#include "base/charset/header_encode.h"
#include "base/charset/sjis.h"

namespace {

constexpr int kRepetitions = 7;
constexpr std::size_t kBodyBytes = 4 << 20;
constexpr int kHeaders = 40000;

using Clock = std::chrono::steady_clock;

// A text in the three forms, built from the same characters.
struct Sample {
    std::string iso, euc, sjis;

    void ascii(const std::string& s) {
        iso += s;
        euc += s;
        sjis += s;
    }

    // One run of JIS X 0208 characters.
    void japanese(const std::vector<unsigned>& codes) {
        iso += "\x1b$B";
        for (unsigned c : codes) {
            iso += static_cast<char>(c >> 8);
            iso += static_cast<char>(c & 0xFF);
            euc += static_cast<char>((c >> 8) | 0x80);
            euc += static_cast<char>((c & 0xFF) | 0x80);
            const std::uint16_t s = jis_to_sjis(static_cast<unsigned char>(c >> 8),
                                                static_cast<unsigned char>(c & 0xFF));
            sjis += static_cast<char>(s >> 8);
            sjis += static_cast<char>(s & 0xFF);
        }
        iso += "\x1b(B";
    }
};

class TextMaker {
public:
    explicit TextMaker(unsigned seed) : rng_(seed) {}

    // Mostly hiragana with kanji, some katakana and punctuation, as in mail prose.
    std::vector<unsigned> run(int chars) {
        std::vector<unsigned> codes;
        for (int i = 0; i < chars; ++i) {
            const unsigned pick = rng_() % 100;
            if (pick < 50) {
                codes.push_back(0x2400 | (0x21 + rng_() % 83)); // hiragana
            } else if (pick < 85) {
                codes.push_back((0x30 + rng_() % 31) << 8 | (0x21 + rng_() % 94)); // kanji
            } else if (pick < 95) {
                codes.push_back(0x2500 | (0x21 + rng_() % 86)); // katakana
            } else {
                codes.push_back(rng_() % 2 ? 0x2122 : 0x2123); // 、。
            }
        }
        return codes;
    }

    std::string word() {
        static const char* const words[] = {
            "the",     "meeting", "Re:", "OK", "2024", "http://example.jp/", "PDF", "mail",
            "project", "tarnbox", "-",   "(",  ")"};
        return words[rng_() % std::size(words)];
    }

    unsigned below(unsigned n) { return rng_() % n; }

private:
    std::mt19937 rng_;
};

Sample make_body(std::size_t bytes) {
    TextMaker mk(1);
    Sample s;
    while (s.iso.size() < bytes) {
        const unsigned kind = mk.below(10);
        if (kind < 2) { // quoted English line
            std::string line = "> ";
            while (line.size() < 60) line += mk.word() + " ";
            s.ascii(line + "\r\n");
        } else if (kind < 3) {
            s.ascii("\r\n");
        } else { // Japanese line with a few ASCII words inside
            for (int part = 0, parts = 1 + static_cast<int>(mk.below(3)); part < parts; ++part) {
                s.japanese(mk.run(5 + static_cast<int>(mk.below(20))));
                if (part + 1 < parts) s.ascii(std::string(" ").append(mk.word()).append(" "));
            }
            s.ascii("\r\n");
        }
    }
    return s;
}

std::vector<std::string> make_headers(int count) {
    TextMaker mk(2);
    static const char* const names[] = {"Subject: ", "Subject: Re: ", "From: ", "To: "};
    std::vector<std::string> headers;
    for (int i = 0; i < count; ++i) {
        Sample s;
        s.ascii(names[mk.below(std::size(names))]);
        for (int part = 0, parts = 1 + static_cast<int>(mk.below(3)); part < parts; ++part) {
            s.japanese(mk.run(3 + static_cast<int>(mk.below(25))));
            if (mk.below(2)) s.ascii(std::string(" ").append(mk.word()));
            if (part + 1 < parts) s.ascii(" ");
        }
        headers.push_back(s.sjis);
    }
    return headers;
}

// Best times of two contenders, run alternately so that load from other
// processes on the machine falls on both alike.
template <class A, class B> std::pair<double, double> best_seconds(A&& ours, B&& theirs) {
    double best_ours = 1e9, best_theirs = 1e9;
    for (int i = 0; i < kRepetitions; ++i) {
        best_ours = std::min(best_ours, ours());
        best_theirs = std::min(best_theirs, theirs());
    }
    return {best_ours, best_theirs};
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// iconv over a whole buffer; returns the output length or -1.
long iconv_all(iconv_t cd, const std::string& in, std::vector<char>& out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* ip = const_cast<char*>(in.data());
    std::size_t il = in.size();
    char* op = out.data();
    std::size_t ol = out.size();
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) return -1;
    if (iconv(cd, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1)) return -1;
    return static_cast<long>(op - out.data());
}

void report(const char* name, std::size_t bytes, double ours, double theirs) {
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%-38s ours %8.1f MB/s   iconv %7.1f MB/s   ratio %5.2f\n", name, mb / ours,
                mb / theirs, theirs / ours);
}

bool bench_convert(const char* name, const char* iconv_from, const std::string& in, int mode,
                   const std::string& expected) {
    std::vector<char> work(in.size() + 1);
    std::vector<char> out(in.size() * 2 + 16);
    iconv_t cd = iconv_open("SHIFT_JIS", iconv_from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::printf("%s: iconv %s unavailable\n", name, iconv_from);
        return false;
    }
    int ours_len = 0;
    long theirs_len = 0;
    const auto [ours, theirs] = best_seconds(
        [&] {
            std::memcpy(work.data(), in.data(), in.size());
            const auto start = Clock::now();
            ours_len = convert_to_sjis(work.data(), static_cast<int>(in.size()), mode);
            return seconds_since(start);
        },
        [&] {
            const auto start = Clock::now();
            theirs_len = iconv_all(cd, in, out);
            return seconds_since(start);
        });
    iconv_close(cd);
    report(name, in.size(), ours, theirs);
    const bool same = std::string(work.data(), static_cast<std::size_t>(ours_len)) == expected &&
                      theirs_len == static_cast<long>(expected.size()) &&
                      std::memcmp(out.data(), expected.data(), expected.size()) == 0;
    if (!same) std::printf("  MISMATCH: outputs differ from the Shift_JIS original\n");
    return same;
}

bool bench_encode(const std::vector<std::string>& headers) {
    std::size_t bytes = 0;
    for (const auto& h : headers) bytes += h.size();
    static char out[4096];
    std::size_t sink = 0;
    iconv_t cd = iconv_open("ISO-2022-JP", "SHIFT_JIS");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::printf("encode: iconv unavailable\n");
        return false;
    }
    std::vector<char> jis(4096);
    bool ok = true;
    const auto [ours, theirs] = best_seconds(
        [&] {
            const auto start = Clock::now();
            for (const auto& h : headers) {
                sink += static_cast<std::size_t>(encode_header_words(out, h.c_str()));
            }
            return seconds_since(start);
        },
        [&] {
            const auto start = Clock::now();
            for (const auto& h : headers) {
                const long n = iconv_all(cd, h, jis);
                if (n < 0) {
                    ok = false;
                    continue;
                }
                sink +=
                    static_cast<std::size_t>(base64_encode(out, jis.data(), static_cast<int>(n)));
            }
            return seconds_since(start);
        });
    iconv_close(cd);
    report("encode_header_words (Shift_JIS)", bytes, ours, theirs);
    if (sink == 0 || !ok) std::printf("  MISMATCH: iconv rejected a header\n");
    return ok;
}

} // namespace

int main() {
    const Sample body = make_body(kBodyBytes);
    const std::vector<std::string> headers = make_headers(kHeaders);
    std::printf("body: %zu bytes ISO-2022-JP, %zu bytes EUC-JP; %d headers\n", body.iso.size(),
                body.euc.size(), kHeaders);
    std::printf("ratio = ours / iconv throughput (above 1: faster than iconv)\n");
    bool ok = true;
    ok &= bench_convert("convert_to_sjis ISO-2022-JP (mode 0)", "ISO-2022-JP", body.iso, 0,
                        body.sjis);
    ok &= bench_convert("convert_to_sjis EUC-JP (mode 2)", "EUC-JP", body.euc, 2, body.sjis);
    ok &= bench_convert("convert_to_sjis EUC-JP (mode 0)", "EUC-JP", body.euc, 0, body.sjis);
    ok &= bench_encode(headers);
    return ok ? 0 : 1;
}
