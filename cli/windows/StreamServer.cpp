#include "StreamServer.h"

namespace korbenit {

// The server needs libmicrohttpd, which the Windows build does not carry yet.
int ServeScreen(const TCaptureOptions&, TCaptureSession& session) {
  session.Err << "korbenit-capture: --serve: not in the Windows build; serve from Linux\n";
  return 2;
}

}  // namespace korbenit
