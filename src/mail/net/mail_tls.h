// TLS to mail servers (the bytes then go through base/socket_stream).
// The worker that owns a mail socket owns its TLS session: everybody else
// only ever shuts the socket down, which makes a waiting TLS call fail.
#pragma once
#include <cstddef>
#include <sys/types.h>

struct ssl_st;

enum class TlsFailure : int {
    None = 0,
    Expired,          // the certificate is out of its validity period
    WrongName,        // it was not issued for the server's name
    UnknownAuthority, // no trusted authority signed it
    BadCertificate,   // any other verification failure
    Handshake,        // the server broke off or spoke no TLS
    NotOffered,       // STLS or STARTTLS was required but not announced
};

struct TlsOutcome {
    ssl_st* session = nullptr; // set on success
    TlsFailure failure = TlsFailure::None;
};

// Starts TLS on the connected socket fd for the server named host (a name or
// a numeric address, checked against the certificate unless verify is off).
// Waits at most timeoutSeconds for the server; the socket stays blocking.
TlsOutcome mail_tls_start(int fd, const char* host, bool verify, int timeoutSeconds);

// Whether host is a numeric address, IPv4 or IPv6 (brackets allowed around
// IPv6); if so, address receives it without brackets, as a certificate's
// address entry is compared.
constexpr size_t kAddressTextSize = 46;
bool mail_tls_address_literal(const char* host, char (&address)[kAddressTextSize]);

// Sends a close notice when the session is sound, then frees it.
void mail_tls_end(ssl_st*& session);

// Reads the system's authorities and, when caFile is not null, the
// administrator's own file beside them, once for the whole process: later
// calls change nothing. The gateway calls it at its start, so a file changed
// or removed afterwards does not count until the next start. Returns whether
// caFile gave at least one certificate.
bool mail_tls_load_authorities(const char* caFile);
