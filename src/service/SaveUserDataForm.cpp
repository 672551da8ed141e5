#include "service/SaveUserDataForm.hpp"

#include "platform/text/DecimalText.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {
namespace {

// Fields the service expects but does not read; "401" stands for "none".
constexpr std::string_view kNone = "401";

void appendCategory(std::string& text, const OrbisgroveSaveUserDataOptions::Category& category) {
  // A missing record reads like one whose name and identifier are absent.
  if (category) {
    if (const auto& name = category->reportName()) text += *name;
  }
  text += '-';
  if (category) {
    if (const auto& id = category->reportId()) text += *id;
  }
}

}  // namespace

std::string saveUserDataReportText(const OrbisgroveSaveUserDataOptions& options,
                                   const std::optional<std::string>& bundleIdentifier) {
  const std::string_view application = bundleIdentifier ? std::string_view(*bundleIdentifier) : kNone;
  const platform::Coordinate coordinate = options.coordinate();
  const std::string& description = options.feedbackDescription();

  std::string text;
  text.reserve(128 + description.size() + 2 * application.size());
  text += "Point on Map*401*401*";
  text += platform::shortestDecimalText(coordinate.latitude);
  text += '*';
  text += platform::shortestDecimalText(coordinate.longitude);
  text += '*';
  text += description.empty() ? kNone : std::string_view(description);
  text += "*401*";
  text += application;
  text += "*native*11*1*1*";
  appendCategory(text, options.parentCategory());
  text += '*';
  appendCategory(text, options.childCategory());
  text += '*';
  text += application;
  return text;
}

std::string saveUserDataFormBody(const OrbisgroveSaveUserDataOptions& options,
                                 const std::optional<std::string>& bundleIdentifier) {
  std::string body = serviceFormPrefix("705");
  body += "&val=";
  body += saveUserDataReportText(options, bundleIdentifier);
  if (const auto& moduleId = options.moduleId()) {
    body += "&module_id=";
    body += *moduleId;
  }
  return body;
}

}  // namespace orbisgrove
