#include "platform/windows/windows_device_platform.hpp"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "os/os_error.hpp"
#include "os/scoped_handle_win32.hpp"
#include "platform/windows/ioctl/storage_ioctl.hpp"
#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/text/wide_text.hpp"

namespace kestrel {

namespace {

constexpr DWORD kDeviceShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// GetVolumePathNameW's buffer: MAX_PATH + 1 units.
constexpr DWORD kVolumePathUnits = 261;
// GetVolumeInformationW's buffers.
constexpr DWORD kLabelUnits = 261;
constexpr DWORD kFileSystemUnits = 64;
// GetSystemWindowsDirectoryW's buffer; an answer that does not fit is no answer.
constexpr UINT kSystemDirectoryUnits = 32768;
// Room for the disk extents of a volume that spans disks.
constexpr std::size_t kMaxExtents = 32;

HANDLE native(DeviceHandle handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle.value));
}

// The failure of the device call that just failed.
SourceError device_failure() {
  const DWORD code = ::GetLastError();
  return source_error_from_os(code, os_message(static_cast<int>(code)));
}

// The failure of an operating-system service with this code.
SourceError service_failure(DWORD code) { return io_error_from_os_code(static_cast<int>(code)); }

IoctlCall ioctl_on(HANDLE handle) {
  return [handle](IoctlCode code, std::span<const std::uint8_t> input,
                  std::span<std::uint8_t> output) -> std::expected<std::uint32_t, SourceError> {
    DWORD returned = 0;
    // DeviceIoControl does not write its input; its signature just lacks const.
    void* in = input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data());
    void* out = output.empty() ? nullptr : output.data();
    if (!::DeviceIoControl(handle, static_cast<DWORD>(code), in, static_cast<DWORD>(input.size()),
                           out, static_cast<DWORD>(output.size()), &returned, nullptr)) {
      return std::unexpected(device_failure());
    }
    return static_cast<std::uint32_t>(returned);
  };
}

// The disks of a volume spanning several, from its extents: a u32 count, then
// 24-byte extents whose first u32 is the disk number.
std::expected<std::vector<std::uint32_t>, DWORD> disks_of_extents(HANDLE volume) {
  std::vector<std::uint8_t> extents(8 + 24 * kMaxExtents);
  DWORD returned = 0;
  if (!::DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents.data(),
                         static_cast<DWORD>(extents.size()), &returned, nullptr)) {
    return std::unexpected(::GetLastError());
  }
  const std::uint32_t count = read_u32_le(extents, 0).value_or(0);
  std::vector<std::uint32_t> disks;
  for (std::uint32_t i = 0; i < count && i < kMaxExtents; ++i) {
    const auto disk = read_u32_le(extents, 8 + 24 * static_cast<std::size_t>(i));
    if (disk && std::ranges::find(disks, *disk) == disks.end()) disks.push_back(*disk);
  }
  if (disks.empty()) return std::unexpected(static_cast<DWORD>(ERROR_INVALID_DATA));
  return disks;
}

// The disks of a volume opened for queries by its path: its device number,
// or the disks of its extents when it has none (a volume spanning disks).
std::expected<std::vector<std::uint32_t>, SourceError> disks_of_volume(const std::wstring& volume) {
  const ScopedHandle handle(
      ::CreateFileW(volume.c_str(), 0, kDeviceShare, nullptr, OPEN_EXISTING, 0, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE)
    return std::unexpected(service_failure(::GetLastError()));
  std::array<std::uint8_t, storage_layout::kDeviceNumberSize> number{};
  DWORD returned = 0;
  if (::DeviceIoControl(handle.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number.data(),
                        static_cast<DWORD>(number.size()), &returned, nullptr) &&
      returned >= number.size()) {
    const std::uint32_t device = read_u32_le(number, storage_layout::kDeviceNumberField)
                                     .value_or(storage_layout::kDeviceNumberUnavailable);
    if (device != storage_layout::kDeviceNumberUnavailable)
      return std::vector<std::uint32_t>{device};
  }
  const DWORD number_error = ::GetLastError();
  auto disks = disks_of_extents(handle.get());
  if (!disks)
    return std::unexpected(service_failure(number_error != 0 ? number_error : disks.error()));
  return *disks;
}

bool is_drive_root(std::wstring_view path) {
  return path.size() == 3 && path[1] == L':' && path[2] == L'\\' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// The text of a NUL-terminated UTF-16 buffer (the whole buffer without one).
std::string buffer_text(const std::wstring& units) {
  return utf8_from_wide_lossy(
      std::wstring_view(units.c_str(), std::min(units.size(), std::wcslen(units.c_str()))));
}

// The mount point of the volume holding a path, as GetVolumePathNameW gives it.
std::expected<std::wstring, SourceError> volume_mount_point(const std::filesystem::path& path) {
  std::wstring mount_point(kVolumePathUnits, L'\0');
  if (!::GetVolumePathNameW(path.c_str(), mount_point.data(), kVolumePathUnits)) {
    return std::unexpected(service_failure(::GetLastError()));
  }
  mount_point.resize(std::wcslen(mount_point.c_str()));
  return mount_point;
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

std::expected<DeviceHandle, SourceError> WindowsDevicePlatform::open(const DevicePath& path,
                                                                     DeviceAccess access) {
  const std::wstring text = wide_from_utf8(path.text());
  const DWORD rights = access == DeviceAccess::Read ? GENERIC_READ : 0;
  HANDLE handle =
      ::CreateFileW(text.c_str(), rights, kDeviceShare, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(device_failure());
  return DeviceHandle{static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle))};
}

void WindowsDevicePlatform::close(DeviceHandle handle) { ::CloseHandle(native(handle)); }

std::expected<std::uint64_t, SourceError> WindowsDevicePlatform::length(DeviceHandle handle) {
  return ioctl_length(ioctl_on(native(handle)));
}

std::optional<AlignmentAnswer> WindowsDevicePlatform::access_alignment(DeviceHandle handle) {
  return ioctl_access_alignment(ioctl_on(native(handle)));
}

std::expected<std::uint32_t, SourceError> WindowsDevicePlatform::geometry_sector_size(
    DeviceHandle handle) {
  return ioctl_geometry_sector_size(ioctl_on(native(handle)));
}

std::expected<StorageDescriptor, SourceError> WindowsDevicePlatform::storage_descriptor(
    DeviceHandle handle) {
  return ioctl_storage_descriptor(ioctl_on(native(handle)));
}

std::expected<std::uint32_t, SourceError> WindowsDevicePlatform::device_number(
    DeviceHandle handle) {
  return ioctl_device_number(ioctl_on(native(handle)));
}

std::expected<std::uint32_t, SourceError> WindowsDevicePlatform::read_at(
    DeviceHandle handle, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(native(handle), position, nullptr, FILE_BEGIN)) {
    return std::unexpected(device_failure());
  }
  const DWORD length = static_cast<DWORD>(buffer.size());
  const bool aligned = reinterpret_cast<std::uintptr_t>(buffer.data()) % 4096 == 0;
  void* target = buffer.data();
  if (!aligned && length > 0) {
    if (!read_buffer_->reserve(length)) return std::unexpected(device_failure());
    target = read_buffer_->data;
  }
  DWORD delivered = 0;
  if (!::ReadFile(native(handle), target, length, &delivered, nullptr)) {
    return std::unexpected(device_failure());
  }
  if (target != buffer.data()) std::memcpy(buffer.data(), target, delivered);
  return static_cast<std::uint32_t>(delivered);
}

std::optional<std::string> WindowsDevicePlatform::system_directory() {
  std::wstring units(kSystemDirectoryUnits, L'\0');
  const UINT result = ::GetSystemWindowsDirectoryW(units.data(), kSystemDirectoryUnits);
  if (result == 0 || result >= kSystemDirectoryUnits) return std::nullopt;
  return utf8_from_wide_lossy(std::wstring_view(units).substr(0, result));
}

std::expected<std::vector<std::uint32_t>, SourceError>
WindowsDevicePlatform::physical_drives_holding(const std::filesystem::path& path) {
  KESTREL_TRY_ASSIGN(mount_point, volume_mount_point(path));
  // An extended-length path gets its mount point in the same form.
  if (mount_point->starts_with(L"\\\\?\\") &&
      is_drive_root(std::wstring_view(*mount_point).substr(4))) {
    mount_point->erase(0, 4);
  }
  // A network share lies on no disk of this machine.
  if (::GetDriveTypeW(mount_point->c_str()) == DRIVE_REMOTE) return std::vector<std::uint32_t>{};
  if (is_drive_root(*mount_point)) return disks_of_volume(L"\\\\.\\" + mount_point->substr(0, 2));
  // A volume mounted in a folder (or named by its GUID path).
  std::wstring volume(50, L'\0');
  if (!::GetVolumeNameForVolumeMountPointW(mount_point->c_str(), volume.data(),
                                           static_cast<DWORD>(volume.size()))) {
    return std::unexpected(service_failure(::GetLastError()));
  }
  volume.resize(std::wcslen(volume.c_str()));
  if (!volume.empty() && volume.back() == L'\\')
    volume.pop_back();  // the volume itself, not its root
  return disks_of_volume(volume);
}

std::expected<std::uint32_t, SourceError> WindowsDevicePlatform::logical_drives() {
  const DWORD mask = ::GetLogicalDrives();
  if (mask == 0) return std::unexpected(service_failure(::GetLastError()));
  return static_cast<std::uint32_t>(mask);
}

std::optional<VolumeInformation> WindowsDevicePlatform::volume_information(char letter) {
  const wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
  std::wstring label(kLabelUnits, L'\0');
  std::wstring file_system(kFileSystemUnits, L'\0');
  if (!::GetVolumeInformationW(root, label.data(), kLabelUnits, nullptr, nullptr, nullptr,
                               file_system.data(), kFileSystemUnits)) {
    return std::nullopt;
  }
  return VolumeInformation{buffer_text(label), buffer_text(file_system)};
}

std::expected<std::uint64_t, SourceError> WindowsDevicePlatform::available_space(
    const std::filesystem::path& directory) {
  KESTREL_TRY_ASSIGN(mount_point, volume_mount_point(directory));
  DWORD sectors_per_cluster = 0;
  DWORD bytes_per_sector = 0;
  DWORD free_clusters = 0;
  DWORD total_clusters = 0;
  if (!::GetDiskFreeSpaceW(mount_point->c_str(), &sectors_per_cluster, &bytes_per_sector,
                           &free_clusters, &total_clusters)) {
    return std::unexpected(service_failure(::GetLastError()));
  }
  // Three 32-bit factors can exceed 64 bits only in theory; such a volume has room.
  const std::uint64_t cluster = std::uint64_t{sectors_per_cluster} * bytes_per_sector;
  if (cluster != 0 && free_clusters > UINT64_MAX / cluster) return UINT64_MAX;
  return cluster * free_clusters;
}

}  // namespace kestrel
