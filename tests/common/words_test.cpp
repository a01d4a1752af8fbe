#include "common/words.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kelvane::words {
namespace {

// Every length across two words, the byte at every place, beside bytes that differ
// from it only in the high bit (which a carry between bytes would confuse).
TEST(Words, FindAndEqualAgreeWithTheLibraryAtEveryOffset) {
  for (std::size_t size = 0; size <= 20; ++size) {
    for (std::size_t at = 0; at <= size; ++at) {
      std::string text(size, '\xA3');  // '#' with the high bit set
      if (at < size) text[at] = '#';
      const std::string_view view(text);
      EXPECT_EQ(find(view, '#'), view.find('#')) << size << " " << at;
      EXPECT_EQ(find(view, '\n'), std::string_view::npos);

      std::string other = text;
      EXPECT_TRUE(equal(view, other));
      if (at < size) {
        other[at] = '$';
        EXPECT_FALSE(equal(view, other)) << size << " " << at;
      }
      EXPECT_FALSE(equal(view, text + "x"));
    }
  }
}

TEST(Words, BytesEqualMarksExactlyTheMatchingBytes) {
  const std::string text = "a;\xBB;;\x3B\x7B;";  // ';' is 0x3B; 0xBB and 0x7B are near misses
  const std::uint64_t hits = bytesEqual(load64(text.data()), ';');
  std::string marked;
  for (int k = 0; k < 8; ++k) marked += (hits >> (8 * k + 7)) & 1 ? 'x' : '.';
  if (kInReadingOrder) {
    EXPECT_EQ(marked, ".x.xxx.x");
  }
}

}  // namespace
}  // namespace kelvane::words
