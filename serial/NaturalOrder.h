#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korbenit {

// Natural order of two 8-bit texts: digit runs compare by value (COM2 before COM10),
// white space is skipped, and letters compare upper-cased unless caseSensitive.
// Returns -1, 0 or +1.
int NaturalCompare(std::string_view a, std::string_view b, bool caseSensitive);

// A text list and the signature of its custom sort callback.
using TStringList = std::vector<std::string>;
using TStringListSortCompare = int (*)(const TStringList& list, int index1, int index2);

// The port list's sort callback: NaturalCompare of two entries, ignoring case.
int NaturalSortCompare(const TStringList& list, int index1, int index2);

// Sorts a text list with a custom callback; entries that compare equal keep no defined
// relative order.
void CustomSort(TStringList& list, TStringListSortCompare compare);

}  // namespace korbenit
