// bulk_copy switches to streaming stores for large copies; every size and alignment must still
// copy exactly the bytes asked for and nothing around them.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bulk_copy.hpp"

namespace dova::package {
namespace {

TEST(BulkCopy, CopiesExactlyTheBytesAtAnyAlignment) {
  constexpr std::size_t limit = STREAMING_COPY_MIN_BYTES;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{63}, limit - 1, limit,
                                 limit + 1, limit + 64 + 15, std::size_t{100'003}}) {
    for (const std::size_t to_offset : {0, 1, 8, 15}) {
      for (const std::size_t from_offset : {0, 3}) {
        SCOPED_TRACE(testing::Message() << "size " << size << ", destination offset " << to_offset
                                        << ", source offset " << from_offset);
        std::vector<std::uint8_t> source(size + from_offset);
        for (std::size_t i = 0; i < source.size(); ++i)
          source[i] = static_cast<std::uint8_t>(i * 31 + 7);
        std::vector<std::uint8_t> destination(size + to_offset + 16, 0xEE);
        bulk_copy(destination.data() + to_offset, source.data() + from_offset, size);

        std::vector<std::uint8_t> expected(destination.size(), 0xEE);
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(from_offset), size,
                    expected.begin() + static_cast<std::ptrdiff_t>(to_offset));
        EXPECT_EQ(destination, expected);
      }
    }
  }
}

}  // namespace
}  // namespace dova::package
