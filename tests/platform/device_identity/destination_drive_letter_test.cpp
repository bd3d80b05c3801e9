// Which drive letter an image destination names, read from Windows path text
// (plain text logic, so it runs on every system).
#include "platform/device_identity/destination_drive_letter.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kestrel::testing {
namespace {

TEST(DestinationDriveLetter, LettersAlsoBehindExtendedLengthAndDevicePrefixes) {
  struct Case {
    std::string path;
    std::optional<char32_t> letter;
  };
  const Case cases[] = {
      {"F:\\images\\card.img", U'F'},
      {"f:/images/card.img", U'f'},
      {"F:card.img", U'F'},
      {"\\\\?\\F:\\images\\card.img", U'F'},  // the form the tool prints for resolved directories
      {"\\\\?\\f:\\card.img", U'f'},
      {"\\\\.\\F:\\card.img", U'F'},
      {"//?/F:/card.img", U'F'},
      {"\\\\?\\UNC\\server\\share\\card.img", std::nullopt},
      {"\\\\server\\share\\card.img", std::nullopt},
      {"\\\\?\\Volume{0b8c7e64-1d2f-4c3a-9e51-2f1a7c3d9b10}\\card.img", std::nullopt},
      {"\\\\.\\PhysicalDrive1", std::nullopt},
      {"\\images\\card.img", std::nullopt},
      {"/home/user/card.img", std::nullopt},
      {"1:\\card.img", U'1'},              // judged later: "drive letter must be ASCII alphabetic"
      {"\xC3\x89:\\card.img", U'\u00C9'},  // so is a non-ASCII letter, one character of two bytes
      {"F", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(destination_drive_letter(c.path), c.letter) << c.path;
}

}  // namespace
}  // namespace kestrel::testing
