// Linux: window classes are X11's WM_CLASS, asked through the connection Qt holds; under
// another window system (Wayland, offscreen) no window has a class. Folders are judged
// by their owners.
#include "../Platform.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace korbenit {
namespace {

template <typename T>
using TReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  TReply<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(
          c, xcb_intern_atom(c, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
      std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The root's children, and the clients a window manager lists (it keeps them in frames).
std::vector<xcb_window_t> TopLevelWindows(xcb_connection_t* c, xcb_window_t root) {
  std::vector<xcb_window_t> windows;
  TReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr),
                                      std::free);
  if (tree) {
    xcb_window_t* children = xcb_query_tree_children(tree.get());
    windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
  }
  xcb_atom_t clientList = Atom(c, "_NET_CLIENT_LIST");
  TReply<xcb_get_property_reply_t> clients(
      xcb_get_property_reply(c, xcb_get_property(c, 0, root, clientList, XCB_ATOM_WINDOW, 0, 4096),
                             nullptr),
      std::free);
  if (clients && clientList != XCB_ATOM_NONE) {
    auto* ids = static_cast<xcb_window_t*>(xcb_get_property_value(clients.get()));
    int count = xcb_get_property_value_length(clients.get()) / 4;
    windows.insert(windows.end(), ids, ids + count);
  }
  return windows;
}

// WM_CLASS holds the instance name and the class name, each ending in NUL.
bool HasClass(xcb_connection_t* c, xcb_window_t window, const std::string& className) {
  TReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(
          c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr),
      std::free);
  if (!reply) return false;
  std::string value(static_cast<const char*>(xcb_get_property_value(reply.get())),
                    static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  auto instanceEnd = value.find('\0');
  if (instanceEnd == std::string::npos) return false;
  std::string name = value.substr(instanceEnd + 1);
  return name.substr(0, name.find('\0')) == className;
}

}  // namespace

bool TopLevelWindowOfClassExists(const std::string& className) {
  if (!qGuiApp || QGuiApplication::platformName() != QStringLiteral("xcb")) return false;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c) return false;
  for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(c)); screens.rem;
       xcb_screen_next(&screens))
    for (xcb_window_t window : TopLevelWindows(c, screens.data->root))
      if (HasClass(c, window, className)) return true;
  return false;
}

// Debian's fonts-wine ships free faces with the metrics of MS Sans Serif and Tahoma
// outside fontconfig's folders; Liberation Mono has those of Courier New. The MS Sans
// Serif there holds bitmap strikes only (13, 16 and 20 pixels), which cannot grow with a
// scaled screen: above a scale of 1 its texts take Tahoma, an outline face that fits the
// same boxes.
void LoadInterfaceFonts() {
  const QString folder = QStringLiteral("/usr/share/wine/fonts/");
  QScreen* screen = QGuiApplication::primaryScreen();
  bool scaled = qGuiApp->devicePixelRatio() > 1.0 || (screen && screen->logicalDotsPerInch() > 96.5);
  if (!scaled) QFontDatabase::addApplicationFont(folder + QStringLiteral("ms_sans_serif.ttf"));
  for (const char* file : {"tahoma.ttf", "tahomabd.ttf"})
    QFontDatabase::addApplicationFont(folder + QString::fromLatin1(file));
  if (scaled) QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Tahoma"));
  if (!QFontDatabase::hasFamily(QStringLiteral("Courier New")))
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}

bool IsPortableCopyFolder(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || info.st_uid != ::geteuid() ||
      ::access(folder.c_str(), W_OK) != 0)
    return false;
  if (::geteuid() != 0) return true;
  for (const char* system : {"/usr/", "/opt/", "/bin/", "/sbin/", "/lib", "/snap/", "/app/"})
    if ((folder + "/").rfind(system, 0) == 0) return false;
  return true;
}

bool IsOwnFolderOrMissing(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  return (S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode)) && info.st_uid == ::geteuid();
}

int64_t ThisProcessId() {
  return ::getpid();
}

bool ProcessRuns(int64_t id) {
  return id > 0 && (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM);
}

const char* ExecutableSuffix() {
  return "";
}

}  // namespace korbenit
