#pragma once
// Names of fields, components, parameters and catalogue keys compare without
// regard to letter case, as the platform's do. They are plain ASCII.

#include <cctype>
#include <string_view>

namespace apura {

inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace apura
