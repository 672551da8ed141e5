// The form body of a submission.
#pragma once

#include <orbisgrove/model/OrbisgroveSaveUserDataOptions.hpp>

#include <optional>
#include <string>

namespace orbisgrove {

/// The 15 "*"-separated fields of a report: "Point on Map*401*401*<lat>*<lon>*
/// <description or 401>*401*<app id or 401>*native*11*1*1*<parent name>-<parent
/// id>*<child name>-<child id>*<app id or 401>". Nothing is escaped, trimmed or
/// checked: the service reads the raw text.
std::string saveUserDataReportText(const OrbisgroveSaveUserDataOptions& options,
                                   const std::optional<std::string>& bundleIdentifier);

/// The whole body: the fixed pieces of operation 705, "&val=" and the report
/// text, then "&module_id=<id>" when the record has a module identifier (also
/// an empty one).
std::string saveUserDataFormBody(const OrbisgroveSaveUserDataOptions& options,
                                 const std::optional<std::string>& bundleIdentifier);

}  // namespace orbisgrove
