#include "recovery-core/source/read_validation.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kestrel::testing {
namespace {

constexpr std::uint64_t kMiB = 1048576;

struct ReadCase {
  const char* name;
  std::uint64_t max_request;
  bool aligned;
  std::uint64_t capacity;
  std::uint32_t sector;
  std::uint64_t offset;
  std::uint64_t length;
  const char* error;  // nullptr: the request passes
};

TEST(ValidateRead, FirstFailingCheckDecides) {
  const ReadCase cases[] = {
      {"whole request at the maximum", kMiB, true, 8 * kMiB, 512, 0, kMiB, nullptr},
      {"one sector over the maximum", kMiB, true, 8 * kMiB, 512, 0, kMiB + 512,
       "read request is too large: 1049088 > 1048576"},
      {"two MiB against one", kMiB, true, 8 * kMiB, 512, 0, 2 * kMiB,
       "read request is too large: 2097152 > 1048576"},
      {"zero length at the capacity", kMiB, true, 4096, 512, 4096, 0, nullptr},
      {"one sector past the capacity", kMiB, true, 4096, 512, 4608, 0,
       "read range exceeds source: offset=4608 length=0 capacity=4096"},
      {"ends exactly at the capacity", kMiB, true, 4096, 512, 3584, 512, nullptr},
      {"ends past the capacity", kMiB, true, 4096, 512, 3584, 1024,
       "read range exceeds source: offset=3584 length=1024 capacity=4096"},
      {"end overflows", kMiB, true, UINT64_MAX, 512, UINT64_MAX - 511, 1024, "read range overflow"},
      {"offset not aligned to 4096", kMiB, true, 8 * kMiB, 4096, 512, 4096,
       "read offset is not aligned: offset=512 sector=4096"},
      {"length not aligned to 4096", kMiB, true, 8 * kMiB, 4096, 4096, 512,
       "read length is not aligned: length=512 sector=4096"},
      {"offset is checked before length", kMiB, true, 8 * kMiB, 512, 513, 100,
       "read offset is not aligned: offset=513 sector=512"},
      {"alignment off lets odd requests through", kMiB, false, 8 * kMiB, 512, 513, 100, nullptr},
      {"zero sector size first", kMiB, true, 0, 0, 0, 2 * kMiB,
       "logical sector size must be greater than zero"},
      {"zero capacity before size", kMiB, true, 0, 512, 0, 2 * kMiB,
       "device capacity must be greater than zero"},
      {"size before range", kMiB, true, 4096, 512, 0, 2 * kMiB,
       "read request is too large: 2097152 > 1048576"},
      {"range before alignment", kMiB, true, 4096, 512, 4097, 1,
       "read range exceeds source: offset=4097 length=1 capacity=4096"},
      {"final partial sector unreadable by length", kMiB, true, 4000, 512, 3584, 416,
       "read length is not aligned: length=416 sector=512"},
      {"final partial sector unreadable by range", kMiB, true, 4000, 512, 3584, 512,
       "read range exceeds source: offset=3584 length=512 capacity=4000"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto range = validate_read(c.max_request, c.aligned, c.capacity, c.sector, c.offset, c.length);
    if (c.error == nullptr) {
      ASSERT_TRUE(range) << range.error().message();
      EXPECT_EQ(*range, (ReadRange{c.offset, c.length, c.offset + c.length}));
    } else {
      ASSERT_FALSE(range);
      EXPECT_EQ(range.error().message(), c.error);
    }
  }
}

}  // namespace
}  // namespace kestrel::testing
