#include "PortChoice.h"

#include "RuntimePlatform.h"

namespace korbenit {

int ListPorts(TCaptureSession& session) {
  TStringList ports = ListPortsInNaturalOrder(session.Ports);
  if (ports.empty()) session.Err << "no serial ports found\n";
  for (const auto& port : ports) {
    std::string description = DescribePort(port, session.Ports);
    session.Out << port << (description.empty() ? "" : "\t" + description) << "\n";
  }
  session.Out.flush();
  if (!session.Out) {
    session.Err << "korbenit-capture: standard output: " << SystemErrorText(StreamErrorNumber())
                << "\n";
    return 1;
  }
  return 0;
}

std::string ChoosePort(const TCaptureOptions& options, TCaptureSession& session) {
  if (!options.Port.empty()) return options.Port;
  TStringList candidates;
  for (const auto& port : ListPortsInNaturalOrder(session.Ports))
    if (CanBeTheDevice(port, session.Ports)) candidates.push_back(port);
  if (candidates.size() == 1) return candidates.front();
  if (candidates.empty()) return {};
  std::string names;
  for (const auto& port : candidates) names += (names.empty() ? "" : ", ") + port;
  throw EUsage("several ports are present (" + names + "); choose one with --port NAME");
}

}  // namespace korbenit
