// The failure kinds of the serial link's Windows error codes.
#include <windows.h>

#include "../SerialError.h"
#include "../SerialPlatform.h"

namespace korbenit {

TFailureKind SerialFailureKind(int errorCode, int systemErrorCode) {
  if (errorCode == serial_error::RegistryError) return TFailureKind::PortListUnreadable;
  if (errorCode == serial_error::OpenFailed) switch (systemErrorCode) {
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
        // A COM port is opened without sharing: held elsewhere, it is refused this way.
        return TFailureKind::Busy;
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_BAD_UNIT:
      case ERROR_DEV_NOT_EXIST:
        return TFailureKind::Missing;
      case ERROR_INVALID_FUNCTION:
      case ERROR_NOT_SUPPORTED:
      case ERROR_INVALID_NAME:
        return TFailureKind::NotSerialPort;
      default:
        return TFailureKind::Other;
    }
  bool transfer = errorCode == serial_error::ReadFailed || errorCode == serial_error::WriteFailed;
  if (transfer &&
      (systemErrorCode == ERROR_DEVICE_REMOVED || systemErrorCode == ERROR_BAD_COMMAND ||
       systemErrorCode == ERROR_GEN_FAILURE || systemErrorCode == ERROR_ACCESS_DENIED ||
       systemErrorCode == ERROR_DEV_NOT_EXIST))
    return TFailureKind::DeviceLost;
  return TFailureKind::Other;
}

}  // namespace korbenit
