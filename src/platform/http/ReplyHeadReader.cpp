#include "platform/http/ReplyHeadReader.hpp"

namespace orbisgrove::platform::http {
namespace {

std::string_view trimmed(std::string_view text) noexcept {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

bool isRedirectKeepingTheBody(std::string_view statusLine) noexcept {
  const auto space = statusLine.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view rest = statusLine.substr(space + 1);
  if (!rest.starts_with("307") && !rest.starts_with("308")) return false;
  return rest.size() == 3 || rest[3] == ' ' || rest[3] == '\r' || rest[3] == '\n';
}

ReplyHeadReader::Line ReplyHeadReader::take(std::string_view raw) {
  bytes_ += raw.size();
  if (bytes_ > maximumHeaderBytes) {
    tooLarge_ = true;
    return Line::tooLarge;
  }
  const std::string_view line = trimmed(raw);
  if (raw.starts_with("HTTP/")) {
    redirectKeepsTheBody_ = isRedirectKeepingTheBody(raw);
    fields_.clear();
    filer_.reset(!raw.starts_with("HTTP/1."));
    lastFieldName_.clear();
    sawStatusLine_ = true;
    complete_ = false;
    return Line::statusLine;
  }
  if (!sawStatusLine_ || complete_) return Line::field;  // trailers are not header fields
  if (line.empty()) {
    complete_ = true;
    return Line::field;
  }
  if (raw.front() == ' ' || raw.front() == '\t') {
    // An obsolete folded continuation of the previous field's value.
    const auto field = fields_.find(lastFieldName_);
    if (field != fields_.end()) {
      field->second += ' ';
      field->second += line;
    }
    return Line::field;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return Line::field;
  lastFieldName_ = filer_.file(fields_, line.substr(0, colon), trimmed(line.substr(colon + 1)));
  return Line::field;
}

}  // namespace orbisgrove::platform::http
