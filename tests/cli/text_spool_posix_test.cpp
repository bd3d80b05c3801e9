// Text held back in a spool comes back whole and in order, also past what fits in memory;
// a spool that cannot make its temporary file says so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli/text_spool.hpp"

namespace kestrel::testing {
namespace {

std::string spooled(const std::string& text, std::size_t piece) {
  TextSpool spool;
  for (std::size_t at = 0; at < text.size(); at += piece)
    spool.write(std::string_view(text).substr(at, piece));
  std::string back;
  EXPECT_TRUE(spool.replay([&](std::string_view part) { back.append(part); }));
  return back;
}

TEST(TextSpool, GivesBackWhatItWasGiven) {
  std::string text;
  for (int i = 0; text.size() < 3 * 1024 * 1024 + 17; ++i)
    text += "line " + std::to_string(i) + "\n";
  EXPECT_EQ(spooled("short", 2), "short");
  EXPECT_EQ(spooled(text, 4093), text);
  EXPECT_EQ(spooled(text, 1024 * 1024), text);
}

TEST(TextSpool, NoTemporaryFileIsAFailure) {
  const char* saved = std::getenv("TMPDIR");
  const std::string previous = saved != nullptr ? saved : "";
  ::setenv("TMPDIR", "/nonexistent/kestrel-spool", 1);
  TextSpool spool;
  spool.write(std::string(2 * 1024 * 1024, 'x'));
  if (saved != nullptr)
    ::setenv("TMPDIR", previous.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_TRUE(spool.failed());
  EXPECT_FALSE(spool.replay([](std::string_view) {}));
}

}  // namespace
}  // namespace kestrel::testing
