#include "os/sha256.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel::testing {
namespace {

constexpr const char* kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr const char* kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kAb = "fb8e20fc2e4c3f248c60c39bd652f3c1347298bb977b8b4d5903b85055620603";
constexpr const char* kMillionA =
    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

std::string digest_of(std::string_view text) {
  auto hash = Sha256::create();
  EXPECT_TRUE(hash);
  EXPECT_TRUE(hash->update(text));
  return std::move(*hash).finish().value();
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(digest_of(""), kEmpty);
  EXPECT_EQ(digest_of("abc"), kAbc);
  EXPECT_EQ(digest_of(std::string(1000000, 'a')), kMillionA);
  const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};
  EXPECT_EQ(sha256_hex(abc), kAbc);
  EXPECT_EQ(sha256_hex({}), kEmpty);
}

TEST(Sha256, PiecesGiveTheSameDigestAsOneUpdate) {
  auto hash = Sha256::create().value();
  const std::string million(1000000, 'a');
  for (std::size_t done = 0; done < million.size();) {
    const std::size_t piece = std::min<std::size_t>(million.size() - done, 1 + done % 4099);
    ASSERT_TRUE(hash.update(std::string_view(million).substr(done, piece)));
    done += piece;
  }
  EXPECT_EQ(std::move(hash).finish(), kMillionA);
}

TEST(Sha256, DigestOfCopyLeavesTheRunningStateAlone) {
  auto hash = Sha256::create().value();
  EXPECT_EQ(hash.hex_digest_of_copy(), kEmpty);
  ASSERT_TRUE(hash.update("ab"));
  EXPECT_EQ(hash.hex_digest_of_copy(), kAb);
  EXPECT_EQ(hash.hex_digest_of_copy(), kAb);
  ASSERT_TRUE(hash.update("c"));
  EXPECT_EQ(hash.hex_digest_of_copy(), kAbc);
  EXPECT_EQ(std::move(hash).finish(), kAbc);
}

TEST(Sha256, UseAfterFinishIsAnErrorNotACrash) {
  auto hash = Sha256::create().value();
  ASSERT_TRUE(std::move(hash).finish());
  EXPECT_EQ(hash.update("x").error().message(),
            "unsupported: SHA-256 used after finish");  // NOLINT(bugprone-use-after-move)
  EXPECT_FALSE(hash.hex_digest_of_copy());              // NOLINT(bugprone-use-after-move)
}

}  // namespace
}  // namespace kestrel::testing
