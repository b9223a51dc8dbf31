// Behind a proxy (nginx in front of several hosts) the connection's peer is the proxy,
// not the client. A proxy the operator trusts says who the client is
// (X-Forwarded-For) and whether it came over TLS (X-Forwarded-Proto); a request from
// any other peer is taken as it came, whatever such headers it carries.
#pragma once

#include <string>
#include <vector>

#include "host/exchange.h"

namespace host {

// True for an IPv4 or IPv6 address in text form.
bool IsIpAddress(const std::string& text);

// True when `address` is one of `trusted` (addresses as text; an IPv4 peer seen as an
// IPv4-mapped IPv6 address matches its IPv4 form).
bool IsTrustedProxy(const std::string& address, const std::vector<std::string>& trusted);

// When the record's peer is a trusted proxy: the client's address becomes the nearest
// address of X-Forwarded-For that is not itself a trusted proxy (its port unknown: 0),
// and `secure` follows the last protocol X-Forwarded-Proto names. A forwarded address
// that is no IP address is ignored, so a header cannot put arbitrary text in the
// server variables or the logs.
void ApplyForwardedHeaders(const std::vector<std::string>& trusted, RequestRecord* record);

}  // namespace host
