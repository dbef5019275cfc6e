// The HTTP server's sockets on Windows: Winsock, started once for the program.
#define _CRT_RAND_S
#include <cstdlib>
#include <mutex>

#include "../ServerPlatform.h"
#include "Failure.h"
#include "RuntimePlatform.h"

namespace korbenit {

void StartSockets() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data;
    if (int error = ::WSAStartup(MAKEWORD(2, 2), &data); error != 0)
      throw EFailure(SystemErrorText(error), TFailureKind::Other, error);
  });
}

int SocketError() {
  return ::WSAGetLastError();
}

// getaddrinfo answers with Winsock's own error numbers.
std::string LookupErrorText(int error) {
  return SystemErrorText(error);
}

MHD_socket ListeningSocket(int family) {
  SOCKET socket =
      ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  // Another program may not take the address over while it is ours.
  BOOL on = TRUE;
  if (socket != INVALID_SOCKET &&
      ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0) {
    int error = ::WSAGetLastError();
    ::closesocket(socket);
    ::WSASetLastError(error);
    return INVALID_SOCKET;
  }
  return socket;
}

void CloseSocket(MHD_socket socket) {
  ::closesocket(socket);
}

// Readable with nothing to read: the peer closed its end.
bool PeerGone(MHD_socket socket) {
  WSAPOLLFD watch{socket, POLLRDNORM, 0};
  if (::WSAPoll(&watch, 1, 0) <= 0) return false;
  if (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
  char byte;
  return ::recv(socket, &byte, 1, MSG_PEEK) <= 0;
}

void RandomBytes(unsigned char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    unsigned int value = 0;
    if (::rand_s(&value) != 0) throw EFailure("no randomness", TFailureKind::Other);
    bytes[i] = static_cast<unsigned char>(value);
  }
}

}  // namespace korbenit
