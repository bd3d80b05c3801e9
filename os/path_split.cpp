#include "os/path_split.hpp"

#include <vector>

namespace kestrel {

namespace {

template <typename Char>
bool is_separator(Char c, PathRules rules, bool extended_length) {
  if (c == Char('/')) return !(rules == PathRules::Windows && extended_length);
  return rules == PathRules::Windows && c == Char('\\');
}

template <typename Char>
bool is_ascii_letter(Char c) {
  return (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z'));
}

// The end of the component that starts at `from`: the next separator, or the end.
template <typename Char>
std::size_t component_end(std::basic_string_view<Char> text, std::size_t from,
                          bool extended_length) {
  std::size_t i = from;
  while (i < text.size() && !is_separator(text[i], PathRules::Windows, extended_length)) ++i;
  return i;
}

template <typename Char>
PathRoot windows_root(std::basic_string_view<Char> t) {
  const auto sep = [&](std::size_t i) {
    return i < t.size() && is_separator(t[i], PathRules::Windows, false);
  };
  const auto at = [&](std::size_t i, char c) { return i < t.size() && t[i] == Char(c); };
  PathRoot root;
  std::size_t end = 0;
  if (sep(0) && sep(1)) {
    if (at(0, '\\') && at(1, '\\') && at(2, '?') && at(3, '\\')) {
      root.extended_length = true;
      const std::size_t body = 4;
      if (at(body, 'U') && at(body + 1, 'N') && at(body + 2, 'C') && at(body + 3, '\\')) {
        const std::size_t server_end = component_end(t, body + 4, true);
        end = server_end < t.size() ? component_end(t, server_end + 1, true) : server_end;
      } else if (body + 1 < t.size() && is_ascii_letter(t[body]) && at(body + 1, ':')) {
        end = body + 2;
      } else {
        end = component_end(t, body, true);
      }
      if (at(end, '\\')) ++end;
      root.length = end;
      return root;
    }
    if ((at(2, '.') || at(2, '?')) && sep(3)) {
      end = component_end(t, 4, false);  // a device: \\.\PhysicalDrive1, \\.\C:
    } else {
      const std::size_t server_end = component_end(t, 2, false);
      end = server_end < t.size() ? component_end(t, server_end + 1, false) : server_end;
    }
    if (sep(end)) ++end;
    root.length = end;
    return root;
  }
  if (t.size() >= 2 && is_ascii_letter(t[0]) && at(1, ':')) {
    root.length = sep(2) ? 3 : 2;
    return root;
  }
  root.length = sep(0) ? 1 : 0;
  return root;
}

}  // namespace

template <typename Char>
PathRoot path_root(std::basic_string_view<Char> path, PathRules rules) {
  if (rules == PathRules::Windows) return windows_root(path);
  PathRoot root;
  while (root.length < path.size() && path[root.length] == Char('/')) ++root.length;
  return root;
}

template <typename Char>
FinalComponentSplit<Char> split_final_component(std::basic_string_view<Char> path,
                                                PathRules rules) {
  const PathRoot root = path_root(path, rules);
  std::vector<std::basic_string_view<Char>> components;
  std::size_t i = root.length;
  while (i < path.size()) {
    std::size_t end = i;
    while (end < path.size() && !is_separator(path[end], rules, root.extended_length)) ++end;
    const std::basic_string_view<Char> component = path.substr(i, end - i);
    const bool dot = component.size() == 1 && component[0] == Char('.');
    const bool leading_dot = dot && components.empty() && root.length == 0;
    if (!component.empty() && (!dot || leading_dot)) components.push_back(component);
    i = end + 1;
  }

  FinalComponentSplit<Char> split;
  if (components.empty()) return split;
  const std::basic_string_view<Char> last = components.back();
  const bool dot = last.size() == 1 && last[0] == Char('.');
  const bool dot_dot = last.size() == 2 && last[0] == Char('.') && last[1] == Char('.');
  if (!dot && !dot_dot) split.file_name = std::basic_string<Char>(last);
  if (dot && components.size() == 1) return split;

  const Char separator = rules == PathRules::Windows ? Char('\\') : Char('/');
  split.parent = std::basic_string<Char>(path.substr(0, root.length));
  for (std::size_t k = 0; k + 1 < components.size(); ++k) {
    if (k > 0) split.parent.push_back(separator);
    split.parent.append(components[k]);
  }
  return split;
}

template PathRoot path_root(std::basic_string_view<char>, PathRules);
template PathRoot path_root(std::basic_string_view<wchar_t>, PathRules);
template FinalComponentSplit<char> split_final_component(std::basic_string_view<char>, PathRules);
template FinalComponentSplit<wchar_t> split_final_component(std::basic_string_view<wchar_t>,
                                                            PathRules);

}  // namespace kestrel
