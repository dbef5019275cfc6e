#include "ProgramPlaces.h"

namespace korbenit {

TProgramPlaces ProgramPlacesFor(const std::string& executableFolder, bool portable,
                                const std::string& settingsFolder,
                                const std::string& picturesFolder, bool ownPicturesFolderUsable,
                                char separator) {
  if (portable) {
    std::string beside = executableFolder + separator;
    return {beside, beside + "BMP", beside};
  }
  std::string pictures =
      picturesFolder + (ownPicturesFolderUsable ? std::string(1, separator) + "Korbenit" : "");
  return {pictures + separator, pictures, settingsFolder + separator};
}

}  // namespace korbenit
