#include "NaturalOrder.h"

#include <algorithm>
#include <numeric>

#include "AsciiCase.h"

namespace korbenit {
namespace {

// A text as the comparison reads it: past its end, or from its first NUL on, every
// position holds the character 0.
class TText {
 public:
  explicit TText(std::string_view text) : FText(text.substr(0, text.find('\0'))) {}
  unsigned char At(std::size_t i) const {
    return i < FText.size() ? static_cast<unsigned char>(FText[i]) : 0;
  }

 private:
  std::string_view FText;
};

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsSpace(unsigned char c) { return c >= 1 && c <= 32; }

// Runs of equal length compare by their first differing digit; a shorter run is less.
int CompareRight(const TText& a, std::size_t i, const TText& b, std::size_t j) {
  int result = 0;
  for (;; ++i, ++j) {
    unsigned char x = a.At(i), y = b.At(j);
    if (!IsDigit(x) && !IsDigit(y)) return result;
    if (!IsDigit(x)) return -1;
    if (!IsDigit(y)) return +1;
    if (result == 0 && x != y) result = x < y ? -1 : +1;
  }
}

// Runs with a leading zero compare like fractional digits.
int CompareLeft(const TText& a, std::size_t i, const TText& b, std::size_t j) {
  for (;; ++i, ++j) {
    unsigned char x = a.At(i), y = b.At(j);
    if (!IsDigit(x) && !IsDigit(y)) return 0;
    if (!IsDigit(x)) return -1;
    if (!IsDigit(y)) return +1;
    if (x != y) return x < y ? -1 : +1;
  }
}

}  // namespace

int NaturalCompare(std::string_view textA, std::string_view textB, bool caseSensitive) {
  TText a(textA), b(textB);
  std::size_t i = 0, j = 0;
  for (;; ++i, ++j) {
    unsigned char ca = a.At(i), cb = b.At(j);
    while (IsSpace(ca)) ca = a.At(++i);
    while (IsSpace(cb)) cb = b.At(++j);
    if (IsDigit(ca) && IsDigit(cb)) {
      int result = (ca == '0' || cb == '0') ? CompareLeft(a, i, b, j) : CompareRight(a, i, b, j);
      if (result != 0) return result;
    }
    if (ca == 0 && cb == 0) return 0;
    if (!caseSensitive) {
      ca = static_cast<unsigned char>(AsciiUpper(static_cast<char>(ca)));
      cb = static_cast<unsigned char>(AsciiUpper(static_cast<char>(cb)));
    }
    if (ca != cb) return ca < cb ? -1 : +1;
  }
}

int NaturalSortCompare(const TStringList& list, int index1, int index2) {
  return NaturalCompare(list[static_cast<std::size_t>(index1)],
                        list[static_cast<std::size_t>(index2)], false);
}

void CustomSort(TStringList& list, TStringListSortCompare compare) {
  std::vector<int> order(list.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](int left, int right) { return compare(list, left, right) < 0; });
  TStringList sorted;
  sorted.reserve(list.size());
  for (int index : order) sorted.push_back(std::move(list[static_cast<std::size_t>(index)]));
  list = std::move(sorted);
}

}  // namespace korbenit
