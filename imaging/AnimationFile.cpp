// Animated GIF through cgif (with giflib's quantizer for frames of many colours) and
// lossless animated WebP through libwebp's WebPAnimEncoder, both streamed into a
// TReplacingFile.
#include "AnimationFile.h"

#include <cgif.h>
#include <gif_lib.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "RuntimeErrors.h"
#include "SafeFile.h"

namespace korbenit {
namespace {

// The frame's colours as palette indexes: exact when there are 256 or fewer.
struct TIndexedFrame {
  std::vector<uint8_t> Palette;  // red, green, blue for each entry
  std::vector<uint8_t> Indexes;
};

bool IndexExactly(const std::vector<uint8_t>& rgb, TIndexedFrame& frame) {
  std::unordered_map<uint32_t, uint8_t> entries;
  frame.Indexes.resize(rgb.size() / 3);
  frame.Palette.clear();
  for (std::size_t i = 0; i < frame.Indexes.size(); ++i) {
    uint32_t colour = uint32_t{rgb[3 * i]} << 16 | uint32_t{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
    auto [entry, added] = entries.try_emplace(colour, static_cast<uint8_t>(entries.size()));
    if (added) {
      if (entries.size() > 256) return false;
      frame.Palette.insert(frame.Palette.end(), {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
    }
    frame.Indexes[i] = entry->second;
  }
  return true;
}

uint32_t ColourAt(const std::vector<uint8_t>& rgb, std::size_t pixel) {
  return uint32_t{rgb[3 * pixel]} << 16 | uint32_t{rgb[3 * pixel + 1]} << 8 | rgb[3 * pixel + 2];
}

// The palette entry nearest to a colour, by the sum of squared channel differences.
uint8_t Nearest(const std::vector<uint32_t>& palette, uint32_t colour) {
  int best = 0;
  int64_t bestDistance = INT64_MAX;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    int64_t distance = 0;
    for (int shift : {16, 8, 0}) {
      int d = int((palette[i] >> shift) & 0xFF) - int((colour >> shift) & 0xFF);
      distance += d * d;
    }
    if (distance < bestDistance) bestDistance = distance, best = static_cast<int>(i);
  }
  return static_cast<uint8_t>(best);
}

// A frame of more than 256 colours: its most frequent colours (black and white among
// them where the frame has them) keep their exact entries, as an interface's flat areas
// and text are most of most frames; giflib's quantizer spends the rest of the palette on
// the picture's other colours, each pixel taking the nearest entry.
constexpr std::size_t ExactEntries = 64;

void Quantize(const std::vector<uint8_t>& rgb, int width, int height, TIndexedFrame& frame) {
  std::size_t pixels = rgb.size() / 3;
  std::unordered_map<uint32_t, uint32_t> counts;
  for (std::size_t i = 0; i < pixels; ++i) ++counts[ColourAt(rgb, i)];
  std::vector<std::pair<uint32_t, uint32_t>> byCount(counts.begin(), counts.end());
  auto keep = [](const auto& entry) { return entry.first == 0 || entry.first == 0xFFFFFF; };
  std::partial_sort(byCount.begin(), byCount.begin() + ExactEntries, byCount.end(),
                    [&](const auto& a, const auto& b) {
                      return std::pair(keep(a), a.second) > std::pair(keep(b), b.second);
                    });
  std::vector<uint32_t> palette;
  for (std::size_t i = 0; i < ExactEntries; ++i) palette.push_back(byCount[i].first);
  std::vector<GifByteType> red(pixels), green(pixels), blue(pixels), indexes(pixels);
  for (std::size_t i = 0; i < pixels; ++i)
    red[i] = rgb[3 * i], green[i] = rgb[3 * i + 1], blue[i] = rgb[3 * i + 2];
  int size = static_cast<int>(256 - ExactEntries);
  GifColorType map[256];
  if (GifQuantizeBuffer(static_cast<unsigned>(width), static_cast<unsigned>(height), &size,
                        red.data(), green.data(), blue.data(), indexes.data(), map) != GIF_OK)
    throw EOutOfMemory();
  for (int i = 0; i < size; ++i)
    palette.push_back(uint32_t{map[i].Red} << 16 | uint32_t{map[i].Green} << 8 | map[i].Blue);
  std::unordered_map<uint32_t, uint8_t> chosen;
  for (std::size_t i = 0; i < ExactEntries; ++i) chosen[palette[i]] = static_cast<uint8_t>(i);
  frame.Indexes.resize(pixels);
  for (std::size_t i = 0; i < pixels; ++i) {
    uint32_t colour = ColourAt(rgb, i);
    auto [entry, added] = chosen.try_emplace(colour, 0);
    if (added) entry->second = Nearest(palette, colour);
    frame.Indexes[i] = entry->second;
  }
  frame.Palette.clear();
  for (uint32_t colour : palette)
    frame.Palette.insert(frame.Palette.end(),
                         {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                          static_cast<uint8_t>(colour)});
}

class TGifFile : public TAnimationFile {
 public:
  TGifFile(const std::string& path, int width, int height)
      : FFile(path), FWidth(width), FHeight(height) {
    CGIF_Config config{};
    config.attrFlags = CGIF_ATTR_IS_ANIMATED | CGIF_ATTR_NO_GLOBAL_TABLE;
    config.width = static_cast<uint16_t>(width);
    config.height = static_cast<uint16_t>(height);
    config.numLoops = CGIF_INFINITE_LOOP;
    config.pWriteFn = Write;
    config.pContext = this;
    FGif = cgif_newgif(&config);
    if (!FGif) throw EOutOfMemory();
  }
  ~TGifFile() override {
    if (FGif) cgif_close(FGif);  // the temporary goes with FFile; nothing takes the name
  }

  void AddFrame(const std::vector<uint8_t>& rgb, int durationMs) override {
    TIndexedFrame frame;
    if (!IndexExactly(rgb, frame)) Quantize(rgb, FWidth, FHeight, frame);
    CGIF_FrameConfig config{};
    config.pLocalPalette = frame.Palette.data();
    config.numLocalPaletteEntries = static_cast<uint16_t>(frame.Palette.size() / 3);
    config.pImageData = frame.Indexes.data();
    config.attrFlags = CGIF_FRAME_ATTR_USE_LOCAL_TABLE;
    config.genFlags = CGIF_FRAME_GEN_USE_TRANSPARENCY | CGIF_FRAME_GEN_USE_DIFF_WINDOW;
    config.delay = NextDelay(durationMs);
    if (cgif_addframe(FGif, &config) != CGIF_OK || FFailed) throw EWriteError();
    ++FFrames;
  }

  void Finish() override {
    int result = cgif_close(std::exchange(FGif, nullptr));
    if (result != CGIF_OK || FFailed) throw EWriteError();
    FFile.Commit();
  }

  int Frames() const override { return FFrames; }
  bool ReserveAhead(std::size_t bytes) override { return FFile.ReserveAhead(bytes); }

 private:
  static int Write(void* context, const uint8_t* data, const size_t size) {
    auto* self = static_cast<TGifFile*>(context);
    try {
      self->FFile.Write(data, size);
      return CGIF_OK;
    } catch (...) {
      self->FFailed = true;
      return CGIF_EWRITE;
    }
  }

  // Hundredths of a second, the rounding carried on.
  uint16_t NextDelay(int durationMs) {
    FElapsedMs += std::max(durationMs, 0);
    auto total = static_cast<int64_t>(std::llround(static_cast<double>(FElapsedMs) / 10));
    auto delay = std::clamp<int64_t>(total - FEmittedCs, 1, 65535);
    FEmittedCs += delay;
    return static_cast<uint16_t>(delay);
  }

  TReplacingFile FFile;
  int FWidth, FHeight;
  CGIF* FGif = nullptr;
  int64_t FElapsedMs = 0, FEmittedCs = 0;
  int FFrames = 0;
  bool FFailed = false;
};

// Frames go through WebPAnimEncoder a few at a time, which keeps its savings between
// neighbouring frames while memory stays flat; each batch's frames are copied into the
// file as they are, and the file's RIFF size is filled in at the end.
class TWebPFile : public TAnimationFile {
 public:
  static constexpr int Batch = 8;

  TWebPFile(const std::string& path, int width, int height)
      : FFile(path), FWidth(width), FHeight(height) {
    std::string header = "RIFF";
    header += Le32(0) + "WEBP" +
              Chunk("VP8X", std::string(1, AnimationFlag) + std::string(3, '\0') + Le24(width - 1) +
                                Le24(height - 1));
    header += Chunk("ANIM", Le32(0xFF000000u) + std::string(2, '\0'));
    WriteBytes(header);
    if (!WebPConfigInit(&FConfig) || !WebPConfigLosslessPreset(&FConfig, 0)) throw EOutOfMemory();
  }

  void AddFrame(const std::vector<uint8_t>& rgb, int durationMs) override {
    if (!FEncoder) StartBatch();
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) throw EOutOfMemory();
    picture.use_argb = 1;
    picture.width = FWidth, picture.height = FHeight;
    bool added = WebPPictureImportRGB(&picture, rgb.data(), 3 * FWidth) &&
                 WebPAnimEncoderAdd(FEncoder.get(), &picture, FBatchMs, &FConfig);
    WebPPictureFree(&picture);
    if (!added) throw EOutOfMemory();
    FBatchMs += std::max(durationMs, 1);
    ++FFrames;
    if (++FBatchFrames == Batch) EndBatch();
  }

  void Finish() override {
    if (FEncoder) EndBatch();
    FFile.PatchAt(4, Le32(static_cast<uint32_t>(FWritten - 8)).data(), 4);
    // The encoder leaves unchanged areas of a frame transparent over the one before; the
    // header says so when any frame does.
    char flags = static_cast<char>(AnimationFlag | (FAlpha ? AlphaFlag : 0));
    FFile.PatchAt(VP8XFlagsAt, &flags, 1);
    FFile.Commit();
  }

  int Frames() const override { return FFrames; }
  bool ReserveAhead(std::size_t bytes) override { return FFile.ReserveAhead(bytes); }

 private:
  static constexpr char AnimationFlag = 0x02, AlphaFlag = 0x10;
  static constexpr std::size_t VP8XFlagsAt = 20;

  struct TEncoderDelete {
    void operator()(WebPAnimEncoder* encoder) const { WebPAnimEncoderDelete(encoder); }
  };

  static std::string Le32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
  }
  static std::string Le24(int v) {
    auto u = static_cast<uint32_t>(v);
    return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16)};
  }
  static std::string Chunk(const char* tag, const std::string& payload) {
    std::string chunk = std::string(tag, 4) + Le32(static_cast<uint32_t>(payload.size())) + payload;
    if (payload.size() % 2) chunk += '\0';
    return chunk;
  }

  void WriteBytes(const std::string& bytes) {
    FFile.Write(bytes.data(), bytes.size());
    FWritten += bytes.size();
  }

  void StartBatch() {
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) throw EOutOfMemory();
    options.anim_params.loop_count = 0;
    FEncoder.reset(WebPAnimEncoderNew(FWidth, FHeight, &options));
    if (!FEncoder) throw EOutOfMemory();
    FBatchMs = 0;
    FBatchFrames = 0;
  }

  // The batch's frames, each an ANMF chunk of the file. A batch of one picture shown all
  // along comes out of the encoder as a still image without a duration: it lasts the batch.
  void EndBatch() {
    WebPData data;
    WebPDataInit(&data);
    bool assembled = WebPAnimEncoderAdd(FEncoder.get(), nullptr, FBatchMs, nullptr) &&
                     WebPAnimEncoderAssemble(FEncoder.get(), &data);
    FEncoder.reset();
    if (!assembled) throw EOutOfMemory();
    std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demux(WebPDemux(&data), WebPDemuxDelete);
    WebPIterator frame;
    bool copied = demux && WebPDemuxGetFrame(demux.get(), 1, &frame);
    bool still = copied && !(WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG);
    for (bool more = copied; more; more = WebPDemuxNextFrame(&frame)) {
      int duration = still ? FBatchMs : frame.duration;
      FAlpha |= frame.has_alpha != 0;
      std::string header = Le24(frame.x_offset / 2) + Le24(frame.y_offset / 2) +
                           Le24(frame.width - 1) + Le24(frame.height - 1) + Le24(duration);
      header += static_cast<char>((frame.blend_method == WEBP_MUX_NO_BLEND ? 0x02 : 0) |
                                  (frame.dispose_method == WEBP_MUX_DISPOSE_BACKGROUND ? 0x01 : 0));
      WriteBytes(
          Chunk("ANMF", header + std::string(reinterpret_cast<const char*>(frame.fragment.bytes),
                                             frame.fragment.size)));
    }
    if (copied) WebPDemuxReleaseIterator(&frame);
    WebPDataClear(&data);
    if (!copied) throw EOutOfMemory();
  }

  TReplacingFile FFile;
  int FWidth, FHeight;
  WebPConfig FConfig;
  std::unique_ptr<WebPAnimEncoder, TEncoderDelete> FEncoder;
  int FBatchMs = 0, FBatchFrames = 0, FFrames = 0;
  bool FAlpha = false;
  std::size_t FWritten = 0;
};

}  // namespace

std::unique_ptr<TAnimationFile> CreateAnimationFile(const std::string& path,
                                                    TAnimationFormat format, int width,
                                                    int height) {
  if (format == TAnimationFormat::Gif) return std::make_unique<TGifFile>(path, width, height);
  return std::make_unique<TWebPFile>(path, width, height);
}

}  // namespace korbenit
