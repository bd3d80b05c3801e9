#pragma once

#include <type_traits>
#include <variant>

namespace kestrel {

// Whether T is one of the alternatives of the variant type, exactly: the error
// types of the front end take any of their cases as they are, and nothing that
// merely converts to one.
template <typename T, typename Variant>
inline constexpr bool is_alternative_of = false;
template <typename T, typename... Alternatives>
inline constexpr bool is_alternative_of<T, std::variant<Alternatives...>> =
    (std::is_same_v<T, Alternatives> || ...);

}  // namespace kestrel
