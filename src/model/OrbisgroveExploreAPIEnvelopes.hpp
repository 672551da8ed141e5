// The two envelopes every service reply is read as before its payload: the
// result envelope tells success from failure, the error envelope carries the
// service's messages.
#pragma once

#include <orbisgrove/platform/JSONCoding.hpp>

#include <optional>
#include <string>
#include <vector>

namespace orbisgrove {

/// {"response": text}: "201" marks success.
struct OrbisgroveExploreAPIResult {
  explicit OrbisgroveExploreAPIResult(const platform::Decoder& decoder);
  std::optional<std::string> response;
};

/// One error detail: {"error": [text, ...]}.
struct OrbisgroveExploreAPIErrorData {
  explicit OrbisgroveExploreAPIErrorData(const platform::Decoder& decoder);
  std::optional<std::vector<std::string>> error;
};

/// {"data": [error detail, ...]}: only the first detail is read.
struct OrbisgroveExploreAPIError {
  explicit OrbisgroveExploreAPIError(const platform::Decoder& decoder);
  std::optional<std::vector<OrbisgroveExploreAPIErrorData>> data;

  /// The service's message: the first detail's texts joined with ", "; the
  /// empty text when there is no detail or it has no texts.
  [[nodiscard]] std::string joinedMessage() const;
};

}  // namespace orbisgrove
