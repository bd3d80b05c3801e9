#pragma once

#include <string>
#include <utility>
#include <variant>

#include "cli/variant_alternative.hpp"

namespace kestrel {

// Why the value of --sector-size, --physical-drive or --volume was refused.
enum class ValueRefusal {
  EmptyNumber,
  InvalidDigit,
  NumberTooLarge,
  NoDriveLetter,
  NotOneDriveLetter
};

// An option a command needs that the command line lacks; ImageSource stands
// for the pair --physical-drive / --volume, of which one is needed.
enum class MissingOption { Image, Id, Output, OutputDirectory, ImageSource };

// What was wrong with the arguments, each case with exactly what its message
// names. Its message is always followed by the usage block (render_error).
struct ArgumentError {
  struct MissingCommand {};
  struct UnknownCommand {};
  struct UnknownArgument {
    std::string argument;
  };
  // `option` as typed, with its leading dashes.
  struct OptionRequiresValue {
    std::string option;
  };
  struct InvalidOptionValue {
    std::string option;
    ValueRefusal reason;
  };
  struct OptionMissing {
    MissingOption option;
  };
  struct ImageSourcesExclusive {};
  // An argument of the Windows command line that is not Unicode text, shown
  // with its unpaired surrogates replaced.
  struct ArgumentNotUnicode {
    std::string argument;
  };

  using Case =
      std::variant<MissingCommand, UnknownCommand, UnknownArgument, OptionRequiresValue,
                   InvalidOptionValue, OptionMissing, ImageSourcesExclusive, ArgumentNotUnicode>;
  template <typename Which>
    requires is_alternative_of<Which, Case>
  ArgumentError(Which which)  // NOLINT(google-explicit-constructor)
      : what(std::move(which)) {}

  Case what;
};

}  // namespace kestrel
