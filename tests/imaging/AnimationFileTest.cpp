#include "AnimationFile.h"

#include <gif_lib.h>
#include <webp/demux.h>
#include <webp/mux.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <random>

#include "RuntimeErrors.h"
#include "TempFolder.h"

namespace korbenit {
namespace {

using testing::TTempFolder;

constexpr int Width = 240, Height = 320;

using TRgb = std::vector<uint8_t>;

// A user interface's kind of frame: 16 colours in bands that move with n.
TRgb BandFrame(int n) {
  TRgb rgb(3 * Width * Height);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      int band = ((y + 7 * n) / 20) % 16;
      uint8_t* pixel = &rgb[3 * static_cast<std::size_t>(y * Width + x)];
      pixel[0] = static_cast<uint8_t>(band * 16), pixel[1] = static_cast<uint8_t>(255 - band * 16);
      pixel[2] = static_cast<uint8_t>(x < 120 ? 40 : 200);
    }
  return rgb;
}

// A frame of 65536 colours: noise in every channel.
TRgb NoisyFrame() {
  std::mt19937 random(7);
  TRgb rgb(3 * Width * Height);
  for (auto& byte : rgb) byte = static_cast<uint8_t>(random());
  return rgb;
}

struct TDecoded {
  std::vector<TRgb> Frames;
  std::vector<int> DelaysMs;
  bool LoopsForever = false;
};

// giflib's decoder, each frame drawn over the one before as a viewer does.
TDecoded DecodeGif(const std::string& path) {
  TDecoded decoded;
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
  if (!gif || DGifSlurp(gif) != GIF_OK) return decoded;
  TRgb canvas(3 * Width * Height, 0);
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& image = gif->SavedImages[i];
    GraphicsControlBlock control{};
    DGifSavedExtensionToGCB(gif, i, &control);
    for (int e = 0; e < image.ExtensionBlockCount; ++e) {
      const ExtensionBlock& block = image.ExtensionBlocks[e];
      if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
          std::string(reinterpret_cast<char*>(block.Bytes), 11) == "NETSCAPE2.0")
        decoded.LoopsForever = true;
    }
    const ColorMapObject* map =
        image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    for (int y = 0; y < image.ImageDesc.Height; ++y)
      for (int x = 0; x < image.ImageDesc.Width; ++x) {
        int index = image.RasterBits[y * image.ImageDesc.Width + x];
        if (index == control.TransparentColor) continue;
        auto at = 3 * static_cast<std::size_t>((image.ImageDesc.Top + y) * Width +
                                               image.ImageDesc.Left + x);
        canvas[at] = map->Colors[index].Red, canvas[at + 1] = map->Colors[index].Green;
        canvas[at + 2] = map->Colors[index].Blue;
      }
    decoded.Frames.push_back(canvas);
    decoded.DelaysMs.push_back(control.DelayTime * 10);
  }
  DGifCloseFile(gif, &error);
  return decoded;
}

// libwebp's animation decoder gives each frame whole, with its end time.
TDecoded DecodeWebP(const std::string& path) {
  TDecoded decoded;
  std::string bytes = testing::ReadBytes(path);
  WebPData data{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
  WebPAnimDecoderOptions options;
  WebPAnimDecoderOptionsInit(&options);
  options.color_mode = MODE_RGBA;
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  if (!decoder) return decoded;
  WebPAnimInfo info;
  WebPAnimDecoderGetInfo(decoder, &info);
  decoded.LoopsForever = info.loop_count == 0;
  int before = 0;
  while (WebPAnimDecoderHasMoreFrames(decoder)) {
    uint8_t* rgba = nullptr;
    int end = 0;
    WebPAnimDecoderGetNext(decoder, &rgba, &end);
    TRgb rgb(3 * Width * Height);
    for (std::size_t i = 0; i < rgb.size() / 3; ++i)
      for (int c = 0; c < 3; ++c)
        rgb[3 * i + static_cast<std::size_t>(c)] = rgba[4 * i + static_cast<std::size_t>(c)];
    decoded.Frames.push_back(rgb);
    decoded.DelaysMs.push_back(end - before);
    before = end;
  }
  WebPAnimDecoderDelete(decoder);
  return decoded;
}

double MeanError(const TRgb& a, const TRgb& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int{a[i]} - int{b[i]});
  return sum / static_cast<double>(a.size());
}

// A sequence of frames with how long each is shown.
struct TSequence {
  const char* Name;
  std::vector<TRgb> Frames;
  std::vector<int> DurationsMs;
};

std::vector<TSequence> Sequences() {
  TSequence moving{
      "moving", {}, {303, 297, 311, 289, 305, 301, 333, 280, 299, 307, 302, 298, 315, 123}};
  for (int n = 0; n < 12; ++n) moving.Frames.push_back(BandFrame(n));
  moving.Frames.push_back(NoisyFrame());
  moving.Frames.push_back(BandFrame(12));
  TSequence still{"a screen that stands still", std::vector<TRgb>(27, BandFrame(3)),
                  std::vector<int>(27, 300)};
  TSequence twoScreens{"ten of one screen, then ten of another", {}, std::vector<int>(20, 300)};
  for (int n = 0; n < 20; ++n) twoScreens.Frames.push_back(BandFrame(n < 10 ? 1 : 2));
  return {moving, still, twoScreens};
}

// Every frame back as it went in, for as long as it went in (GIF frames of 256 colours or
// fewer, every WebP frame; the noisy one close), however the encoder merged frames that
// repeat: the picture shown in the middle of each frame's time is that frame, and the
// delays add up to the sequence's length. Both loop forever, and libwebp's own tools
// take the WebP (its header says what its frames hold).
TEST(AnimationFile, WhatIsWrittenDecodesBack) {
  struct TRow {
    TAnimationFormat Format;
    const char* Name;
    double NoisyError;
  };
  for (const TSequence& sequence : Sequences())
    for (const TRow& row : {TRow{TAnimationFormat::Gif, "clip.gif", 20},
                            TRow{TAnimationFormat::WebP, "clip.webp", 0}}) {
      SCOPED_TRACE(std::string(sequence.Name) + ", " + row.Name);
      TTempFolder folder;
      auto file = CreateAnimationFile(folder / row.Name, row.Format, Width, Height);
      for (std::size_t i = 0; i < sequence.Frames.size(); ++i)
        file->AddFrame(sequence.Frames[i], sequence.DurationsMs[i]);
      EXPECT_EQ(folder.EntryCount(), testing::UnnamedTemporaries ? 0u : 1u)
          << "nothing under the name before the end";
      EXPECT_FALSE(std::filesystem::exists(folder / row.Name));
      file->Finish();
      bool gif = row.Format == TAnimationFormat::Gif;
      TDecoded decoded = gif ? DecodeGif(folder / row.Name) : DecodeWebP(folder / row.Name);
      ASSERT_FALSE(decoded.Frames.empty());
      int at = 0;
      for (std::size_t i = 0; i < sequence.Frames.size(); ++i) {
        int middle = at + sequence.DurationsMs[i] / 2, shown = 0, ends = 0;
        while (shown + 1 < static_cast<int>(decoded.Frames.size()) &&
               ends + decoded.DelaysMs[static_cast<std::size_t>(shown)] <= middle)
          ends += decoded.DelaysMs[static_cast<std::size_t>(shown++)];
        const TRgb& picture = decoded.Frames[static_cast<std::size_t>(shown)];
        if (sequence.Frames[i] == NoisyFrame())
          EXPECT_LE(MeanError(picture, sequence.Frames[i]), row.NoisyError);
        else
          EXPECT_TRUE(picture == sequence.Frames[i]) << "frame " << i;
        at += sequence.DurationsMs[i];
      }
      int sum = 0;
      for (int delay : decoded.DelaysMs) sum += delay;
      EXPECT_LE(std::abs(sum - at), 10) << sum << " ms for " << at;
      EXPECT_TRUE(decoded.LoopsForever);
      EXPECT_EQ(folder.EntryCount(), 1u);
      if (!gif) {
        std::string bytes = testing::ReadBytes(folder / row.Name);
        WebPData data{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
        WebPMux* mux = WebPMuxCreate(&data, 0);
        EXPECT_NE(mux, nullptr) << "libwebp's tools refuse the file";
        WebPMuxDelete(mux);
        // libwebp's own checker, warnings included, where it is installed (package webp).
        if (testing::UnnamedTemporaries && ::access("/usr/bin/webpinfo", X_OK) == 0) {
          EXPECT_EQ(std::system(("/usr/bin/webpinfo -quiet " + (folder / row.Name)).c_str()), 0);
        }
      }
    }
}

// A GIF frame of more than 256 colours (an interface beside a photograph) keeps its black
// and white, and its other frequent colours, exact; the rest comes close.
TEST(AnimationFile, AGifFrameOfManyColoursKeepsItsInterfaceExact) {
  TRgb rgb(3 * Width * Height, 255);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      uint8_t* pixel = &rgb[3 * static_cast<std::size_t>(y * Width + x)];
      if (y % 16 < 2) pixel[0] = pixel[1] = pixel[2] = 0;  // lines of text
      if (y >= 160 && y < 260)  // a photograph's gradient of 24000 colours
        pixel[0] = static_cast<uint8_t>(x), pixel[1] = static_cast<uint8_t>(y - 160 + 60),
        pixel[2] = static_cast<uint8_t>((x + y) / 2);
    }
  TTempFolder folder;
  auto file = CreateAnimationFile(folder / "ui.gif", TAnimationFormat::Gif, Width, Height);
  file->AddFrame(rgb, 500);
  file->Finish();
  TDecoded decoded = DecodeGif(folder / "ui.gif");
  ASSERT_EQ(decoded.Frames.size(), 1u);
  const TRgb& back = decoded.Frames[0];
  int wrongFlat = 0;
  double error = 0;
  int photo = 0;
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    bool flat = (rgb[i] == 0 || rgb[i] == 255) && rgb[i] == rgb[i + 1] && rgb[i] == rgb[i + 2];
    if (flat) {
      wrongFlat += back[i] != rgb[i] || back[i + 1] != rgb[i + 1] || back[i + 2] != rgb[i + 2];
    } else {
      for (std::size_t c = 0; c < 3; ++c) error += std::abs(int{back[i + c]} - int{rgb[i + c]});
      photo += 3;
    }
  }
  EXPECT_EQ(wrongFlat, 0) << "black and white exact";
  EXPECT_LE(error / photo, 6) << "the photograph close";
}

TEST(AnimationFile, AFolderThatCannotHoldItFailsAtOnceAndLeavesNothing) {
  TTempFolder folder;
  testing::WriteBytes(folder / "plain", "x");
  for (auto format : {TAnimationFormat::Gif, TAnimationFormat::WebP})
    EXPECT_THROW(CreateAnimationFile(folder / "plain/clip.gif", format, Width, Height),
                 EFCreateError);
  auto file = CreateAnimationFile(folder / "abandoned.webp", TAnimationFormat::WebP, Width, Height);
  file->AddFrame(BandFrame(0), 300);
  file.reset();  // never finished: nothing stays
  EXPECT_EQ(folder.EntryCount(), 1u);
}

}  // namespace
}  // namespace korbenit
