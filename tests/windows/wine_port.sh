# Shared by the checks under Wine that need the device: sourced. Starts the simulator of
# the Linux build $host and maps its pseudo-terminal as COM12 (a number above 9 on
# purpose: only \\.\COM12 opens it), restarting Wine's server, which reads its port
# mapping when it starts. wine_port_cleanup undoes both.
wine_port_simulator=
wine_port_name=wine-port-$$
wine_port_cleanup() {
  [ -n "$wine_port_simulator" ] && kill "$wine_port_simulator" 2>/dev/null
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM12 /f >/dev/null 2>&1 || true
}
wine_port_start() {
  local out
  out=$(mktemp)
  "$host/tools/simulator/korbenit-sim" --name "$wine_port_name" >"$out" &
  wine_port_simulator=$!
  for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
  local pty
  pty=$(sed -n 's/.*terminal=\([^ ]*\).*/\1/p' "$out")
  rm -f "$out"
  [ -n "$pty" ] || { echo "the simulator did not start" >&2; return 1; }
  wine reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$pty" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  # Started here, so that what it prints when it ends goes nowhere.
  wineserver -p5 </dev/null >/dev/null 2>&1
}
