#include "store/mail_credentials.h"
#include "base/atomic_file.h"

#include "store/user_table.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMagic[] = "TBC1";
constexpr size_t kMagicSize = 4, kNonceSize = 12, kTagSize = 16, kKeySize = 32;

// Owner, mailbox and the value's name, joined by bytes no name holds.
std::string entry_key(const char* owner, const char* id, const char* server, const char* name) {
    std::string k = owner;
    k += '\x01';
    k += id;
    k += '\x01';
    k += server;
    k += '\x01';
    k += name;
    return k;
}

bool read_file(const std::string& path, std::string& bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bytes.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int saved = errno;
            close(fd);
            errno = saved;
            return n == 0;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

void put_u32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool get_u32(const std::string& in, size_t& at, uint32_t& v) {
    if (in.size() - at < 4) return false;
    v = 0;
    for (int i = 0; i < 4; i++)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    at += 4;
    return true;
}

std::string encode(const std::map<std::string, std::string>& entries) {
    std::string out;
    for (const auto& [k, v] : entries) {
        put_u32(out, static_cast<uint32_t>(k.size()));
        out += k;
        put_u32(out, static_cast<uint32_t>(v.size()));
        out += v;
    }
    return out;
}

bool decode(const std::string& in, std::map<std::string, std::string>& entries) {
    entries.clear();
    size_t at = 0;
    while (at < in.size()) {
        uint32_t n = 0;
        if (!get_u32(in, at, n) || in.size() - at < n) return false;
        std::string k = in.substr(at, n);
        at += n;
        if (!get_u32(in, at, n) || in.size() - at < n) return false;
        entries[k] = in.substr(at, n);
        at += n;
    }
    return true;
}

// The key file is made once, never replaced: O_EXCL keeps two processes
// from making two keys.
bool load_key(const std::string& path, bool create, unsigned char key[kKeySize], std::string& why) {
    std::string bytes;
    if (read_file(path, bytes)) {
        if (bytes.size() != kKeySize) {
            why = path + ": 鍵ファイルの長さが正しくありません。";
            return false;
        }
        memcpy(key, bytes.data(), kKeySize);
        return true;
    }
    if (errno != ENOENT || !create) {
        why = path + ": " + strerror(errno);
        return false;
    }
    if (RAND_bytes(key, kKeySize) != 1) {
        why = "乱数を得られません。";
        return false;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = path + ": " + strerror(errno);
        return false;
    }
    const bool ok = write(fd, key, kKeySize) == static_cast<ssize_t>(kKeySize) && fsync(fd) == 0;
    close(fd);
    if (!ok) {
        unlink(path.c_str());
        why = path + ": 鍵ファイルを書けません。";
    }
    return ok;
}

} // namespace

std::string seal_credentials(const std::string& plain, const unsigned char key[32]) {
    unsigned char nonce[kNonceSize];
    if (RAND_bytes(nonce, sizeof nonce) != 1) return {};
    std::string out(kMagic, kMagicSize);
    out.append(reinterpret_cast<const char*>(nonce), kNonceSize);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string cipher(plain.size() + 16, '\0');
    int n = 0, tail = 0;
    unsigned char tag[kTagSize];
    bool ok =
        ctx && EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key, nonce) == 1 &&
        EVP_EncryptUpdate(ctx, nullptr, &n, reinterpret_cast<const unsigned char*>(kMagic),
                          kMagicSize) == 1 &&
        EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &n,
                          reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(cipher.data()) + n, &tail) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, kTagSize, tag) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return {};
    cipher.resize(static_cast<size_t>(n + tail));
    out += cipher;
    out.append(reinterpret_cast<const char*>(tag), kTagSize);
    return out;
}

bool open_credentials(const std::string& sealed, const unsigned char key[32], std::string& plain) {
    if (sealed.size() < kMagicSize + kNonceSize + kTagSize ||
        sealed.compare(0, kMagicSize, kMagic) != 0)
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(sealed.data());
    const size_t body = sealed.size() - kMagicSize - kNonceSize - kTagSize;
    plain.assign(body + 16, '\0');
    unsigned char tag[kTagSize];
    memcpy(tag, bytes + sealed.size() - kTagSize, kTagSize);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0, tail = 0;
    bool ok =
        ctx && EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key, bytes + kMagicSize) == 1 &&
        EVP_DecryptUpdate(ctx, nullptr, &n, bytes, kMagicSize) == 1 &&
        EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(plain.data()), &n,
                          bytes + kMagicSize + kNonceSize, static_cast<int>(body)) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, kTagSize, tag) == 1 &&
        EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(plain.data()) + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) {
        plain.clear();
        return false;
    }
    plain.resize(static_cast<size_t>(n + tail));
    return true;
}

void MailCredentials::set_paths(std::string file, std::string keyFile) {
    file_ = std::move(file);
    keyFile_ = std::move(keyFile);
    entries_.clear();
    readable_ = true;
}

bool MailCredentials::load(std::string& why) {
    entries_.clear();
    readable_ = true;
    std::string sealed;
    if (!read_file(file_, sealed)) {
        if (errno == ENOENT) return true;
        readable_ = false;
        why = file_ + ": " + strerror(errno);
        return false;
    }
    unsigned char key[kKeySize];
    std::string plain;
    if (!load_key(keyFile_, false, key, why)) {
        readable_ = false;
        return false;
    }
    if (!open_credentials(sealed, key, plain) || !decode(plain, entries_)) {
        entries_.clear();
        readable_ = false;
        why = file_ + ": 鍵が合わないか、ファイルが壊れています。";
        return false;
    }
    return true;
}

std::string MailCredentials::get(const char* owner, const char* id, const char* server,
                                 const char* name) const {
    auto it = entries_.find(entry_key(owner, id, server, name));
    return it == entries_.end() ? std::string() : it->second;
}

bool MailCredentials::write(const std::map<std::string, std::string>& entries, std::string& why) {
    if (!readable_) {
        why = file_ + ": 読めなかったファイルは書き換えません。";
        return false;
    }
    unsigned char key[kKeySize];
    if (!load_key(keyFile_, true, key, why)) return false;
    const std::string sealed = seal_credentials(encode(entries), key);
    if (sealed.empty()) {
        why = "暗号化できません。";
        return false;
    }
    if (!write_file_atomically(file_, sealed, 0600)) {
        why = file_ + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool MailCredentials::put(const char* owner, const char* id, const char* server, const char* name,
                          const std::string& value, std::string& why) {
    std::map<std::string, std::string> next = entries_;
    const std::string k = entry_key(owner, id, server, name);
    if (value.empty())
        next.erase(k);
    else
        next[k] = value;
    if (next == entries_) return true;
    if (!write(next, why)) return false;
    entries_ = std::move(next);
    return true;
}

bool MailCredentials::prune(const UserTable& users, std::string& why) {
    std::map<std::string, std::string> next;
    for (const UserRecord* u = users.head.link; u; u = u->link)
        for (const SettingsSet& set : u->set) {
            if (!set.id[0]) continue;
            const std::string prefix = entry_key(u->set[0].id, set.id, set.pop3_name, "");
            for (auto it = entries_.lower_bound(prefix);
                 it != entries_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
                next.insert(*it);
        }
    if (next == entries_ || !readable_) return true;
    if (!write(next, why)) return false;
    entries_ = std::move(next);
    return true;
}
