// The HTTP server's sockets on Windows: Winsock, started once for the program.
#define _CRT_RAND_S
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "../ServerPlatform.h"
#include "CaptureOptions.h"
#include "Failure.h"
#include "RuntimePlatform.h"

namespace korbenit {
namespace {

void StartWinsock() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data;
    if (int error = ::WSAStartup(MAKEWORD(2, 2), &data); error != 0)
      throw EFailure(SystemErrorText(error), TFailureKind::Other, error);
  });
}

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET)
    return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
  const in6_addr& six = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  if (IN6_IS_ADDR_V4MAPPED(&six)) return six.s6_addr[12] == 127;
  return IN6_IS_ADDR_LOOPBACK(&six);
}

std::string ShownAddress(const sockaddr_storage& address) {
  char host[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    auto& four = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &four.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(four.sin_port));
  }
  auto& six = reinterpret_cast<const sockaddr_in6&>(address);
  ::inet_ntop(AF_INET6, &six.sin6_addr, host, sizeof host);
  // Built piece by piece: GCC 12 warns wrongly of an overlap in "[" + string.
  std::string shown = "[";
  shown += host;
  shown += "]:";
  return shown + std::to_string(ntohs(six.sin6_port));
}

[[noreturn]] void CannotListen(SOCKET socket) {
  int error = ::WSAGetLastError();
  if (socket != INVALID_SOCKET) ::closesocket(socket);
  throw EFailure(SystemErrorText(error), TFailureKind::Other, error);
}

}  // namespace

TListening ListenOn(const std::string& host, const std::string& port) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0)
    throw EUsage("--serve: \"" + host + "\": " + SystemErrorText(error));
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);
  TListening listening;
  listening.Loopback = IsLoopback(found->ai_addr);
  listening.Ipv6 = found->ai_family == AF_INET6;
  SOCKET socket = ::WSASocketW(found->ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                               WSA_FLAG_NO_HANDLE_INHERIT);
  // Another program may not take the address over while it is ours.
  BOOL on = TRUE;
  if (socket == INVALID_SOCKET ||
      ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0 ||
      ::bind(socket, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 ||
      ::listen(socket, 64) != 0)
    CannotListen(socket);
  sockaddr_storage bound{};
  int length = sizeof bound;
  ::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
  listening.Shown = ShownAddress(bound);
  listening.Socket = socket;
  return listening;
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
