#pragma once

// What the HTTP server needs of the platform's sockets: cli/posix/ and cli/windows/
// provide it.
#include <microhttpd.h>

#include <cstddef>
#include <string>

namespace korbenit {

struct TListening {
  MHD_socket Socket = MHD_INVALID_SOCKET;
  bool Loopback = false;  // only this machine can connect
  bool Ipv6 = false;
  std::string Shown;  // the address bound, as a URL's host and port ("[::1]:8765")
};

// A socket listening on host (a name is looked up) and port (0: one the system picks).
// Raises EUsage for a host that is none, EFailure with the system's error number when it
// cannot listen there.
TListening ListenOn(const std::string& host, const std::string& port);
void CloseSocket(MHD_socket socket);

// Whether the peer of a connected socket has closed its end or is gone; never waits.
bool PeerGone(MHD_socket socket);

// Bytes from the system's source of randomness, fit for a secret.
void RandomBytes(unsigned char* bytes, std::size_t count);

}  // namespace korbenit
