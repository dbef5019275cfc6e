// Animation encoding benchmark: the moving test screen and a noisy frame of 65536
// colours through the GIF and WebP writers. Prints key=value lines: the cost of a frame,
// the size of 100 frames of the moving screen, and RSS growth over a long recording; and
// what comparing one frame with a reference costs (masked, with fuzz: the slow way).
//   korbenit-encode-bench [--frames N]      (default 1000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "AnimationFile.h"
#include "DeviceModel.h"
#include "Measure.h"
#include "ScreenCheck.h"
#include "ScreenProtocol.h"

namespace {

using namespace korbenit;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> MovingRgb(int n) {
  std::vector<uint16_t> screen = TDeviceModel::MovingScreen(n);
  std::vector<uint8_t> rgb;
  for (uint16_t word : screen) {
    TColor c = ConvertPixel(word);
    rgb.insert(rgb.end(), {RedOf(c), GreenOf(c), BlueOf(c)});
  }
  return rgb;
}

std::vector<uint8_t> NoisyRgb(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> rgb(3 * ScreenWidth * ScreenHeight);
  for (std::size_t i = 0; i < rgb.size() / 3; ++i) {
    auto colour = static_cast<uint16_t>(random());  // of all 65536 colours
    TColor c = ConvertPixel(colour);
    rgb[3 * i] = RedOf(c), rgb[3 * i + 1] = GreenOf(c), rgb[3 * i + 2] = BlueOf(c);
  }
  return rgb;
}

struct TResult {
  double MsPerFrame;
  long Bytes;
};

TResult Encode(TAnimationFormat format, const std::vector<std::vector<uint8_t>>& frames,
               int count) {
  std::string path = "/tmp/korbenit-encode-bench-" + std::to_string(::getpid()) +
                     (format == TAnimationFormat::Gif ? ".gif" : ".webp");
  auto file = CreateAnimationFile(path, format, ScreenWidth, ScreenHeight);
  auto start = Clock::now();
  for (int i = 0; i < count; ++i)
    file->AddFrame(frames[static_cast<std::size_t>(i) % frames.size()], 300);
  file->Finish();
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  std::ifstream written(path, std::ios::ate | std::ios::binary);
  long bytes = static_cast<long>(written.tellg());
  std::remove(path.c_str());
  return {ms / count, bytes};
}

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 2 && std::string(argv[1]) == "--frames" ? std::stoi(argv[2]) : 1000;
  std::vector<std::vector<uint8_t>> moving;
  for (int n = 1; n <= 100; ++n) moving.push_back(MovingRgb(n));
  std::vector<std::vector<uint8_t>> noisy = {NoisyRgb(1), NoisyRgb(2)};
  for (auto [format, name] :
       {std::pair{TAnimationFormat::Gif, "gif"}, {TAnimationFormat::WebP, "webp"}}) {
    TResult hundred = Encode(format, moving, 100);
    TResult noise = Encode(format, noisy, 10);
    double before = RssMegabytes();
    Encode(format, moving, frames);
    double growth = RssMegabytes() - before;
    std::printf("%s_ms_per_moving_frame=%.1f\n%s_bytes_100_moving_frames=%ld\n", name,
                hundred.MsPerFrame, name, hundred.Bytes);
    std::printf("%s_ms_per_noisy_frame=%.1f\n%s_rss_growth_mb_%d_frames=%.1f\n", name,
                noise.MsPerFrame, name, frames, growth);
  }
  korbenit::TFrame a, b;
  auto first = korbenit::TDeviceModel::MovingScreen(1),
       second = korbenit::TDeviceModel::MovingScreen(2);
  std::copy(first.begin(), first.end(), a.Pixels.begin());
  std::copy(second.begin(), second.end(), b.Pixels.begin());
  korbenit::TCompareRules rules{{{0, 0, 240, 40}, {100, 300, 20, 20}}, 8, 0};
  int differing = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) differing += korbenit::CompareScreens(a, b, rules).Pixels;
  std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  std::printf("compare_us_per_frame=%.1f\ncompare_differing_pixels=%d\n", spent.count() / 1000,
              differing / 1000);
  return 0;
}
