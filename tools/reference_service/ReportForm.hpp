// Reading the form bodies that the kit posts. The kit concatenates its fields
// without percent-encoding, so the free-text description may hold "&", "=",
// "*" and spaces; the body is therefore read by position, not as a generic
// form.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbisgrove::tools {

/// The client key every request must carry.
inline constexpr std::string_view kReferenceClientKey = "tV3nQe8LpZk2RwXa0MfYc7HsJd9=";

/// The fields of a form body, split as follows:
/// - `val` starts at the first "val=" that begins a field (at the start of the
///   body or right after a "&"). Everything before it is the prefix, a plain
///   "&"-separated list of name=value fields, none of which can contain "&".
/// - `val` runs to the LAST "&module_id=" of the body, whose value is the rest
///   of the body; without one, `val` runs to the end. A description that
///   itself contains "&module_id=" therefore only survives when the kit also
///   sends a module id, which it appends after `val`.
struct FormFields {
  std::optional<std::string> q;
  std::optional<std::string> layer;
  std::optional<std::string> client;
  std::optional<std::string> key;
  std::optional<std::string> apptype;
  std::optional<std::string> val;
  std::optional<std::string> moduleId;
  /// One message per structural fault (missing, unknown, repeated or
  /// misplaced fields).
  std::vector<std::string> problems;
};

FormFields splitForm(std::string_view body);

/// The 15 "*"-separated fields of a submission's `val` (index 0 is field 1):
/// fields 1-5 are taken from the front and 7-15 from the back, so the
/// description (field 6) is whatever lies between and may contain "*".
/// Absent when `val` has fewer than 15 fields.
std::optional<std::array<std::string, 15>> splitReportText(std::string_view val);

struct CategoryField {
  std::string name;
  std::string id;
};

/// "<name>-<id>" split at the last "-" (either part may be empty); absent when
/// the text has no "-".
std::optional<CategoryField> splitCategoryField(std::string_view field);

/// A submission that passed every check.
struct SubmittedReport {
  double latitude = 0;
  double longitude = 0;
  std::string description;
  std::string applicationId;
  CategoryField parentCategory;
  CategoryField childCategory;
  std::optional<std::string> moduleId;
  /// `val` exactly as it was sent.
  std::string reportText;
};

enum class Operation { categories, saveReport };

/// The verdict on one form body. A request is authenticated before it is
/// validated: without the right key the status is 401 with the one key
/// message, whatever else is wrong. Otherwise every problem found becomes a
/// message of its own and the status is 400; a clean form gives status 200 with
/// the operation (and, for a submission, the report).
struct FormVerdict {
  int status = 200;
  std::vector<std::string> messages;
  std::optional<Operation> operation;
  std::optional<SubmittedReport> report;
};

FormVerdict checkForm(std::string_view body);

}  // namespace orbisgrove::tools
