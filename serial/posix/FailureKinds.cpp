// The failure kinds of the serial link's errno values.
#include <cerrno>

#include "../SerialError.h"
#include "../SerialPlatform.h"

namespace korbenit {

TFailureKind SerialFailureKind(int errorCode, int systemErrorCode) {
  if (errorCode == serial_error::OpenFailed) switch (systemErrorCode) {
      case EACCES:
      case EPERM:
        return TFailureKind::Permission;
      case EBUSY:
        return TFailureKind::Busy;
      case ENOENT:
      case ENXIO:
      case ENODEV:
        return TFailureKind::Missing;
      case ENOTTY:
      case EISDIR:
        return TFailureKind::NotSerialPort;
      default:
        return TFailureKind::Other;
    }
  if (errorCode == serial_error::RegistryError) return TFailureKind::PortListUnreadable;
  bool transfer = errorCode == serial_error::ReadFailed || errorCode == serial_error::WriteFailed;
  if (transfer && (systemErrorCode == EIO || systemErrorCode == ENXIO || systemErrorCode == ENODEV))
    return TFailureKind::DeviceLost;
  return TFailureKind::Other;
}

}  // namespace korbenit
