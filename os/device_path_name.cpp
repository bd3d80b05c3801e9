#include "os/device_path_name.hpp"

#include <array>
#include <string>

namespace kestrel {

namespace {

template <typename Char>
Char ascii_upper(Char c) {
  return (c >= Char('a') && c <= Char('z')) ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

template <typename Char>
bool equals_ascii_ignoring_case(std::basic_string_view<Char> text, std::string_view ascii) {
  if (text.size() != ascii.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ascii_upper(text[i]) != Char(static_cast<unsigned char>(ascii[i]))) return false;
  }
  return true;
}

template <typename Char>
bool starts_with_ascii_ignoring_case(std::basic_string_view<Char> text, std::string_view ascii) {
  return text.size() >= ascii.size() &&
         equals_ascii_ignoring_case(text.substr(0, ascii.size()), ascii);
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9: the name before its first dot, trailing
// spaces ignored.
template <typename Char>
bool is_reserved_device_name(std::basic_string_view<Char> name) {
  std::basic_string_view<Char> stem = name.substr(0, name.find(Char('.')));
  while (!stem.empty() && stem.back() == Char(' ')) stem.remove_suffix(1);
  static constexpr std::array<std::string_view, 4> plain = {"CON", "PRN", "AUX", "NUL"};
  for (std::string_view reserved : plain) {
    if (equals_ascii_ignoring_case(stem, reserved)) return true;
  }
  if (stem.size() == 4 && (starts_with_ascii_ignoring_case(stem, "COM") ||
                           starts_with_ascii_ignoring_case(stem, "LPT"))) {
    return stem[3] >= Char('1') && stem[3] <= Char('9');
  }
  return false;
}

}  // namespace

template <typename Char>
bool path_names_device(std::basic_string_view<Char> path, PathRules rules) {
  if (rules != PathRules::Windows) return false;
  const auto starts = [&](std::string_view prefix) {
    return starts_with_ascii_ignoring_case(path, prefix);
  };
  if (starts("\\\\.\\") || starts("//./") || starts("\\\\?\\GLOBALROOT")) return true;

  const PathRoot root = path_root(path, rules);
  if (root.extended_length) {
    // "\\?\D:\dir\file", "\\?\UNC\server\share\file" and "\\?\Volume{...}\file"
    // name files; the root alone names the volume itself.
    if (starts("\\\\?\\UNC\\")) return false;
    return root.length >= path.size();
  }
  const FinalComponentSplit<Char> split = split_final_component(path, rules);
  return split.file_name && is_reserved_device_name(std::basic_string_view<Char>(*split.file_name));
}

template bool path_names_device<char>(std::basic_string_view<char>, PathRules);
template bool path_names_device<wchar_t>(std::basic_string_view<wchar_t>, PathRules);

}  // namespace kestrel
