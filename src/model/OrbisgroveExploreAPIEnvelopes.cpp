#include "model/OrbisgroveExploreAPIEnvelopes.hpp"

namespace orbisgrove {

OrbisgroveExploreAPIResult::OrbisgroveExploreAPIResult(const platform::Decoder& decoder)
    : response(decoder.container().decodeStringIfPresent("response")) {}

OrbisgroveExploreAPIErrorData::OrbisgroveExploreAPIErrorData(const platform::Decoder& decoder)
    : error(decoder.container().decodeIfPresent<std::vector<std::string>>("error")) {}

OrbisgroveExploreAPIError::OrbisgroveExploreAPIError(const platform::Decoder& decoder)
    : data(decoder.container().decodeIfPresent<std::vector<OrbisgroveExploreAPIErrorData>>("data")) {}

std::string OrbisgroveExploreAPIError::joinedMessage() const {
  // An empty "data" list has no first detail; it reads like a detail without texts.
  if (!data || data->empty() || !data->front().error) return {};
  const std::vector<std::string>& texts = *data->front().error;
  std::string message;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) message += ", ";
    message += texts[i];
  }
  return message;
}

}  // namespace orbisgrove
