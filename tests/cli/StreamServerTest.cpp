// The screen served over HTTP, through real clients: the test's own HTTP client on raw
// sockets, and headless Chromium for the page.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "DeviceModel.h"
#include "Frame.h"
#include "PictureReader.h"
#include "SimulatorProcess.h"
#include "TempFolder.h"

namespace korbenit {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::TTempFolder;

// The serving command as a child: its address and token read from its first lines,
// ended by SIGTERM.
class TServer {
 public:
  TServer(const TTempFolder& folder, std::vector<std::string> args, std::string name = "server")
      : FOut(folder / (name + ".out")), FErr(folder / (name + ".err")) {
    args.insert(args.begin(), KORBENIT_CAPTURE);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn(&FPid, KORBENIT_CAPTURE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    std::smatch found;
    std::regex serving(R"(serving http://([^/]+):(\d+)/(\?token=(\w+))?\n)");
    for (auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
      std::string said = Out();
      if (std::regex_search(said, found, serving)) {
        Port = std::stoi(found[2]);
        Token = found[4];
        return;
      }
      if (Ended()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;
  ~TServer() { Stop(SIGKILL); }

  // The exit status as a shell reports it.
  int Stop(int signal = SIGTERM) {
    if (FPid > 0) {
      ::kill(FPid, signal);
      Reap();
    }
    return FStatus;
  }
  bool Ended() {
    if (FPid < 0) return true;
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) != FPid) return false;
    Keep(status);
    return true;
  }
  int Wait() {
    Reap();
    return FStatus;
  }
  std::string Out() const { return Read(FOut); }
  std::string Err() const { return Read(FErr); }

  int Port = 0;
  std::string Token;

 private:
  void Reap() {
    if (FPid < 0) return;
    int status = 0;
    ::waitpid(FPid, &status, 0);
    Keep(status);
  }
  void Keep(int status) {
    FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    FPid = -1;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path FOut, FErr;
  pid_t FPid = -1;
  int FStatus = -1;
};

class TConnection {
 public:
  explicit TConnection(int port) : FSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{15, 0};
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    Connected = ::connect(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  ~TConnection() { ::close(FSocket); }
  void Send(const std::string& text) {
    (void)!::send(FSocket, text.data(), text.size(), MSG_NOSIGNAL);
  }
  // More bytes into Received; false when the server closed or the wait ran out.
  bool Receive() {
    char buffer[65536];
    ssize_t got = ::recv(FSocket, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    Received.append(buffer, static_cast<std::size_t>(got));
    return true;
  }
  bool ReceiveUntil(const std::string& mark, std::size_t from = 0) {
    while (Received.find(mark, from) == std::string::npos)
      if (!Receive()) return false;
    return true;
  }
  bool Connected = false;
  std::string Received;

 private:
  int FSocket;
};

struct TAnswer {
  int Status = 0;
  std::map<std::string, std::string> Headers;  // names in lower case
  std::string Body;
};

TAnswer ParseHead(const std::string& text, std::size_t& bodyStart) {
  TAnswer answer;
  bodyStart = text.find("\r\n\r\n");
  if (bodyStart == std::string::npos) return answer;
  std::istringstream head(text.substr(0, bodyStart));
  bodyStart += 4;
  std::string line;
  std::getline(head, line);
  if (line.rfind("HTTP/1.", 0) == 0) answer.Status = std::stoi(line.substr(9, 3));
  while (std::getline(head, line)) {
    auto colon = line.find(':');
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string value = line.substr(colon + 2);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    answer.Headers[name] = value;
  }
  return answer;
}

// One request on a connection of its own, read to its end.
TAnswer Ask(int port, const std::string& method, const std::string& target,
            const std::string& headers = {}) {
  TConnection connection(port);
  std::string host = headers.find("Host:") == std::string::npos ? "Host: localhost\r\n" : "";
  connection.Send(method + " " + target + " HTTP/1.1\r\n" + host + "Connection: close\r\n" +
                  headers + "\r\n");
  while (connection.Receive()) {
  }
  std::size_t body = 0;
  TAnswer answer = ParseHead(connection.Received, body);
  if (answer.Status) answer.Body = connection.Received.substr(body);
  return answer;
}

template <typename TDone>
bool Within(std::chrono::milliseconds time, TDone done) {
  for (auto end = Clock::now() + time; Clock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(50)))
    if (done()) return true;
  return done();
}

std::string State(int port, const std::string& query = {}) {
  return Ask(port, "GET", "/frame.json" + query).Body;
}

// A stream's viewer: the answer's head, then each part's JPEG in turn.
class TStreamViewer {
 public:
  explicit TStreamViewer(int port, const std::string& query = {}) : FConnection(port) {
    FConnection.Send("GET /stream.mjpg" + query + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
    if (FConnection.ReceiveUntil("\r\n\r\n")) Head = ParseHead(FConnection.Received, FAt);
  }
  // The next part's JPEG, "" when none came. The stream is chunked: its chunk lines are
  // taken out before the parts are found.
  std::string NextPart() {
    for (;;) {
      std::string body = Unchunked();
      std::size_t start = body.find("--korbenit-frame\r\n", FTaken);
      std::size_t length =
          start == std::string::npos ? std::string::npos : body.find("Content-Length: ", start);
      std::size_t data = length == std::string::npos ? length : body.find("\r\n\r\n", length);
      if (data != std::string::npos) {
        std::size_t size = std::stoul(body.substr(length + 16));
        if (body.size() >= data + 4 + size) {
          FTaken = data + 4 + size;
          return body.substr(data + 4, size);
        }
      }
      if (!FConnection.Receive()) return {};
    }
  }
  TAnswer Head;

 private:
  std::string Unchunked() const {
    std::string body;
    for (std::size_t at = FAt;;) {
      std::size_t line = FConnection.Received.find("\r\n", at);
      if (line == std::string::npos) break;
      std::size_t size = std::stoul(FConnection.Received.substr(at, line - at), nullptr, 16);
      std::size_t available = std::min(size, FConnection.Received.size() - (line + 2));
      body += FConnection.Received.substr(line + 2, available);
      if (available < size) break;
      at = line + 2 + size + 2;
    }
    return body;
  }
  TConnection FConnection;
  std::size_t FAt = 0, FTaken = 0;
};

TRgbPicture Decoded(const TTempFolder& folder, const std::string& bytes, const std::string& name) {
  std::ofstream(folder / name, std::ios::binary) << bytes;
  return ReadPictureFile(folder / name);
}

// The simulator's still picture as red, green, blue bytes.
std::vector<uint8_t> ModelRgb() {
  TDeviceModel model;
  std::vector<uint8_t> rgb;
  for (int y = 0; y < ScreenHeight; ++y)
    for (int x = 0; x < ScreenWidth; ++x) {
      TColor c = ConvertPixel(model.Pixel(x, y));
      rgb.insert(rgb.end(), {static_cast<uint8_t>(RedOf(c)), static_cast<uint8_t>(GreenOf(c)),
                             static_cast<uint8_t>(BlueOf(c))});
    }
  return rgb;
}

// Who may ask what: every request and the status it gets, on a loopback server open to
// this machine's own names, one asking for a token, and one on every address that made a
// token of its own. Every answer forbids caching and sniffing; a refusal says nothing else.
TEST(StreamServer, EveryRequestGetsTheStatusItsRulesGive) {
  TTempFolder folder;
  TSimulatorProcess first(KORBENIT_SIMULATOR, {}), second(KORBENIT_SIMULATOR, {}),
      third(KORBENIT_SIMULATOR, {});
  TServer open(folder, {"--serve=127.0.0.1:0", "-p", first.Name()}, "open");
  TServer guarded(folder, {"--serve", "127.0.0.1:0", "--token", "s3cret", "-p", second.Name()},
                  "guarded");
  TServer everywhere(folder, {"--serve=0.0.0.0:0", "-p", third.Name()}, "everywhere");
  ASSERT_TRUE(open.Port && guarded.Port && everywhere.Port) << open.Err() << everywhere.Err();
  EXPECT_TRUE(open.Token.empty());
  EXPECT_EQ(guarded.Token, "s3cret");
  EXPECT_EQ(everywhere.Token.size(), 32u) << "a random token, printed at start";
  ASSERT_TRUE(Within(std::chrono::seconds(10),
                     [&] { return State(open.Port).find("\"live\"") != std::string::npos; }));
  struct TRow {
    TServer& Server;
    std::string Method, Target, Headers;
    int Status;
  };
  const std::string bearer = "Authorization: Bearer s3cret\r\n";
  const std::string huge = "X-Padding: " + std::string(40000, 'x') + "\r\n";
  for (const TRow& row : {
           TRow{open, "GET", "/", "", 200},
           TRow{open, "HEAD", "/", "", 200},
           TRow{open, "GET", "/frame.json", "", 200},
           TRow{open, "GET", "/snapshot.png", "", 200},
           TRow{open, "GET", "/snapshot.bmp", "", 200},
           TRow{open, "POST", "/", "Content-Length: 0\r\n", 405},
           TRow{open, "DELETE", "/snapshot.png", "", 405},
           TRow{open, "GET", "/index.html", "", 404},
           TRow{open, "GET", "/../../etc/passwd", "", 404},
           TRow{open, "GET", "/%2e%2e/etc/passwd", "", 404},
           TRow{open, "GET", "/snapshot.png/", "", 404},
           TRow{open, "GET", "/", huge, 431},
           TRow{open, "GET", "/", "Host: 127.0.0.1:8765\r\n", 200},
           TRow{open, "GET", "/", "Host: [::1]:8765\r\n", 200},
           TRow{open, "GET", "/frame.json", "Host: rebound.example:8765\r\n", 403},
           TRow{open, "GET", "/", "Host: 127.0.0.1.rebound.example\r\n", 403},
           TRow{guarded, "GET", "/", "Host: lab.example\r\n" + bearer, 200},
           TRow{guarded, "GET", "/", "", 401},
           TRow{guarded, "GET", "/frame.json", "", 401},
           TRow{guarded, "GET", "/?token=s3cre", "", 401},
           TRow{guarded, "GET", "/?token=s3cret0", "", 401},
           TRow{guarded, "GET", "/nothing", "", 401},
           TRow{guarded, "POST", "/", "Content-Length: 0\r\n", 401},
           TRow{guarded, "GET", "/", "Authorization: Bearer wrong\r\n", 401},
           TRow{guarded, "GET", "/", "Authorization: s3cret\r\n", 401},
           TRow{guarded, "GET", "/?token=s3cret", "", 200},
           TRow{guarded, "GET", "/frame.json?token=s3cret", "", 200},
           TRow{guarded, "GET", "/", bearer, 200},
           TRow{guarded, "GET", "/nothing", bearer, 404},
           TRow{everywhere, "GET", "/", "", 401},
           TRow{everywhere, "GET", "/stream.mjpg", "", 401},
           TRow{everywhere, "GET", "/snapshot.png", "", 401},
           TRow{everywhere, "HEAD", "/frame.json", "", 401},
           TRow{everywhere, "GET", "/?token=", "", 401},
           TRow{everywhere, "GET", "/?token=" + everywhere.Token, "", 200},
       }) {
    SCOPED_TRACE(row.Method + " " + row.Target.substr(0, 40) + " " + row.Headers.substr(0, 30));
    TAnswer answer = Ask(row.Server.Port, row.Method, row.Target, row.Headers);
    EXPECT_EQ(answer.Status, row.Status);
    if (answer.Status == 431) continue;  // the server's own refusal of a request it never read
    EXPECT_EQ(answer.Headers["cache-control"], "no-store");
    EXPECT_EQ(answer.Headers["x-content-type-options"], "nosniff");
    if (row.Status == 401 || row.Status == 403) {
      EXPECT_EQ(answer.Body, "");
    }
    if (row.Method == "HEAD") {
      EXPECT_EQ(answer.Body, "");
    }
  }
  EXPECT_EQ(Ask(open.Port, "POST", "/", "Content-Length: 0\r\n").Headers["allow"], "GET, HEAD");
}

// The snapshots are the device's frame pixel for pixel, under the window's names; sixteen
// viewers at once each get decodable JPEG frames, while the device sees one frame sequence
// at its own pace; the thirty-third viewer is turned away, and a viewer gone makes room.
TEST(StreamServer, SnapshotsAreExactAndOneSessionFeedsEveryViewer) {
  TTempFolder folder;
  TSimulatorProcess still(KORBENIT_SIMULATOR, {});
  std::string log = folder / "device.log";
  TSimulatorProcess moving(KORBENIT_SIMULATOR, {"--moving", "--log", "--delay-us", "900"}, log);
  TServer stillServer(folder, {"--serve=127.0.0.1:0", "-p", still.Name()}, "still");
  TServer server(folder, {"--serve=127.0.0.1:0", "-p", moving.Name()}, "moving");
  ASSERT_TRUE(stillServer.Port && server.Port);
  ASSERT_TRUE(Within(std::chrono::seconds(10), [&] {
    return State(stillServer.Port).find("\"live\"") != std::string::npos;
  }));
  for (const char* type : {"png", "bmp"}) {
    TAnswer snapshot = Ask(stillServer.Port, "GET", std::string("/snapshot.") + type);
    ASSERT_EQ(snapshot.Status, 200);
    EXPECT_EQ(snapshot.Headers["content-type"], std::string("image/") + type);
    EXPECT_TRUE(std::regex_match(
        snapshot.Headers["content-disposition"],
        std::regex(std::string(R"(inline; filename="Korbenit_\d{8}_\d{6}\.)") + type + "\"")))
        << snapshot.Headers["content-disposition"];
    TRgbPicture picture = Decoded(folder, snapshot.Body, std::string("snapshot.") + type);
    EXPECT_EQ(picture.Rgb, ModelRgb()) << type;
  }

  std::vector<std::unique_ptr<TStreamViewer>> viewers;
  for (int i = 0; i < 16; ++i) viewers.push_back(std::make_unique<TStreamViewer>(server.Port));
  std::vector<std::vector<std::string>> parts(viewers.size());
  std::vector<std::thread> readers;
  for (std::size_t i = 0; i < viewers.size(); ++i)
    readers.emplace_back([&, i] {
      for (int n = 0; n < 3; ++n) parts[i].push_back(viewers[i]->NextPart());
    });
  for (auto& reader : readers) reader.join();
  for (std::size_t i = 0; i < viewers.size(); ++i) {
    EXPECT_EQ(viewers[i]->Head.Status, 200);
    EXPECT_EQ(viewers[i]->Head.Headers["content-type"],
              "multipart/x-mixed-replace; boundary=korbenit-frame");
    for (const std::string& jpeg : parts[i]) {
      ASSERT_FALSE(jpeg.empty()) << "viewer " << i;
      TRgbPicture picture = Decoded(folder, jpeg, "part-" + std::to_string(i) + ".jpg");
      EXPECT_EQ(picture.Width, ScreenWidth);
      EXPECT_EQ(picture.Height, ScreenHeight);
    }
    EXPECT_NE(parts[i][0], parts[i][2]) << "the screen moves";
  }
  // The device was asked for as many frames as were served: one session, whatever the
  // number of viewers.
  std::string state = State(server.Port);
  std::smatch served;
  ASSERT_TRUE(std::regex_search(state, served, std::regex(R"("frame":(\d+))")));
  std::ifstream in(log);
  int asked = 0;
  for (std::string line; std::getline(in, line);) asked += line == "B";
  EXPECT_NEAR(asked, std::stoi(served[1]), 2) << state;

  while (viewers.size() < 32) viewers.push_back(std::make_unique<TStreamViewer>(server.Port));
  EXPECT_EQ(viewers.back()->Head.Status, 200);
  EXPECT_EQ(TStreamViewer(server.Port).Head.Status, 503);
  viewers.pop_back();
  EXPECT_TRUE(Within(std::chrono::seconds(2), [&] {
    return TStreamViewer(server.Port).Head.Status == 200;
  })) << "a viewer gone frees its place at once";
}

bool HoldPort(int& held, const std::string& link) {
  held = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  return held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0;
}

// A port held by another program, a device that goes away and comes back, an address in
// use, and the end by a signal within a second, the port set back and closed.
TEST(StreamServer, FaultsAreToldAndTheServerCarriesOn) {
  TTempFolder folder;
  auto device =
      std::make_unique<TSimulatorProcess>(KORBENIT_SIMULATOR, std::vector<std::string>{"--moving"});
  std::string name = device->Name(), link = device->Link();
  int held = -1;
  ASSERT_TRUE(HoldPort(held, link));
  TServer server(folder, {"--serve=127.0.0.1:0", "-p", link});
  ASSERT_TRUE(server.Port) << server.Err();
  EXPECT_TRUE(Within(std::chrono::seconds(5), [&] {
    return State(server.Port).find("busy") != std::string::npos;
  })) << State(server.Port);
  ::close(held);
  ASSERT_TRUE(Within(std::chrono::seconds(10),
                     [&] { return State(server.Port).find("\"live\"") != std::string::npos; }));

  TStreamViewer viewer(server.Port);
  ASSERT_FALSE(viewer.NextPart().empty());
  device.reset();
  EXPECT_TRUE(Within(std::chrono::seconds(10), [&] {
    return State(server.Port).find("\"waiting for the device\"") != std::string::npos;
  })) << State(server.Port);
  EXPECT_FALSE(viewer.NextPart().empty()) << "the last frame goes on being shown";
  EXPECT_EQ(Ask(server.Port, "GET", "/snapshot.png").Status, 200);

  TServer second(folder, {"--serve=127.0.0.1:" + std::to_string(server.Port), "-p", link},
                 "second");
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Err().find("korbenit-capture: 127.0.0.1:" + std::to_string(server.Port) +
                              ": Address already in use"),
            std::string::npos)
      << second.Err();

  auto stopped = Clock::now();
  EXPECT_EQ(server.Stop(SIGTERM), 128 + SIGTERM);
  EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(1));
  EXPECT_EQ(server.Err(), "");
}

// A client that sends half a request loses its connection after the idle time (10 s).
TEST(StreamServer, AClientThatSaysNothingIsLetGo) {
  TTempFolder folder;
  TSimulatorProcess device(KORBENIT_SIMULATOR, {});
  TServer server(folder, {"--serve=127.0.0.1:0", "-p", device.Name()});
  ASSERT_TRUE(server.Port);
  TConnection slow(server.Port);
  slow.Send("GET / HTTP/1.1\r\nHost: loc");
  auto started = Clock::now();
  while (slow.Receive()) {
  }
  auto held = Clock::now() - started;
  EXPECT_GT(held, std::chrono::seconds(5));
  EXPECT_LT(held, std::chrono::seconds(14));
}

// The page in a real browser shows the moving screen: two screenshots a moment apart differ
// where the screen is.
TEST(StreamServer, ThePageShowsTheMovingScreenInChromium) {
  std::string browser;
  for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (::access(candidate, X_OK) == 0) browser = candidate;
  if (browser.empty()) GTEST_SKIP() << "no Chromium here (Debian's package chromium)";
  TTempFolder folder;
  TSimulatorProcess device(KORBENIT_SIMULATOR, {"--moving", "--delay-us", "300"});
  TServer server(folder, {"--serve=127.0.0.1:0", "--token", "t0k", "-p", device.Name()});
  ASSERT_TRUE(server.Port);
  auto shoot = [&](const std::string& name) {
    std::string command = browser +
                          " --headless=new --no-sandbox --disable-gpu --hide-scrollbars"
                          " --user-data-dir=" +
                          (folder / "profile") + " --window-size=600,800 --timeout=2500" +
                          " --screenshot=" + (folder / name) +
                          " 'http://127.0.0.1:" + std::to_string(server.Port) +
                          "/?token=t0k' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? QImage(QString::fromStdString(folder / name))
                                             : QImage();
  };
  // The screen at 2x is 480 x 640, centred below the header; a slow start (a loaded
  // machine, a sanitizer's build) may show it black at first, so it is shot again.
  QRect screen(60, 100, 480, 600);
  auto shown = [&](const QImage& shot) {
    int black = 0;
    for (int y = screen.top(); y < screen.bottom(); y += 4)
      for (int x = screen.left(); x < screen.right(); x += 4) black += qGray(shot.pixel(x, y)) < 8;
    return black < 1000;
  };
  std::vector<QImage> shots;
  for (int attempt = 0; attempt < 6 && shots.size() < 2; ++attempt) {
    QImage shot = shoot("shot-" + std::to_string(attempt) + ".png");
    if (shot.isNull() && attempt == 0) GTEST_SKIP() << "Chromium did not start here";
    if (!shot.isNull() && shown(shot)) shots.push_back(shot);
  }
  ASSERT_EQ(shots.size(), 2u) << "the page showed the screen in two screenshots";
  int changed = 0;
  for (int y = screen.top(); y < screen.bottom(); y += 4)
    for (int x = screen.left(); x < screen.right(); x += 4)
      changed += shots[0].pixel(x, y) != shots[1].pixel(x, y);
  EXPECT_GT(changed, 100) << "the picture changed between the two screenshots";
}

}  // namespace
}  // namespace korbenit
