// Behind a reverse proxy every connection comes from the proxy, so the
// login throttle would count all users as one. The client's own address
// then arrives in X-Real-IP, and is believed only on connections from a
// proxy the administrator named; anybody else's X-Real-IP is ignored.
#pragma once
#include "page/connection.h"

constexpr int kMaxTrustedProxies = 8;

// Adds a numeric IPv4 or IPv6 address, before the listener starts. False
// for anything else or when the list is full.
bool AddTrustedProxy(const char* address);
void ClearTrustedProxies();

// The X-Real-IP header's value: replaces c.clientAddress when the
// connection comes from a trusted proxy and the value is one numeric address.
void ReadForwardedAddress(Connection& c, const char* value);

// X-Forwarded-Proto from a trusted proxy: the browser's own connection was
// HTTPS, so the session cookie must be marked Secure.
void ReadForwardedProto(Connection& c, const char* value);
