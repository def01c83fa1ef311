// The mail worker's link to its mail server: the socket, the address it was
// connected to, and its TLS session (its own: nobody else touches it), with
// the server name the certificate was checked against and why the secure
// connection failed (a TlsFailure).
#pragma once
#include <cstdint>
#include <sys/socket.h>

struct ssl_st;

struct MailLink {
    int socket; // -1 when none
    sockaddr_storage serverAddress;
    ssl_st* tls;
    uint8_t tlsFailure;
    char serverName[80];
};
