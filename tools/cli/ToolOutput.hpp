// How the tool shows what the kit delivered: JSON for scripts, words for people.
#pragma once

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <string>

namespace orbisgrove::tool {

/// {"domain": ..., "code": N, "httpStatus": N (when a reply came with it),
///  "userInfo": {..., "NSUnderlyingError": {same shape}}}
nlohmann::ordered_json errorJSON(const platform::Error& error);
/// The list as the records encode themselves, or null.
nlohmann::ordered_json categoriesJSON(const std::optional<OrbisgroveReportCategoriesList>& categories);
/// The record as it encodes itself, or null.
nlohmann::ordered_json recordJSON(const std::shared_ptr<OrbisgroveUserDataInfo>& record);

/// The failure reason, the recovery suggestion and the underlying errors, one per line.
void printError(std::ostream& out, const platform::Error& error);
/// Prints `error` to standard output, as JSON with `json`; the kit-error exit status.
int reportError(const platform::Error& error, bool json);
/// Parents with their children under them, in the list's order.
void printCategoryTree(std::ostream& out, const OrbisgroveReportCategoriesList& categories);
void printRecord(std::ostream& out, const OrbisgroveUserDataInfo& record);

}  // namespace orbisgrove::tool
