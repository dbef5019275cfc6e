#include "DeviceCapture.h"

#include "SerialPort.h"

namespace korbenit {

TOutcome CaptureFrame(const std::string& port, TStopRequest& stop,
                      const TScreenProtocol::TLineSink& sink, TFailure& failure) {
  TSerialPort serial;
  serial.SetEvents({});
  TDeviceSession device(serial, stop);
  try {
    device.Open(port);
    device.Settle();
    device.FetchFrame(sink);
  } catch (const TFrameStopped&) {
    return TOutcome::Stopped;
  } catch (const std::exception& e) {
    if (stop.Requested()) return TOutcome::Stopped;
    failure = TFailure::Of(e);
    return TOutcome::Failed;
  }
  failure = device.Close();
  return failure.Empty() ? TOutcome::Saved : TOutcome::Failed;
}

}  // namespace korbenit
