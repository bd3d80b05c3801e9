#include "cli/render_error.hpp"

#include "cli/cli_messages.hpp"

namespace kestrel {

namespace {

namespace messages = cli_messages;
using Failure = CommandError;

std::string_view refusal_text(ValueRefusal reason) {
  switch (reason) {
    case ValueRefusal::EmptyNumber:
      return messages::kEmptyNumber;
    case ValueRefusal::InvalidDigit:
      return messages::kInvalidDigit;
    case ValueRefusal::NumberTooLarge:
      return messages::kNumberTooLarge;
    case ValueRefusal::NoDriveLetter:
      return messages::kNoDriveLetter;
    case ValueRefusal::NotOneDriveLetter:
      return messages::kNotOneDriveLetter;
  }
  return messages::kInvalidDigit;
}

std::string_view missing_option_text(MissingOption option) {
  switch (option) {
    case MissingOption::Image:
      return messages::kImageRequired;
    case MissingOption::Id:
      return messages::kIdRequired;
    case MissingOption::Output:
      return messages::kOutputRequired;
    case MissingOption::OutputDirectory:
      return messages::kOutputDirectoryRequired;
    case MissingOption::ImageSource:
      return messages::kImageSourceRequired;
  }
  return messages::kImageSourceRequired;
}

// The message of each argument error, before the usage block.
using Arg = ArgumentError;
std::string message_of(const Arg::MissingCommand&) {
  return std::string(messages::kMissingCommand);
}
std::string message_of(const Arg::UnknownCommand&) {
  return std::string(messages::kUnknownCommand);
}
std::string message_of(const Arg::UnknownArgument& e) {
  return messages::unknown_argument(e.argument);
}
std::string message_of(const Arg::OptionRequiresValue& e) {
  return messages::option_requires_value(e.option);
}
std::string message_of(const Arg::InvalidOptionValue& e) {
  return messages::invalid_option_value(e.option, refusal_text(e.reason));
}
std::string message_of(const Arg::OptionMissing& e) {
  return std::string(missing_option_text(e.option));
}
std::string message_of(const Arg::ImageSourcesExclusive&) {
  return std::string(messages::kImageSourcesExclusive);
}
std::string message_of(const Arg::ArgumentNotUnicode& e) {
  return messages::argument_not_unicode(e.argument);
}

// The message of every other failure.
std::string message_of(const RecoveryError& e) { return e.message(); }
std::string message_of(const SourceError& e) { return e.message(); }
std::string message_of(const IoError& e) { return e.message(); }
std::string message_of(const ArgumentError& e) {
  const std::string message =
      std::visit([](const auto& which) { return message_of(which); }, e.what);
  return message + "\n" + std::string(messages::kUsageBlock);
}
std::string message_of(const Failure::BadSectorSize&) {
  return std::string(messages::kBadSectorSize);
}
std::string message_of(const Failure::ImageNotInspectable& e) {
  return messages::image_not_inspectable(e.image, e.failure.message());
}
std::string message_of(const Failure::CandidateNotFound& e) {
  return messages::candidate_not_found(e.id);
}
std::string message_of(const Failure::NoCandidateMatched&) {
  return std::string(messages::kNoCandidateMatched);
}
std::string message_of(const Failure::BatchFailures& e) {
  return messages::batch_failures(e.failed);
}
std::string message_of(const Failure::OutputDirectoryNotCreated& e) {
  return messages::output_directory_not_created(e.directory, e.failure.message());
}
std::string message_of(const Failure::OutputWithoutFileName&) {
  return std::string(messages::kOutputWithoutFileName);
}
std::string message_of(const Failure::OutputIsImage&) {
  return std::string(messages::kOutputIsImage);
}
std::string message_of(const Failure::NoFreeOutputName&) {
  return std::string(messages::kNoFreeOutputName);
}
std::string message_of(const Failure::OutputFolderNotCreated& e) {
  return messages::output_folder_not_created(e.folder, e.failure.message());
}
std::string message_of(const Failure::NoFreeFolderName&) {
  return std::string(messages::kNoFreeFolderName);
}
std::string message_of(const Failure::DriveLettersUnreadable& e) {
  return messages::drive_letters_unreadable(e.failure.message());
}
std::string message_of(const Failure::DestinationOnSourceDisk&) {
  return std::string(messages::kDestinationOnSourceDisk);
}
std::string message_of(const Failure::InsufficientSpace& e) {
  return messages::insufficient_space(e.available, e.required);
}
std::string message_of(const Failure::ResultNotWritten& e) {
  return messages::result_not_written(e.failure.message());
}
std::string message_of(const Failure::ResultNotHeld& e) {
  return messages::result_not_held(e.failure.message());
}
std::string message_of(const Failure::CommandLineUnreadable& e) {
  return messages::command_line_unreadable(e.failure.message());
}

}  // namespace

std::string render_error(const CommandError& error) {
  return std::visit([](const auto& failure) { return message_of(failure); }, error.payload());
}

}  // namespace kestrel
