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
    std::optional<char> letter;
  };
  const Case cases[] = {
      {"F:\\images\\card.img", 'F'},
      {"f:/images/card.img", 'f'},
      {"F:card.img", 'F'},
      {"\\\\?\\F:\\images\\card.img", 'F'},  // the form the tool prints for resolved directories
      {"\\\\?\\f:\\card.img", 'f'},
      {"\\\\.\\F:\\card.img", 'F'},
      {"//?/F:/card.img", 'F'},
      {"\\\\?\\UNC\\server\\share\\card.img", std::nullopt},
      {"\\\\server\\share\\card.img", std::nullopt},
      {"\\\\?\\Volume{0b8c7e64-1d2f-4c3a-9e51-2f1a7c3d9b10}\\card.img", std::nullopt},
      {"\\\\.\\PhysicalDrive1", std::nullopt},
      {"\\images\\card.img", std::nullopt},
      {"/home/user/card.img", std::nullopt},
      {"1:\\card.img", '1'},  // judged later: "drive letter must be ASCII alphabetic"
      {"F", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(destination_drive_letter(c.path), c.letter) << c.path;
}

}  // namespace
}  // namespace kestrel::testing
