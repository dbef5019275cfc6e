// The HTTP server's sockets on POSIX.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "../ServerPlatform.h"
#include "CaptureOptions.h"
#include "Failure.h"
#include "RuntimePlatform.h"

namespace korbenit {
namespace {

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

[[noreturn]] void CannotListen(int socket) {
  int error = errno;
  if (socket >= 0) ::close(socket);
  throw EFailure(SystemErrorText(error), TFailureKind::Other, error);
}

}  // namespace

TListening ListenOn(const std::string& host, const std::string& port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0)
    throw EUsage("--serve: \"" + host + "\": " + ::gai_strerror(error));
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);
  TListening listening;
  listening.Loopback = IsLoopback(found->ai_addr);
  listening.Ipv6 = found->ai_family == AF_INET6;
  int socket = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  if (socket < 0 || ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(socket, found->ai_addr, found->ai_addrlen) != 0 || ::listen(socket, 64) != 0)
    CannotListen(socket);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
  listening.Shown = ShownAddress(bound);
  listening.Socket = socket;
  return listening;
}

void CloseSocket(MHD_socket socket) {
  ::close(socket);
}

bool PeerGone(MHD_socket socket) {
  pollfd watch{socket, POLLRDHUP, 0};
  return ::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void RandomBytes(unsigned char* bytes, std::size_t count) {
  for (std::size_t got = 0; got < count;) {
    ssize_t n = ::getrandom(bytes + got, count - got, 0);
    if (n < 0 && errno != EINTR) throw EFailure(SystemErrorText(errno), TFailureKind::Other, errno);
    if (n > 0) got += static_cast<std::size_t>(n);
  }
}

}  // namespace korbenit
