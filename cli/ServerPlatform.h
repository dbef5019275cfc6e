#pragma once

// What the HTTP server needs of the platform's sockets beyond their common interface:
// cli/posix/ and cli/windows/ provide it, and their SocketHeaders.h declares that interface.
#include <microhttpd.h>

#include <cstddef>
#include <string>

#include "SocketHeaders.h"

namespace korbenit {

// Readies the platform's sockets, once for the program.
void StartSockets();
// The system's error number of the socket call that failed last.
int SocketError();
// getaddrinfo's failure in words.
std::string LookupErrorText(int error);
// A stream socket for the family that no child process inherits, made for listening:
// its address is ours alone while it is open. MHD_INVALID_SOCKET on failure.
MHD_socket ListeningSocket(int family);
void CloseSocket(MHD_socket socket);

// Whether the peer of a connected socket has closed its end or is gone; never waits.
bool PeerGone(MHD_socket socket);

// Bytes from the system's source of randomness, fit for a secret.
void RandomBytes(unsigned char* bytes, std::size_t count);

}  // namespace korbenit
