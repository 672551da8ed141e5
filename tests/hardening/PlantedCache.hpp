// What the hardening tests serve and what they plant in the cache file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "../service/KitServiceFixture.hpp"
#include "platform/core/Date.hpp"

namespace orbisgrove::testing {

inline constexpr std::string_view kTwoCategories =
    R"({"response":"201","data":[{"reportId":"1","reportName":"Road"},{"reportId":"101","parentId":"1"}]})";

// The entries of a whole cache file holding `size` categories saved `secondsAgo`, as another
// process of the host might have left it.
inline platform::PropertyListDictionary plantedCache(std::size_t size, double secondsAgo = 0) {
  std::string json = "[";
  for (std::size_t i = 0; i < size; ++i) json += std::string(i ? "," : "") + R"({"reportId":"planted"})";
  return cacheEntries(platform::Date::now().secondsSince1970 - secondsAgo, json + "]");
}

}  // namespace orbisgrove::testing
