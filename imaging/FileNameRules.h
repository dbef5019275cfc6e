#pragma once

#include <string>

namespace korbenit {

// The save dialog's rules for names, the same in every window.

// The extension of a "|"-separated filter's index-th type (from 1), with its point:
// ".bmp" for "Bitmap (*.bmp)|*.bmp|...". A pattern that is no plain extension (wildcards,
// longer than a point and three characters) gives defaultExt with a point, or nothing.
std::string FilterExtensionOf(const std::string& filter, int index, const std::string& defaultExt);

// The name with its extension replaced: the text from the last "." of its last path
// component on; a name without one gets the extension appended, and an empty extension
// removes the old one.
std::string ReplaceExtension(const std::string& name, const std::string& extension);

}  // namespace korbenit
