#include "os/device_path_name.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kestrel::testing {
namespace {

TEST(DevicePathName, WindowsNamesThatOpenDevices) {
  struct Case {
    std::string path;
    bool device;
  };
  const Case cases[] = {
      {"\\\\.\\D:", true},
      {"\\\\.\\PhysicalDrive1", true},
      {"//./D:", true},
      {"\\\\.\\C:\\images\\card.img", true},  // the device namespace, even with a file path
      {"\\\\?\\D:", true},
      {"\\\\?\\D:\\", true},
      {"\\\\?\\Volume{0b1c2d3e-0000-0000-0000-100000000000}", true},
      {"\\\\?\\Volume{0b1c2d3e-0000-0000-0000-100000000000}\\", true},
      {"\\\\?\\GLOBALROOT\\Device\\Harddisk1\\Partition1", true},
      {"NUL", true},
      {"nul.img", true},
      {"C:\\images\\con", true},
      {"D:\\COM7.txt", true},
      {"lpt1 .bin", true},
      {"images/AUX", true},
      {"\\\\?\\D:\\card.img", false},
      {"\\\\?\\Volume{0b1c2d3e-0000-0000-0000-100000000000}\\card.img", false},
      {"\\\\?\\UNC\\server\\share\\card.img", false},
      {"\\\\?\\D:\\NUL", false},  // extended-length names are taken literally: a file
      {"\\\\server\\share\\card.img", false},
      {"D:\\card.img", false},
      {"card.img", false},
      {"COM0", false},
      {"COM10", false},
      {"console.img", false},
      {"NULL", false},
      {"nul\\card.img", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(path_names_device(std::string_view(c.path), PathRules::Windows), c.device) << c.path;
  }
}

TEST(DevicePathName, PosixPathsAreJudgedByTheirMetadataInstead) {
  for (std::string_view path : {"/dev/sdc", "NUL", "\\\\.\\D:"}) {
    EXPECT_FALSE(path_names_device(path, PathRules::Posix)) << path;
  }
}

}  // namespace
}  // namespace kestrel::testing
