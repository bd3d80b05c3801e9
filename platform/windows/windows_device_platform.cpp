#include "platform/windows/windows_device_platform.hpp"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "os/os_error.hpp"
#include "recovery-core/bytes/little_endian.hpp"
#include "os/scoped_handle_win32.hpp"
#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/text/wide_text.hpp"

namespace kestrel {

namespace {

constexpr DWORD kDeviceShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// GetVolumePathNameW's buffer: MAX_PATH + 1 units.
constexpr DWORD kVolumePathUnits = 261;
// Room for the disk extents of a volume that spans disks.
constexpr std::size_t kMaxExtents = 32;

HANDLE native(DeviceHandle handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle.value));
}

PlatformError last_error() { return PlatformError{static_cast<std::uint32_t>(::GetLastError())}; }

// The disks of a volume opened for queries by its path: its device number,
// or the disks of its extents when it spans several (such a volume has no
// single device number).
std::expected<std::vector<std::uint32_t>, PlatformError> disks_of_volume(const std::wstring& volume) {
  const ScopedHandle handle(::CreateFileW(volume.c_str(), 0, kDeviceShare, nullptr, OPEN_EXISTING, 0, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) return std::unexpected(last_error());

  std::array<std::uint8_t, 12> number{};
  DWORD returned = 0;
  if (::DeviceIoControl(handle.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number.data(),
                        static_cast<DWORD>(number.size()), &returned, nullptr) &&
      returned >= number.size()) {
    const std::uint32_t device = read_u32_le(number, 4).value_or(0xFFFF'FFFFu);
    if (device != 0xFFFF'FFFFu) return std::vector<std::uint32_t>{device};
  }
  const PlatformError number_error = last_error();

  // VOLUME_DISK_EXTENTS: a u32 count, then 24-byte extents whose first u32 is the disk number.
  std::vector<std::uint8_t> extents(8 + 24 * kMaxExtents);
  if (!::DeviceIoControl(handle.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents.data(),
                         static_cast<DWORD>(extents.size()), &returned, nullptr)) {
    return std::unexpected(number_error.code != 0 ? number_error : last_error());
  }
  const std::uint32_t count = read_u32_le(extents, 0).value_or(0);
  std::vector<std::uint32_t> disks;
  for (std::uint32_t i = 0; i < count && i < kMaxExtents; ++i) {
    const auto disk = read_u32_le(extents, 8 + 24 * static_cast<std::size_t>(i));
    if (disk && std::ranges::find(disks, *disk) == disks.end()) disks.push_back(*disk);
  }
  if (disks.empty()) return std::unexpected(PlatformError{ERROR_INVALID_DATA});
  return disks;
}

bool is_drive_root(std::wstring_view path) {
  return path.size() == 3 && path[1] == L':' && path[2] == L'\\' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// Copies UTF-16 units into a span of char16_t.
void copy_units(const std::wstring& from, std::span<char16_t> to) {
  for (std::size_t i = 0; i < to.size(); ++i) to[i] = i < from.size() ? static_cast<char16_t>(from[i]) : u'\0';
}

}  // namespace

// A page-aligned scratch buffer, grown on demand and kept for later reads.
struct WindowsDevicePlatform::AlignedBuffer {
  void* data = nullptr;
  std::size_t size = 0;

  ~AlignedBuffer() {
    if (data != nullptr) ::VirtualFree(data, 0, MEM_RELEASE);
  }
  bool reserve(std::size_t wanted) {
    if (wanted <= size) return true;
    if (data != nullptr) ::VirtualFree(data, 0, MEM_RELEASE);
    data = ::VirtualAlloc(nullptr, wanted, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    size = data != nullptr ? wanted : 0;
    return data != nullptr;
  }
};

WindowsDevicePlatform::WindowsDevicePlatform() : read_buffer_(std::make_unique<AlignedBuffer>()) {}
WindowsDevicePlatform::~WindowsDevicePlatform() = default;

std::expected<DeviceHandle, PlatformError> WindowsDevicePlatform::open(const DevicePath& path,
                                                                       DeviceAccess access) {
  const std::wstring text = wide_from_utf8(path.text());
  const DWORD rights = access == DeviceAccess::Read ? GENERIC_READ : 0;
  HANDLE handle = ::CreateFileW(text.c_str(), rights, kDeviceShare, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(last_error());
  return DeviceHandle{static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle))};
}

void WindowsDevicePlatform::close(DeviceHandle handle) { ::CloseHandle(native(handle)); }

std::expected<std::uint32_t, PlatformError> WindowsDevicePlatform::control(
    DeviceHandle handle, DeviceControl code, std::span<const std::uint8_t> input,
    std::span<std::uint8_t> output) {
  DWORD returned = 0;
  // DeviceIoControl does not write its input; its signature just lacks const.
  void* in = input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data());
  void* out = output.empty() ? nullptr : output.data();
  if (!::DeviceIoControl(native(handle), static_cast<DWORD>(code), in, static_cast<DWORD>(input.size()),
                         out, static_cast<DWORD>(output.size()), &returned, nullptr)) {
    return std::unexpected(last_error());
  }
  return static_cast<std::uint32_t>(returned);
}

std::expected<std::uint32_t, PlatformError> WindowsDevicePlatform::read_at(DeviceHandle handle,
                                                                           std::uint64_t offset,
                                                                           std::span<std::uint8_t> buffer) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(native(handle), position, nullptr, FILE_BEGIN)) {
    return std::unexpected(last_error());
  }
  const DWORD length = static_cast<DWORD>(buffer.size());
  const bool aligned = reinterpret_cast<std::uintptr_t>(buffer.data()) % 4096 == 0;
  void* target = buffer.data();
  if (!aligned && length > 0) {
    if (!read_buffer_->reserve(length)) return std::unexpected(last_error());
    target = read_buffer_->data;
  }
  DWORD delivered = 0;
  if (!::ReadFile(native(handle), target, length, &delivered, nullptr)) {
    return std::unexpected(last_error());
  }
  if (target != buffer.data()) std::memcpy(buffer.data(), target, delivered);
  return static_cast<std::uint32_t>(delivered);
}

std::uint32_t WindowsDevicePlatform::system_directory(std::span<char16_t> buffer) {
  std::wstring units(buffer.size(), L'\0');
  const UINT result = ::GetSystemWindowsDirectoryW(units.data(), static_cast<UINT>(units.size()));
  if (result > 0 && result < units.size()) {
    copy_units(units.substr(0, result), buffer.first(result));
  }
  return result;
}

std::expected<std::vector<std::uint32_t>, PlatformError> WindowsDevicePlatform::physical_drives_holding(
    const std::filesystem::path& path) {
  std::wstring mount_point(kVolumePathUnits, L'\0');
  if (!::GetVolumePathNameW(path.c_str(), mount_point.data(), kVolumePathUnits)) {
    return std::unexpected(last_error());
  }
  mount_point.resize(std::wcslen(mount_point.c_str()));
  // An extended-length path gets its mount point in the same form.
  if (mount_point.starts_with(L"\\\\?\\") && is_drive_root(std::wstring_view(mount_point).substr(4))) {
    mount_point.erase(0, 4);
  }
  // A network share lies on no disk of this machine.
  if (::GetDriveTypeW(mount_point.c_str()) == DRIVE_REMOTE) return std::vector<std::uint32_t>{};
  if (is_drive_root(mount_point)) {
    return disks_of_volume(L"\\\\.\\" + mount_point.substr(0, 2));
  }
  // A volume mounted in a folder (or named by its GUID path).
  std::wstring volume(50, L'\0');
  if (!::GetVolumeNameForVolumeMountPointW(mount_point.c_str(), volume.data(),
                                           static_cast<DWORD>(volume.size()))) {
    return std::unexpected(last_error());
  }
  volume.resize(std::wcslen(volume.c_str()));
  if (!volume.empty() && volume.back() == L'\\') volume.pop_back();  // the volume itself, not its root
  return disks_of_volume(volume);
}

std::expected<std::uint32_t, PlatformError> WindowsDevicePlatform::logical_drives() {
  const DWORD mask = ::GetLogicalDrives();
  if (mask == 0) return std::unexpected(last_error());
  return static_cast<std::uint32_t>(mask);
}

bool WindowsDevicePlatform::volume_information(char letter, std::span<char16_t> label,
                                               std::span<char16_t> file_system) {
  const wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
  std::wstring label_units(label.size(), L'\0');
  std::wstring file_system_units(file_system.size(), L'\0');
  if (!::GetVolumeInformationW(root, label_units.data(), static_cast<DWORD>(label_units.size()), nullptr,
                               nullptr, nullptr, file_system_units.data(),
                               static_cast<DWORD>(file_system_units.size()))) {
    return false;
  }
  copy_units(label_units, label);
  copy_units(file_system_units, file_system);
  return true;
}

std::expected<std::uint64_t, PlatformError> WindowsDevicePlatform::available_space(
    const std::filesystem::path& directory) {
  std::wstring mount_point(kVolumePathUnits, L'\0');
  if (!::GetVolumePathNameW(directory.c_str(), mount_point.data(), kVolumePathUnits)) {
    return std::unexpected(last_error());
  }
  DWORD sectors_per_cluster = 0;
  DWORD bytes_per_sector = 0;
  DWORD free_clusters = 0;
  DWORD total_clusters = 0;
  if (!::GetDiskFreeSpaceW(mount_point.c_str(), &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                           &total_clusters)) {
    return std::unexpected(last_error());
  }
  // Three 32-bit factors can exceed 64 bits only in theory; such a volume has room.
  const std::uint64_t cluster = std::uint64_t{sectors_per_cluster} * bytes_per_sector;
  if (cluster != 0 && free_clusters > UINT64_MAX / cluster) return UINT64_MAX;
  return cluster * free_clusters;
}

SourceError WindowsDevicePlatform::source_error(PlatformError error) const {
  return source_error_from_os(error.code, os_message(static_cast<int>(error.code)));
}

std::string WindowsDevicePlatform::error_text(PlatformError error) const {
  return os_error_text(static_cast<int>(error.code));
}

}  // namespace kestrel
