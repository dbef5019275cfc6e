#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korbenit {

enum class TAnimationFormat { Gif, WebP };

// An animation written frame by frame as the frames come, through the replacing-file
// rule: nothing stands under the target's name until Finish has written it whole, and
// what is held in memory does not grow with the number of frames.
//   GIF (cgif): a palette of its own for every frame, exact up to 256 colours and reduced
//     by giflib's quantizer beyond; areas unchanged since the frame before are not stored
//     again; it loops endlessly. Delays count hundredths of a second; what rounding cuts
//     from one is carried to the next, so their sum stays within 5 ms of the real length.
//   WebP (libwebp's WebPAnimEncoder): lossless, every pixel exact; it loops endlessly.
class TAnimationFile {
 public:
  virtual ~TAnimationFile() = default;
  // A frame of width x height pixels as red, green, blue bytes, shown for durationMs.
  // Raises EWriteError (or EOutOfMemory) when it cannot be stored.
  virtual void AddFrame(const std::vector<uint8_t>& rgb, int durationMs) = 0;
  // Writes what is still held and takes the target's name; raises EWriteError.
  virtual void Finish() = 0;
  // Whether the disk has room for another bytes bytes, set aside for them: a writer that
  // asks before each frame can always finish the file with the frames it has.
  virtual bool ReserveAhead(std::size_t bytes) = 0;
  virtual int Frames() const = 0;
};

// Raises EFCreateError naming path, before anything is written, when no file can be made.
std::unique_ptr<TAnimationFile> CreateAnimationFile(const std::string& path,
                                                    TAnimationFormat format, int width, int height);

}  // namespace korbenit
