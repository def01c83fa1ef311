#include "server/request/request_reader.h"
#include "page/form_reading.h"
#include "server/form/upload_file.h"
#include "server/request/https_redirect.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "base/text/sjis_pair.h"
#include "server/form/form_reader.h"
#include "server/login/session_binding.h"
#include "server/route/evaluate.h"

namespace {

// The longest piece of a line handed on; the byte after it starts the next.
constexpr int kLinePiece = kLineSize - 1;

bool InBody(const Connection& c) {
    return c.form.bodyMode >= kBodyUrlencoded;
}

int HexValue(unsigned char b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    return -1;
}

void StartBody(Connection& c) {
    c.form.percentState = 0;
    c.fieldName[0] = '\0';
    c.messageText[0] = '\0';
    c.messageLength = 0;
    c.form.bodyMode = c.form.boundary[0] != '\0' ? kBodyPartHeaders : kBodyUrlencoded;
}

// Hands on the completed line of a text mode. Returns 1 when it completed the
// request (the empty line after the headers of a GET, HEAD or unknown method,
// or of a POST with no body).
int HandOnTextLine(Connection& c) {
    c.line[c.lineLength] = '\0';
    bool empty = c.lineLength == 0;
    c.lineLength = 0;
    if (c.form.bodyMode > kBodyPostHeaders) {
        FormLine(c);
        return 0;
    }
    if (!empty) {
        ParseHeaderLine(c);
        return 0;
    }
    if (RedirectToHttps(c)) {
        c.state = PageState::Done;
        return 1;
    }
    BindSession(c);
    if (c.form.bodyMode == kBodyGetHeaders) {
        EvaluateRequest(c);
        return 1;
    }
    StartBody(c);
    if (c.bodyRemaining == 0) {
        FinishPost(c);
        return 1;
    }
    return 0;
}

int EndTextLine(Connection& c) {
    const int r = HandOnTextLine(c);
    c.form.valueBroken = 0;
    return r;
}

// True when the last byte of the full line is the first byte of a two-byte
// character that b would complete.
bool PairAtCut(const Connection& c, char b) {
    int i = 0;
    while (i < c.lineLength - 1) i += SjisPairAt(c.line + i) ? 2 : 1;
    if (i != c.lineLength - 1) return false;
    const char pair[3] = {c.line[i], b, '\0'};
    return SjisPairAt(pair);
}

void StoreTextByte(Connection& c, char b) {
    // A full piece goes on as a line only when a further byte arrives, so a
    // line of exactly 4095 bytes and its line feed stay one line. A piece
    // never ends in half a two-byte character.
    if (c.lineLength >= kLinePiece) {
        bool carry = PairAtCut(c, b);
        char lead = c.line[c.lineLength - 1];
        if (carry) --c.lineLength;
        EndTextLine(c);
        if (carry) c.line[c.lineLength++] = lead;
    }
    c.line[c.lineLength++] = b;
}

int AssembleByte(Connection& c, char b) {
    if (c.form.bodyMode == kBodyPartFile) {
        // File data keeps its carriage returns and line feeds.
        c.line[c.lineLength++] = b;
        if (b == '\n' || c.lineLength >= kLinePiece) {
            c.line[c.lineLength] = '\0';
            FormLine(c);
            c.lineLength = 0;
        }
        return 0;
    }
    if (b == '\n') {
        c.form.crPending = 0;
        return EndTextLine(c);
    }
    // A CR counts as part of the line end only right before its LF.
    if (c.form.crPending || b == '\0') c.form.valueBroken = 1;
    c.form.crPending = b == '\r';
    if (b != '\r') StoreTextByte(c, b);
    return 0;
}

// Undoes the urlencoding of one body byte before it joins the line. Escapes
// that turn out invalid are given back literally.
int DecodeByte(Connection& c, unsigned char b) {
    if (c.form.percentState == 2) {
        if (HexValue(b) >= 0) {
            c.form.percentFirst = b;
            c.form.percentState = 1;
            return 0;
        }
        c.form.percentState = 0;
        StoreTextByte(c, '%');
    } else if (c.form.percentState == 1) {
        c.form.percentState = 0;
        if (HexValue(b) >= 0) {
            const char v = static_cast<char>(HexValue(c.form.percentFirst) * 16 + HexValue(b));
            // Raw line ends separate fields; an escaped one is inside a value.
            if (v == '\r' || v == '\n' || v == '\0') c.form.valueBroken = 1;
            return AssembleByte(c, v);
        }
        StoreTextByte(c, '%');
        StoreTextByte(c, static_cast<char>(c.form.percentFirst));
    }
    // The byte that broke an escape is read afresh, so "%1&" still ends the
    // field and "%%41" still decodes the second escape.
    if (b == '%') {
        c.form.percentState = 2;
        c.form.percentFirst = 0;
        return 0;
    }
    if (b == '&') b = '\n';
    if (b == '+') b = ' ';
    return AssembleByte(c, static_cast<char>(b));
}

int FeedByte(Connection& c, unsigned char b) {
    if (c.form.bodyMode == kBodyUrlencoded || c.form.bodyMode == kBodyUrlencodedMessage) {
        return DecodeByte(c, b);
    }
    return AssembleByte(c, static_cast<char>(b));
}

// Moves the bytes of an uploaded file up to the next line end (or as many
// as a piece holds, or as the body has left) at once, as AssembleByte would
// one by one. Returns how many it took.
int FileRun(Connection& c, const char* bytes, int n) {
    int take = std::min({n, kLinePiece - c.lineLength, c.bodyRemaining});
    if (const void* end = memchr(bytes, '\n', static_cast<size_t>(take)))
        take = static_cast<int>(static_cast<const char*>(end) - bytes) + 1;
    memcpy(c.line + c.lineLength, bytes, static_cast<size_t>(take));
    c.lineLength += take;
    c.bodyRemaining -= take;
    if (c.line[c.lineLength - 1] == '\n' || c.lineLength >= kLinePiece) {
        c.line[c.lineLength] = '\0';
        FormLine(c);
        c.lineLength = 0;
    }
    return take;
}

} // namespace

int FeedBytes(Connection& c, const char* bytes, int count) {
    // The header and form readers use receiveBuffer and fieldName as work
    // space, so a chunk received into one of them must be copied first.
    char chunk[kLineSize];
    for (int done = 0; done < count;) {
        int n = count - done < kLineSize ? count - done : kLineSize;
        memcpy(chunk, bytes + done, static_cast<size_t>(n));
        done += n;
        for (int i = 0; i < n; ++i) {
            // A file's bytes are most of a large post: they go by the run.
            if (c.form.bodyMode == kBodyPartFile && c.bodyRemaining > 0) {
                i += FileRun(c, chunk + i, n - i) - 1;
                if (c.bodyRemaining == 0) {
                    FinishPost(c);
                    return 1;
                }
                continue;
            }
            bool counted = InBody(c);
            if (counted && c.bodyRemaining > 0) --c.bodyRemaining;
            if (FeedByte(c, static_cast<unsigned char>(chunk[i]))) return 1;
            // The body ends with its last counted byte; anything after it in
            // the same chunk is ignored, as after the headers of a GET.
            if (counted && c.bodyRemaining == 0) {
                FinishPost(c);
                return 1;
            }
        }
    }
    return 0;
}

void FinishPost(Connection& c) {
    if (c.lineLength > 0) {
        c.line[c.lineLength] = '\0';
        FormLine(c);
        c.lineLength = 0;
    }
    CloseUpload(c);
    EvaluatePost(c);
}
