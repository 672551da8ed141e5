#include "ReportForm.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <system_error>
#include <utility>

#include "CategoryTree.hpp"

namespace orbisgrove::tools {
namespace {

constexpr std::string_view kModuleIdMarker = "&module_id=";
constexpr std::array<std::string_view, 5> kPrefixNames = {"q", "layer", "client", "key", "apptype"};

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Reply texts are JSON, so anything quoted back must be valid UTF-8; checking
// the whole body once keeps the other checks byte-oriented.
bool isUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t codePoint = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      codePoint = lead & 0x07u;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) return false;
      codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    const bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (overlong || surrogate || codePoint > 0x10FFFF) return false;
    i += length;
  }
  return true;
}

std::optional<double> parseCoordinate(std::string_view text, double limit) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  if (value < -limit || value > limit) return std::nullopt;
  return value;
}

std::optional<std::size_t> findValStart(std::string_view body) {
  for (std::size_t at = body.find("val="); at != std::string_view::npos; at = body.find("val=", at + 1)) {
    if (at == 0 || body[at - 1] == '&') return at;
  }
  return std::nullopt;
}

std::optional<std::string>* prefixSlot(FormFields& form, std::string_view name) {
  if (name == "q") return &form.q;
  if (name == "layer") return &form.layer;
  if (name == "client") return &form.client;
  if (name == "key") return &form.key;
  if (name == "apptype") return &form.apptype;
  return nullptr;
}

void checkFixed(std::vector<std::string>& messages, const std::optional<std::string>& value, std::string_view name,
                std::string_view expected) {
  if (value && *value != expected)
    messages.push_back("Field " + std::string(name) + " must be " + quoted(expected) + ".");
}

// Fields 13 and 14 name the parent and the child category as "<name>-<id>".
// Only the ids are checked against the tree: the names are the kit's copy of
// what it was given and are stored as sent.
const ReferenceCategory* checkCategory(std::vector<std::string>& messages, const std::string& field, int number,
                                       std::string_view role) {
  const std::string label = "Field " + std::to_string(number) + " of val (" + std::string(role) + " category)";
  const auto parts = splitCategoryField(field);
  if (!parts) {
    messages.push_back(label + " must have the form <name>-<id>.");
    return nullptr;
  }
  if (parts->id.empty()) {
    messages.push_back(label + " names no category.");
    return nullptr;
  }
  const ReferenceCategory* category = findReferenceCategory(parts->id);
  if (category == nullptr) messages.push_back("Unknown " + std::string(role) + " category " + quoted(parts->id) + ".");
  return category;
}

void checkReportText(std::vector<std::string>& messages, const std::array<std::string, 15>& f) {
  const auto expectField = [&](std::size_t number, std::string_view expected) {
    if (f[number - 1] != expected) {
      messages.push_back("Field " + std::to_string(number) + " of val must be " + quoted(expected) + ".");
    }
  };
  expectField(1, "Point on Map");
  expectField(2, "401");
  expectField(3, "401");
  if (!parseCoordinate(f[3], 90)) messages.push_back("Latitude must be a number between -90 and 90.");
  if (!parseCoordinate(f[4], 180)) messages.push_back("Longitude must be a number between -180 and 180.");
  if (f[5].empty()) messages.push_back("Field 6 of val (description) must not be empty.");
  expectField(7, "401");
  if (f[7].empty()) messages.push_back("Field 8 of val (application identifier) must not be empty.");
  expectField(9, "native");
  expectField(10, "11");
  expectField(11, "1");
  expectField(12, "1");

  const ReferenceCategory* parent = checkCategory(messages, f[12], 13, "parent");
  const ReferenceCategory* child = checkCategory(messages, f[13], 14, "child");
  if (parent != nullptr && !parent->isTopLevel()) {
    messages.push_back("Category " + quoted(parent->reportId) + " is not a top-level category.");
  }
  if (child != nullptr && child->isTopLevel()) {
    messages.push_back("Category " + quoted(child->reportId) + " is a top-level category, not a subcategory.");
  } else if (child != nullptr && parent != nullptr && parent->isTopLevel() && child->parentId != parent->reportId) {
    messages.push_back("Category " + quoted(child->reportId) + " is not a subcategory of " + quoted(parent->reportId) +
                       ".");
  }

  if (f[7] != f[14]) messages.push_back("Fields 8 and 15 of val (application identifier) must be equal.");
}

}  // namespace

FormFields splitForm(std::string_view body) {
  FormFields form;
  const std::optional<std::size_t> valStart = findValStart(body);
  std::string_view prefix = body;
  if (valStart) {
    prefix = body.substr(0, *valStart == 0 ? 0 : *valStart - 1);
    std::string_view rest = body.substr(*valStart + 4);
    const std::size_t marker = rest.rfind(kModuleIdMarker);
    if (marker != std::string_view::npos) {
      form.moduleId = std::string(rest.substr(marker + kModuleIdMarker.size()));
      rest = rest.substr(0, marker);
    }
    form.val = std::string(rest);
  }

  std::vector<std::string> order;
  bool wellFormed = true;
  std::size_t start = 0;
  while (!prefix.empty() && start <= prefix.size()) {
    const std::size_t end = std::min(prefix.find('&', start), prefix.size());
    const std::string_view piece = prefix.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos || equals == 0) {
      form.problems.push_back("Form piece " + quoted(piece) + " is not of the form name=value.");
      wellFormed = false;
      continue;
    }
    const std::string_view name = piece.substr(0, equals);
    std::optional<std::string>* slot = prefixSlot(form, name);
    if (slot == nullptr) {
      form.problems.push_back(name == "module_id" ? std::string("Field module_id must come after val.")
                                                  : "Unknown field " + quoted(name) + ".");
      wellFormed = false;
    } else if (slot->has_value()) {
      form.problems.push_back("Field " + std::string(name) + " appears more than once.");
      wellFormed = false;
    } else {
      *slot = std::string(piece.substr(equals + 1));
      order.emplace_back(name);
    }
  }

  for (std::string_view name : kPrefixNames) {
    if (!prefixSlot(form, name)->has_value()) {
      form.problems.push_back("Field " + std::string(name) + " is missing.");
      wellFormed = false;
    }
  }
  if (!form.val) form.problems.push_back("Field val is missing.");
  if (wellFormed && !std::equal(order.begin(), order.end(), kPrefixNames.begin(), kPrefixNames.end())) {
    form.problems.push_back("Fields must come in the order q, layer, client, key, apptype, val.");
  }
  return form;
}

std::optional<std::array<std::string, 15>> splitReportText(std::string_view val) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t star = val.find('*', start);
    if (star == std::string_view::npos) {
      pieces.push_back(val.substr(start));
      break;
    }
    pieces.push_back(val.substr(start, star - start));
    start = star + 1;
  }
  if (pieces.size() < 15) return std::nullopt;

  std::array<std::string, 15> fields;
  for (std::size_t i = 0; i < 5; ++i) fields[i] = pieces[i];
  for (std::size_t i = 0; i < 9; ++i) fields[14 - i] = pieces[pieces.size() - 1 - i];
  // The description is everything between field 5 and field 7, separators
  // included, located in `val` itself so its text is kept byte for byte.
  std::size_t descriptionStart = 0;
  for (std::size_t i = 0; i < 5; ++i) descriptionStart += pieces[i].size() + 1;
  std::size_t tailLength = 0;
  for (std::size_t i = 0; i < 9; ++i) tailLength += pieces[pieces.size() - 1 - i].size() + 1;
  fields[5] = val.substr(descriptionStart, val.size() - descriptionStart - tailLength);
  return fields;
}

std::optional<CategoryField> splitCategoryField(std::string_view field) {
  const std::size_t dash = field.rfind('-');
  if (dash == std::string_view::npos) return std::nullopt;
  return CategoryField{std::string(field.substr(0, dash)), std::string(field.substr(dash + 1))};
}

FormVerdict checkForm(std::string_view body) {
  FormVerdict verdict;
  FormFields form = splitForm(body);
  if (!form.key || *form.key != kReferenceClientKey) {
    verdict.status = 401;
    verdict.messages.push_back(form.key ? "The key is not valid." : "The key is missing.");
    return verdict;
  }

  std::vector<std::string>& messages = verdict.messages;
  if (!isUtf8(body)) messages.push_back("The form must be UTF-8 text.");
  messages.insert(messages.end(), form.problems.begin(), form.problems.end());
  if (form.q && *form.q != "712" && *form.q != "705") messages.push_back("Unknown operation " + quoted(*form.q) + ".");
  checkFixed(messages, form.layer, "layer", "explore");
  checkFixed(messages, form.client, "client", "104");
  checkFixed(messages, form.apptype, "apptype", "native");

  std::optional<std::array<std::string, 15>> reportFields;
  if (form.q == "712") {
    verdict.operation = Operation::categories;
    if (form.val && *form.val != "401*401*401") messages.emplace_back(R"(Field val must be "401*401*401".)");
    if (form.moduleId) messages.emplace_back("Field module_id is not accepted by operation 712.");
  } else if (form.q == "705") {
    verdict.operation = Operation::saveReport;
    if (form.val) {
      reportFields = splitReportText(*form.val);
      if (reportFields) {
        checkReportText(messages, *reportFields);
      } else {
        messages.emplace_back(R"(Field val must have 15 fields separated by "*".)");
      }
    }
  }

  if (!messages.empty()) {
    verdict.status = 400;
    verdict.operation.reset();
    return verdict;
  }
  if (verdict.operation == Operation::saveReport) {
    const auto& f = *reportFields;
    verdict.report = SubmittedReport{*parseCoordinate(f[3], 90),
                                     *parseCoordinate(f[4], 180),
                                     f[5],
                                     f[7],
                                     *splitCategoryField(f[12]),
                                     *splitCategoryField(f[13]),
                                     std::move(form.moduleId),
                                     std::move(*form.val)};
  }
  return verdict;
}

}  // namespace orbisgrove::tools
