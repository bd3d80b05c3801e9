#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Every fixed text the front end prints of its own: the usage block and the
// messages a run can end with. Callers compare these texts byte for byte, so
// a change here is a change of the protocol. Messages that embed a value are
// functions, so each whole message stays readable here in one piece.
namespace kestrel::cli_messages {

inline constexpr std::string_view kUsageBlock =
    "usage:\n"
    "kestrel-recovery-cli devices\n"
    "kestrel-recovery-cli scan --image <path> [--sector-size 512]\n"
    "kestrel-recovery-cli recover --image <path> --id <candidate> --output <path>\n"
    "kestrel-recovery-cli recover-all --image <path> --output-directory <path> "
    "[--name-prefix <prefix>]\n"
    "kestrel-recovery-cli image (--physical-drive <N> | --volume <LETTER>) --output <path> "
    "[--no-resume]";

// Reading the arguments (each returned with the usage block after it).
inline constexpr std::string_view kMissingCommand = "missing command";
inline constexpr std::string_view kUnknownCommand = "unknown command";
inline std::string unknown_argument(std::string_view argument) {
  return "unknown argument: " + std::string(argument);
}
// `option` is the option as typed, with its leading dashes.
inline std::string option_requires_value(std::string_view option) {
  return std::string(option) + " requires a value";
}
inline std::string invalid_option_value(std::string_view option, std::string_view reason) {
  return "invalid " + std::string(option) + ": " + std::string(reason);
}
inline constexpr std::string_view kImageRequired = "--image is required";
inline constexpr std::string_view kIdRequired = "--id is required";
inline constexpr std::string_view kOutputRequired = "--output is required";
inline constexpr std::string_view kOutputDirectoryRequired = "--output-directory is required";
inline constexpr std::string_view kImageSourceRequired = "--physical-drive or --volume is required";
inline constexpr std::string_view kImageSourcesExclusive =
    "--physical-drive and --volume are mutually exclusive";

// Why a number or a drive letter value was refused.
inline constexpr std::string_view kEmptyNumber = "cannot parse integer from empty string";
inline constexpr std::string_view kInvalidDigit = "invalid digit found in string";
inline constexpr std::string_view kNumberTooLarge = "number too large to fit in target type";
inline constexpr std::string_view kNoDriveLetter = "expected a drive letter";
inline constexpr std::string_view kNotOneDriveLetter = "expected a single ASCII drive letter";

// Arguments the Windows command line could not give as text.
inline std::string command_line_unreadable(std::string_view system_text) {
  return "cannot read the command line: " + std::string(system_text);
}
inline std::string argument_not_unicode(std::string_view argument) {
  return "argument is not valid Unicode text: " + std::string(argument);
}

// Inspecting an image (scan, recover, recover-all).
inline constexpr std::string_view kBadSectorSize =
    "--sector-size must be a power of two and at least 512";
inline std::string image_not_inspectable(std::string_view image, std::string_view system_text) {
  return "cannot inspect image " + std::string(image) + ": " + std::string(system_text);
}

// Recovering candidates.
inline std::string candidate_not_found(std::string_view id) {
  return "candidate not found: " + std::string(id);
}
inline constexpr std::string_view kNoCandidateMatched =
    "no recovery candidates matched the requested filter";
inline std::string batch_failures(std::uint64_t failed) {
  return "batch recovery completed with " + std::to_string(failed) + " failures";
}
inline std::string output_directory_not_created(std::string_view directory,
                                                std::string_view system_text) {
  return "cannot create output directory " + std::string(directory) + ": " +
         std::string(system_text);
}
inline constexpr std::string_view kOutputWithoutFileName = "output must include a file name";
inline constexpr std::string_view kOutputIsImage = "source and output paths must be different";
inline constexpr std::string_view kNoFreeOutputName =
    "cannot create a non-overwriting output file name";
// Recreating a candidate's folder (recover-all --all-directories): the item fails.
inline std::string output_folder_not_created(std::string_view folder,
                                             std::string_view system_text) {
  return "cannot create output folder " + std::string(folder) + ": " + std::string(system_text);
}
inline constexpr std::string_view kNoFreeFolderName =
    "cannot create a non-overwriting output folder name";

// Listing the devices: the listing fails as a whole when the drive letters
// cannot be read.
inline std::string drive_letters_unreadable(std::string_view system_text) {
  return "Windows 드라이브 목록을 읽지 못했습니다: " + std::string(system_text);
}

// Imaging a device.
inline constexpr std::string_view kDestinationOnSourceDisk =
    "image destination is on the source physical disk";
inline std::string insufficient_space(std::uint64_t available, std::uint64_t required) {
  return "insufficient destination space: available=" + std::to_string(available) +
         " required=" + std::to_string(required);
}

// Delivering the result.
inline std::string result_not_written(std::string_view system_text) {
  return "cannot write the result to standard output: " + std::string(system_text);
}
// The result is held back in a temporary file until the command may print it.
inline std::string result_not_held(std::string_view system_text) {
  return "cannot hold the result until it is complete: " + std::string(system_text);
}
// A recovered file that could not take its candidate's dates (--timestamps):
// a note of the file's item (Korean, like every note the user reads), not a
// failure; the system's reason follows.
inline std::string times_not_set_note(std::string_view reason) {
  return "복구한 파일에 후보의 날짜를 설정하지 못해 복구한 시각이 그대로 남았습니다: " +
         std::string(reason);
}

// Why a write failed when the C library knows no reason (Windows only).
inline constexpr std::string_view kStreamWriteFailed = "stream write failed";

}  // namespace kestrel::cli_messages
