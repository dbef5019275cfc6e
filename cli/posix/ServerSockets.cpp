// The HTTP server's sockets on POSIX.
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "../ServerPlatform.h"
#include "Failure.h"
#include "RuntimePlatform.h"

namespace korbenit {

void StartSockets() {}

int SocketError() {
  return errno;
}

std::string LookupErrorText(int error) {
  return ::gai_strerror(error);
}

MHD_socket ListeningSocket(int family) {
  int socket = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // A port this program left moments ago is taken again at once.
  int on = 1;
  if (socket >= 0 && ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    int error = errno;
    ::close(socket);
    errno = error;
    return MHD_INVALID_SOCKET;
  }
  return socket;
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
