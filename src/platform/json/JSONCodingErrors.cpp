#include "platform/json/JSONCodingErrors.hpp"

#include "platform/json/JSONText.hpp"

#include <utility>
#include <vector>

namespace orbisgrove::platform {

CodingError::CodingError(std::shared_ptr<const Error> error)
    : error_(std::move(error)), what_(error_ ? error_->description() : std::string(JSONCodingErrorDomain)) {}

const char* CodingError::what() const noexcept { return what_.c_str(); }

namespace detail {

std::string describeCodingPath(const CodingPathNode* node) {
  // The root step has no parent and adds nothing to the text.
  std::vector<const CodingPathNode*> steps;
  for (const CodingPathNode* step = node; step != nullptr && step->parent != nullptr; step = step->parent) {
    steps.push_back(step);
  }
  std::string path;
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    if ((*step)->isIndex) {
      path += '[';
      path += std::to_string((*step)->index);
      path += ']';
    } else {
      if (!path.empty()) path += '.';
      path += (*step)->key;
    }
  }
  // Keys handed to an encoder may be anything; the path must stay printable.
  if (!isValidUTF8(path)) return sanitizedUTF8(path);
  return path;
}

std::shared_ptr<const Error> makeCodingError(JSONCodingErrorCode code, std::string reason, std::string path) {
  UserInfo userInfo;
  userInfo.emplace(std::string(NSLocalizedFailureReasonErrorKey), std::move(reason));
  userInfo.emplace(std::string(JSONCodingPathErrorKey), std::move(path));
  return Error::make(std::string(JSONCodingErrorDomain), static_cast<std::int64_t>(code), std::move(userInfo));
}

void throwExpectation(JSONCodingErrorCode code, const CodingPathNode& node, std::string_view expected,
                      std::string_view found) {
  std::string path = describeCodingPath(&node);
  std::string reason = "Expected ";
  reason += expected;
  if (path.empty()) {
    reason += " at the top level";
  } else {
    reason += " at ";
    reason += path;
  }
  reason += " but found ";
  reason += found;
  reason += '.';
  throw CodingError(makeCodingError(code, std::move(reason), std::move(path)));
}

}  // namespace detail
}  // namespace orbisgrove::platform
