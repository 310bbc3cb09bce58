// The checks of a server's certificate on Windows: its pin and its chain. WinHTTP checks the
// chain in its own handshake only when asked to, and a pooled connection may have been opened
// by a request that asked for no check, so the transport checks every request's connection
// with these before it sends a byte.
#pragma once

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <string>

namespace vesk::platform {

// Whether the server's certificate passes the request's checks:
// - pin, when not empty: the SHA-256 digest (32 raw bytes) of the certificate's DER encoding
//   must equal it, compared in full whatever the first difference;
// - verify: the certificate must be valid for the host (a name, or an address looked for among
//   the certificate's addresses) and today, and chain to one of the authorities of the PEM file
//   caFile alone, or, when caFile is empty, to a root the system trusts.
// With no pin and no verification every certificate passes.
bool ServerCertificateAccepted(const CERT_CONTEXT& certificate, const std::string& pin, bool verify,
                               const std::string& caFile, const std::wstring& host);

}  // namespace vesk::platform
