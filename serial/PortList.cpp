#include "PortList.h"

namespace korbenit {

TStringList ListPortsInNaturalOrder(const TPortListSources& sources) {
  TStringList ports;
  ListSerialPorts(ports, sources);
  CustomSort(ports, NaturalSortCompare);
  return ports;
}

}  // namespace korbenit
