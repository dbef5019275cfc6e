#include "StreamServer.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <utility>

#include "FailureHints.h"
#include "ImageFiles.h"
#include "LiveSession.h"
#include "PortChoice.h"
#include "RuntimePlatform.h"
#include "ServerPlatform.h"

namespace korbenit {
namespace {

constexpr int MaxViewers = 32;
// What any client may hold at once; beyond, connections are closed as they come.
constexpr unsigned MaxConnections = 128;
constexpr unsigned IdleSeconds = 10;
constexpr std::size_t RequestMemory = 32 * 1024;
constexpr auto Resend = std::chrono::seconds(1);
constexpr char Boundary[] = "korbenit-frame";

// The listening socket until the server takes it over.
class TListenSocket {
 public:
  TListenSocket() = default;
  TListenSocket(const TListenSocket&) = delete;
  TListenSocket& operator=(const TListenSocket&) = delete;
  ~TListenSocket() { Reset(MHD_INVALID_SOCKET); }
  MHD_socket Get() const { return FSocket; }
  void Release() { FSocket = MHD_INVALID_SOCKET; }
  void Reset(MHD_socket socket) {
    if (FSocket != MHD_INVALID_SOCKET) CloseSocket(FSocket);
    FSocket = socket;
  }

 private:
  MHD_socket FSocket = MHD_INVALID_SOCKET;
};

struct TListening {
  TListenSocket Socket;
  bool Loopback = false;  // only this machine can connect
  bool Ipv6 = false;
  std::string Shown;  // the address bound, as a URL's host and port ("[::1]:8765")
};

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

// "8765", "ADDR:8765" or "[v6]:8765"; a name is looked up. Raises EUsage for an address
// that is none, EFailure with the system's error number when it cannot listen there.
void Listen(const std::string& where, TListening& listening) {
  std::string host = "127.0.0.1", port = where;
  std::size_t colon = where.rfind(':');
  if (colon != std::string::npos) {
    host = where.substr(0, colon), port = where.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
  }
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    throw EUsage("--serve takes [ADDR:]PORT, not \"" + where + "\"");
  StartSockets();
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0)
    throw EUsage("--serve: \"" + host + "\": " + LookupErrorText(error));
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);
  listening.Loopback = IsLoopback(found->ai_addr);
  listening.Ipv6 = found->ai_family == AF_INET6;
  listening.Socket.Reset(ListeningSocket(found->ai_family));
  MHD_socket socket = listening.Socket.Get();
  if (socket == MHD_INVALID_SOCKET ||
      ::bind(socket, found->ai_addr, static_cast<socklen_t>(found->ai_addrlen)) != 0 ||
      ::listen(socket, 64) != 0)
    throw EFailure(SystemErrorText(SocketError()), TFailureKind::Other, SocketError());
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
  listening.Shown = ShownAddress(bound);
}

std::string RandomToken() {
  unsigned char bytes[16];
  RandomBytes(bytes, sizeof bytes);
  static const char Hex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) token += Hex[b >> 4], token += Hex[b & 15];
  return token;
}

// A Host header a browser sends only for this machine: a page from elsewhere whose name
// was pointed at 127.0.0.1 afterwards (DNS rebinding) names its own host and is refused.
// A client that sends none (HTTP/1.0) is no browser.
bool LocalHost(const char* header) {
  if (!header) return true;
  std::string host = header;
  if (host.rfind("[::1]", 0) == 0) return host.size() == 5 || host[5] == ':';
  host = host.substr(0, host.find(':'));
  if (host == "localhost") return true;
  return host.rfind("127.", 0) == 0 && host.find_first_not_of("0123456789.") == std::string::npos;
}

// Takes as long whatever the guess, so that a guess's time tells nothing of the token.
bool SameToken(const char* given, const std::string& token) {
  if (!given) return false;
  std::size_t length = std::strlen(given);
  unsigned char differ = length != token.size();
  for (std::size_t i = 0; i < token.size(); ++i)
    differ |= static_cast<unsigned char>(token[i] ^ (i < length ? given[i] : 0));
  return differ == 0;
}

class TServer;

// One viewer of the stream: the part being sent and how far.
struct TViewer {
  TServer* Server;
  MHD_socket Socket;
  std::shared_ptr<const TServedFrame> Frame;   // the part's picture
  const std::vector<uint8_t>* Jpeg = nullptr;  // the picture's JPEG, made once for all
  std::string Head;                            // the part's boundary and headers
  std::size_t Sent = 0, Size = 0;
};

class TServer {
 public:
  TServer(TServedScreen& screen, std::string token) : FScreen(screen), FToken(std::move(token)) {}
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;
  ~TServer() { Stop(); }

  void Start(TListenSocket& socket, bool ipv6) {
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ITC |
                     (ipv6 ? MHD_USE_IPv6 : 0);
    FDaemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &TServer::Answer, this,
                               MHD_OPTION_LISTEN_SOCKET, socket.Get(), MHD_OPTION_CONNECTION_LIMIT,
                               MaxConnections, MHD_OPTION_CONNECTION_TIMEOUT, IdleSeconds,
                               MHD_OPTION_CONNECTION_MEMORY_LIMIT, RequestMemory, MHD_OPTION_END);
    if (!FDaemon) throw EFailure("the HTTP server could not start", TFailureKind::Other);
    socket.Release();  // closed by the server when it stops
  }

  // Waits and streams end first, so that the server's threads end at once.
  void Stop() {
    FScreen.Close();
    if (FDaemon) MHD_stop_daemon(std::exchange(FDaemon, nullptr));
  }

 private:
  // Nothing may leave a callback of the library but its answer: a picture that cannot be
  // made (memory) is a 500.
  static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char*, const char*, std::size_t*, void**) {
    try {
      return static_cast<TServer*>(cls)->Answer(connection, url, method);
    } catch (const std::exception&) {
      return Send(connection, 500, Text("the server could not answer\n"));
    }
  }

  MHD_Result Answer(MHD_Connection* connection, const std::string& url, const std::string& method) {
    if (!FToken.empty() && !Admitted(connection)) return Send(connection, 401, Text(""));
    if (FToken.empty() &&
        !LocalHost(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host")))
      return Send(connection, 403, Text(""));
    if (method != "GET" && method != "HEAD") {
      MHD_Response* response = Text("only GET and HEAD\n");
      MHD_add_response_header(response, "Allow", "GET, HEAD");
      return Send(connection, 405, response);
    }
    if (url == "/") return Send(connection, 200, Bytes(ServedPage, "text/html; charset=utf-8"));
    if (url == "/frame.json")
      return Send(connection, 200, Bytes(StateJson(FScreen.State()), "application/json"));
    if (url == "/snapshot.png" || url == "/snapshot.bmp") return Snapshot(connection, url);
    if (url == "/stream.mjpg") return Stream(connection);
    return Send(connection, 404, Text("no such page\n"));
  }

  bool Admitted(MHD_Connection* connection) const {
    const char* header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization");
    if (header && std::strncmp(header, "Bearer ", 7) == 0 && SameToken(header + 7, FToken))
      return true;
    return SameToken(MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token"),
                     FToken);
  }

  MHD_Result Snapshot(MHD_Connection* connection, const std::string& url) {
    std::shared_ptr<const TServedFrame> frame = FScreen.Newest();
    if (!frame) {
      MHD_Response* response = Text("no frame yet\n");
      MHD_add_response_header(response, "Retry-After", "1");
      return Send(connection, 503, response);
    }
    bool png = url == "/snapshot.png";
    TPicture picture = PictureOf(*frame->Frame);
    std::vector<uint8_t> bytes = png ? EncodePng(picture) : EncodeBitmap(picture);
    MHD_Response* response =
        Bytes(std::string(bytes.begin(), bytes.end()), png ? "image/png" : "image/bmp");
    std::string name = DefaultPictureName(std::chrono::system_clock::to_time_t(frame->Time)) +
                       (png ? ".png" : ".bmp");
    MHD_add_response_header(response, "Content-Disposition",
                            ("inline; filename=\"" + name + "\"").c_str());
    return Send(connection, 200, response);
  }

  MHD_Result Stream(MHD_Connection* connection) {
    if (FViewers.fetch_add(1) >= MaxViewers) {
      FViewers.fetch_sub(1);
      MHD_Response* response = Text("too many viewers\n");
      MHD_add_response_header(response, "Retry-After", "5");
      return Send(connection, 503, response);
    }
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    // The server owns the viewer from here and hands it back to FreeViewer.
    auto* viewer =
        new TViewer{this, info ? info->connect_fd : MHD_INVALID_SOCKET, nullptr, nullptr, {}, 0, 0};
    MHD_Response* response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, 16 * 1024, &TServer::ReadStream, viewer, &TServer::FreeViewer);
    if (!response) {
      FreeViewer(viewer);
      return MHD_NO;
    }
    std::string type = std::string("multipart/x-mixed-replace; boundary=") + Boundary;
    MHD_add_response_header(response, "Content-Type", type.c_str());
    return Send(connection, 200, response);
  }

  // The newest frame for each part: a viewer that is slow to take them skips to it.
  static ssize_t ReadStream(void* cls, uint64_t, char* buffer, std::size_t room) {
    auto& viewer = *static_cast<TViewer*>(cls);
    try {
      if (viewer.Sent == viewer.Size && !viewer.Server->NextPart(viewer))
        return MHD_CONTENT_READER_END_WITH_ERROR;
    } catch (const std::exception&) {
      return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    std::size_t put = 0;
    while (put < room && viewer.Sent < viewer.Size) {
      std::size_t at = viewer.Sent, head = viewer.Head.size(), body = viewer.Jpeg->size();
      std::size_t count;
      if (at < head) {
        count = std::min(room - put, head - at);
        std::memcpy(buffer + put, viewer.Head.data() + at, count);
      } else if (at < head + body) {
        count = std::min(room - put, head + body - at);
        std::memcpy(buffer + put, viewer.Jpeg->data() + (at - head), count);
      } else {
        static const char End[] = "\r\n";
        count = std::min(room - put, viewer.Size - at);
        std::memcpy(buffer + put, End + (at - head - body), count);
      }
      put += count, viewer.Sent += count;
    }
    return static_cast<ssize_t>(put);
  }

  // False when the server closes or the viewer left.
  bool NextPart(TViewer& viewer) {
    uint64_t last = viewer.Frame ? viewer.Frame->Number : 0;
    viewer.Frame = FScreen.WaitNewer(last, Resend, [&viewer] {
      return viewer.Socket != MHD_INVALID_SOCKET && PeerGone(viewer.Socket);
    });
    if (!viewer.Frame) return false;
    viewer.Jpeg = &viewer.Frame->Jpeg();
    viewer.Head =
        std::string("--") + Boundary +
        "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(viewer.Jpeg->size()) +
        "\r\n\r\n";
    viewer.Sent = 0;
    viewer.Size = viewer.Head.size() + viewer.Jpeg->size() + 2;
    return true;
  }

  static void FreeViewer(void* cls) {
    std::unique_ptr<TViewer> viewer(static_cast<TViewer*>(cls));
    viewer->Server->FViewers.fetch_sub(1);
  }

  static MHD_Response* Bytes(const std::string& bytes, const char* type) {
    MHD_Response* response = MHD_create_response_from_buffer(
        bytes.size(), const_cast<char*>(bytes.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, "Content-Type", type);
    return response;
  }

  static MHD_Response* Text(const std::string& text) {
    return Bytes(text, "text/plain; charset=utf-8");
  }

  // Every answer: never kept by a cache, never taken for another type, and the page's
  // script and style are its own.
  static MHD_Result Send(MHD_Connection* connection, unsigned status, MHD_Response* response) {
    if (!response) return MHD_NO;
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'none'; img-src 'self'; connect-src 'self'; "
                            "script-src 'unsafe-inline'; style-src 'unsafe-inline'");
    MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
  }

  TServedScreen& FScreen;
  std::string FToken;
  MHD_Daemon* FDaemon = nullptr;
  std::atomic<int> FViewers{0};
};

}  // namespace

int ServeScreen(const TCaptureOptions& options, TCaptureSession& session) {
  TListening listening;
  try {
    Listen(options.Serve, listening);
  } catch (const EFailure& e) {
    ReportFailure(TFailure::Of(e), session.Err, {}, options.Serve);
    return 1;
  }
  std::string port = ChoosePort(options, session);
  if (port.empty()) {
    ReportFailure({"no device port found", TFailureKind::NoDevicePort}, session.Err);
    return 1;
  }
  std::string token = options.Token;
  if (token.empty() && !listening.Loopback) token = RandomToken();
  TServedScreen screen([&port](const TFailure& failure) {
    std::string words = CommandLineMessage(failure, port, {});
    std::string prefix = "korbenit-capture: ";
    if (words.rfind(prefix, 0) == 0) words.erase(0, prefix.size());
    return TFailureWords{words, FailureHint(failure.Kind, PortGroup(port))};
  });
  TServer server(screen, token);
  try {
    server.Start(listening.Socket, listening.Ipv6);
  } catch (const EFailure& e) {
    ReportFailure(TFailure::Of(e), session.Err, {}, options.Serve);
    return 1;
  }
  TLiveSession live(port, screen);
  live.Start();
  session.Out << "serving http://" << listening.Shown << "/"
              << (token.empty() ? "" : "?token=" + token) << "\n";
  if (!token.empty()) session.Out << "token: " << token << "\n";
  session.Out.flush();
  while (session.Stop.Sleep(std::chrono::hours(1))) {
  }
  server.Stop();
  live.Stop();
  return Stopped(session.Stop);
}

}  // namespace korbenit
