// The gateway's side of HTTPS: the certificate and key it presents to
// browsers, and a self-signed pair for a first try.
#pragma once
#include <string>
#include <vector>

struct ssl_ctx_st;

enum class HttpsProblem {
    None,
    CertificateMissing,
    CertificateUnreadable,
    CertificateNotPem, // no certificate in the file, or a broken one
    KeyMissing,
    KeyUnreadable,
    KeyNotPem, // no private key, a broken one, or one with a passphrase
    KeyMismatch,
    NoMemory,
};

struct HttpsSetup {
    ssl_ctx_st* context = nullptr; // set when problem is None
    HttpsProblem problem = HttpsProblem::None;
    std::string detail; // strerror or OpenSSL's reason, for the message
};

// A server context from the PEM chain (the server's certificate first) and
// its key: TLS 1.2 at least, the server's cipher order, no renegotiation.
// Nothing is ever asked on the terminal: a key with a passphrase is refused.
HttpsSetup https_load(const std::string& certificateFile, const std::string& keyFile);

// Makes a new key (EC P-256) and a certificate signed by it for names (host
// names or numeric addresses; the first is also the subject), valid for
// days from now. The key file is created with mode 0600, the certificate
// 0644; an existing file is replaced only with overwrite. Returns an empty
// string, or why it failed.
std::string https_make_self_signed(const std::vector<std::string>& names, int days,
                                   const std::string& certificateFile, const std::string& keyFile,
                                   bool overwrite);
