#include "platform/store/ErrorArchive.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <type_traits>

namespace orbisgrove::platform {
namespace {

nlohmann::json toJSON(const Error& error, int depth) {
  nlohmann::json info = nlohmann::json::object();
  for (const auto& [key, value] : error.userInfo()) {
    std::visit(
        [&, &key = key](const auto& item) {
          using T = std::decay_t<decltype(item)>;
          if constexpr (std::is_same_v<T, std::shared_ptr<const Error>>) {
            if (item && depth < 16) info[key] = {{"error", toJSON(*item, depth + 1)}};
          } else {
            info[key] = item;
          }
        },
        value);
  }
  nlohmann::json out{{"domain", error.domain()}, {"code", error.code()}, {"userInfo", std::move(info)}};
  const auto& facts = error.deliveryFacts();
  if (facts.requestMayHaveReachedServer) out["mayHaveReachedServer"] = *facts.requestMayHaveReachedServer;
  if (facts.httpStatusCode) out["httpStatusCode"] = *facts.httpStatusCode;
  return out;
}

std::shared_ptr<const Error> fromJSON(const nlohmann::json& json) {
  UserInfo info;
  for (const auto& [key, value] : json.at("userInfo").items()) {
    if (value.is_string()) {
      info.emplace(key, value.get<std::string>());
    } else if (value.is_number_integer()) {
      info.emplace(key, value.get<std::int64_t>());
    } else if (value.is_number()) {
      info.emplace(key, value.get<double>());
    } else if (value.is_object() && value.contains("error")) {
      info.emplace(key, fromJSON(value.at("error")));
    }
  }
  DeliveryFacts facts;
  if (json.contains("mayHaveReachedServer"))
    facts.requestMayHaveReachedServer = json.at("mayHaveReachedServer").get<bool>();
  if (json.contains("httpStatusCode")) facts.httpStatusCode = json.at("httpStatusCode").get<std::int64_t>();
  return Error::make(json.at("domain").get<std::string>(), json.at("code").get<std::int64_t>(), std::move(info), facts);
}

}  // namespace

std::string archivedError(const Error& error) {
  return toJSON(error, 0).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::shared_ptr<const Error> unarchivedError(const std::string& text) {
  try {
    return fromJSON(nlohmann::json::parse(text));
  } catch (const nlohmann::json::exception&) {
    return nullptr;
  }
}

}  // namespace orbisgrove::platform
