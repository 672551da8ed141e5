// Form bodies of the service's two operations as the kit builds them, for
// the tests of the reference service.
#pragma once

#include "TestPrelude.hpp"

#include <array>

namespace orbisgrove::testing {

// Form bodies as the kit builds them.
inline constexpr const char* kCategoriesBody =
    "q=712&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=401*401*401";
inline constexpr const char* kFormContentType = "application/x-www-form-urlencoded";

/// The 15 fields of a save request's report text, valid as they stand; tests
/// change the one they are about (fields are numbered from 1).
struct ReportText {
  std::array<std::string, 15> fields = {
      "Point on Map",     "401",    "401", "28.5", "77.25", "Barrier across the road",  "401",
      "com.example.maps", "native", "11",  "1",    "1",     "Road closed or blocked-1", "Road closed permanently-101",
      "com.example.maps"};

  ReportText& set(std::size_t number, std::string value) {
    fields[number - 1] = std::move(value);
    return *this;
  }

  std::string joined() const {
    std::string text = fields[0];
    for (std::size_t i = 1; i < fields.size(); ++i) text += "*" + fields[i];
    return text;
  }
};

inline std::string saveBody(const std::string& val, const std::optional<std::string>& moduleId = std::nullopt,
                            const std::string& key = "tV3nQe8LpZk2RwXa0MfYc7HsJd9=") {
  std::string body = "q=705&layer=explore&client=104&key=" + key + "&apptype=native&val=" + val;
  if (moduleId) body += "&module_id=" + *moduleId;
  return body;
}

inline std::string saveBody(const ReportText& text = {}, const std::optional<std::string>& moduleId = std::nullopt) {
  return saveBody(text.joined(), moduleId);
}

}  // namespace orbisgrove::testing
