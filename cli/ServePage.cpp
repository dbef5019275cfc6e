#include <chrono>
#include <cstdio>

#include "StreamServer.h"

namespace korbenit {
namespace {

std::string JsonText(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\', quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      quoted += escaped;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + '"';
}

// UTC, to the millisecond: "2026-12-09T22:15:00.123Z".
std::string IsoTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  auto day = floor<days>(time);
  year_month_day date(day);
  hh_mm_ss clock(floor<milliseconds>(time - day));
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                int(clock.minutes().count()), int(clock.seconds().count()),
                int(clock.subseconds().count()));
  return text;
}

}  // namespace

std::string StateJson(const TScreenState& state) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.2f", state.FramesPerSecond);
  return "{\"frame\":" + std::to_string(state.Frame) +
         ",\"time\":" + (state.Frame ? JsonText(IsoTime(state.Time)) : std::string("null")) +
         ",\"fps\":" + rate +
         ",\"state\":" + JsonText(state.Live ? "live" : "waiting for the device") +
         ",\"failure\":" + JsonText(state.Failure) + ",\"hint\":" + JsonText(state.Hint) + "}\n";
}

const char* const ServedPage = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Korbenit screen</title>
<style>
  body { margin: 0; font: 14px/1.4 sans-serif; background: #202124; color: #e8eaed; }
  header { display: flex; flex-wrap: wrap; gap: 12px; align-items: center; padding: 8px 12px;
           background: #303134; }
  header h1 { font-size: 15px; margin: 0 8px 0 0; }
  #state { font-weight: bold; }
  #state.live { color: #81c995; }
  #state.waiting { color: #fdd663; }
  #hint { flex-basis: 100%; color: #bdc1c6; }
  #hint:empty { display: none; }
  main { display: flex; justify-content: center; padding: 16px; }
  #frame { background: #000; width: 480px; height: 640px; }
  #screen { image-rendering: pixelated; image-rendering: crisp-edges; width: 100%;
            height: 100%; display: block; visibility: hidden; }
  #screen.shown { visibility: visible; }
  a, button, select { color: inherit; font: inherit; }
  button, select { background: #3c4043; border: 1px solid #5f6368; border-radius: 4px;
                   padding: 2px 10px; }
</style>
</head>
<body>
<header>
  <h1>Korbenit screen</h1>
  <label>Zoom <select id="zoom">
    <option value="1">1x</option><option value="2" selected>2x</option>
    <option value="3">3x</option><option value="4">4x</option>
  </select></label>
  <button id="snapshot" type="button">Snapshot</button>
  <a id="record" href="stream.mjpg">MJPEG stream (record it in OBS or VLC)</a>
  <span id="state" class="waiting">waiting for the device</span>
  <span id="rate"></span>
  <span id="hint"></span>
</header>
<main><div id="frame"><img id="screen" alt="" aria-label="the device's screen"></div></main>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("token");
const withToken = (path) => token ? path + "?token=" + encodeURIComponent(token) : path;
const frame = document.getElementById("frame");
const screen = document.getElementById("screen");
const zoom = document.getElementById("zoom");
const stateText = document.getElementById("state");
const rate = document.getElementById("rate");
const hint = document.getElementById("hint");
document.getElementById("record").href = withToken("stream.mjpg");

function applyZoom() {
  frame.style.width = 240 * zoom.value + "px";
  frame.style.height = 320 * zoom.value + "px";
  try { localStorage.setItem("zoom", zoom.value); } catch (e) {}
}
try { zoom.value = localStorage.getItem("zoom") || "2"; } catch (e) {}
zoom.addEventListener("change", applyZoom);
applyZoom();

// A stream that broke (the server restarted, the network dropped) is opened again; the
// picture shows from its first frame on, never as a broken picture.
function openStream() {
  screen.src = withToken("stream.mjpg") + (token ? "&" : "?") + "t=" + Date.now();
}
screen.addEventListener("load", () => screen.classList.add("shown"));
screen.addEventListener("error", () => {
  screen.classList.remove("shown");
  setTimeout(openStream, 2000);
});
openStream();

document.getElementById("snapshot").addEventListener("click", () => {
  const link = document.createElement("a");
  link.href = withToken("snapshot.png");
  link.download = "";
  document.body.appendChild(link);
  link.click();
  link.remove();
});

async function showState() {
  try {
    const answer = await fetch(withToken("frame.json"), { cache: "no-store" });
    const state = await answer.json();
    const live = state.state === "live";
    stateText.className = live ? "live" : "waiting";
    stateText.textContent = live ? "live" : state.state + (state.failure ? ": " + state.failure : "");
    rate.textContent = live ? state.fps.toFixed(1) + " frames/s, frame " + state.frame : "";
    hint.textContent = live ? "" : state.hint;
  } catch (e) {
    stateText.className = "waiting";
    stateText.textContent = "the server does not answer";
    rate.textContent = "";
    hint.textContent = "";
  }
}
setInterval(showState, 1000);
showState();
</script>
</body>
</html>
)";

}  // namespace korbenit
