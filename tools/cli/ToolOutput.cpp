#include "ToolOutput.hpp"

#include "Commands.hpp"

#include <algorithm>
#include <iostream>
#include <set>
#include <string_view>
#include <vector>

namespace orbisgrove::tool {
namespace {

std::string text(const std::optional<std::string>& value, std::string_view absent = "(none)") {
  return value ? *value : std::string(absent);
}

std::string number(const std::shared_ptr<const platform::Number>& value) {
  return value ? value->stringValue() : std::string("(none)");
}

}  // namespace

nlohmann::ordered_json errorJSON(const platform::Error& error) {
  nlohmann::ordered_json userInfo = nlohmann::ordered_json::object();
  for (const auto& [key, value] : error.userInfo()) {
    std::visit(
        [&, &entryKey = key](const auto& entry) {
          using Entry = std::decay_t<decltype(entry)>;
          if constexpr (std::is_same_v<Entry, std::shared_ptr<const platform::Error>>) {
            userInfo[entryKey] = entry ? errorJSON(*entry) : nlohmann::ordered_json();
          } else {
            userInfo[entryKey] = entry;
          }
        },
        value);
  }
  nlohmann::ordered_json json{{"domain", error.domain()}, {"code", error.code()}};
  // The status of the reply the error came with, beside (never inside) its user information.
  if (const auto status = error.deliveryFacts().httpStatusCode) json["httpStatus"] = *status;
  json["userInfo"] = std::move(userInfo);
  return json;
}

nlohmann::ordered_json categoriesJSON(const std::optional<OrbisgroveReportCategoriesList>& categories) {
  if (!categories) return nullptr;
  return nlohmann::ordered_json::parse(platform::JSONEncoder().encode(*categories));
}

nlohmann::ordered_json recordJSON(const std::shared_ptr<OrbisgroveUserDataInfo>& record) {
  if (!record) return nullptr;
  return nlohmann::ordered_json::parse(platform::JSONEncoder().encode(record));
}

int reportError(const platform::Error& error, bool json) {
  if (json) {
    std::cout << nlohmann::ordered_json{{"error", errorJSON(error)}}.dump() << '\n';
  } else {
    printError(std::cout, error);
  }
  return kKitError;
}

void printError(std::ostream& out, const platform::Error& error) {
  out << "Error: " << error.localizedFailureReason().value_or("(no reason given)") << '\n';
  if (const auto suggestion = error.localizedRecoverySuggestion()) out << "  " << *suggestion << '\n';
  out << "  (" << error.domain() << ' ' << error.code() << ")\n";
  for (auto cause = error.underlyingError(); cause; cause = cause->underlyingError()) {
    out << "  caused by: " << cause->description() << '\n';
  }
}

void printCategoryTree(std::ostream& out, const OrbisgroveReportCategoriesList& categories) {
  std::set<std::string> ids;
  for (const auto& category : categories) {
    if (category->reportId()) ids.insert(*category->reportId());
  }
  std::set<const OrbisgroveReportCategories*> drawn;
  const auto label = [](const OrbisgroveReportCategories& category) {
    return text(category.reportName(), "(no name)") + "  [" + text(category.reportId(), "no id") + "]";
  };
  // Draws `category` and, below it, the categories that name it as parent.
  const auto draw = [&](const auto& self, const OrbisgroveReportCategories& category, const std::string& indent,
                        bool last) -> void {
    drawn.insert(&category);
    out << indent << (last ? "└─ " : "├─ ") << label(category) << '\n';
    std::vector<const OrbisgroveReportCategories*> children;
    for (const auto& candidate : categories) {
      if (!drawn.contains(candidate.get()) && category.reportId() && candidate->parentId() == category.reportId()) {
        children.push_back(candidate.get());
        drawn.insert(candidate.get());
      }
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
      self(self, *children[i], indent + (last ? "   " : "│  "), i + 1 == children.size());
    }
  };
  // Roots have no parent in the list; whatever a cycle keeps unreachable follows them.
  std::vector<const OrbisgroveReportCategories*> order;
  for (const auto& category : categories) {
    if (!category->parentId() || !ids.contains(*category->parentId())) order.push_back(category.get());
  }
  for (const auto& category : categories) {
    if (std::find(order.begin(), order.end(), category.get()) == order.end()) order.push_back(category.get());
  }
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (drawn.contains(order[i])) continue;
    const bool lastRoot =
        std::all_of(order.begin() + static_cast<std::ptrdiff_t>(i) + 1, order.end(), [&](const auto* other) {
          return drawn.contains(other) || (other->parentId() && ids.contains(*other->parentId()));
        });
    draw(draw, *order[i], "", lastRoot);
  }
}

void printRecord(std::ostream& out, const OrbisgroveUserDataInfo& record) {
  out << "  id:         " << text(record.id()) << '\n'
      << "  name:       " << text(record.name()) << '\n'
      << "  time:       " << text(record.time()) << '\n'
      << "  url:        " << text(record.url()) << '\n'
      << "  list id:    " << number(record.listId()) << '\n'
      << "  exists:     " << number(record.exist()) << '\n'
      << "  data count: " << number(record.dataCount()) << '\n';
}

}  // namespace orbisgrove::tool
