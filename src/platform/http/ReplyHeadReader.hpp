// Reply heads as a transport receives them, line by line: the status line,
// header fields, obsolete folded continuations, the blank line that ends a
// head, and the trailers after the body, which are not header fields.
#pragma once

#include <orbisgrove/platform/URLRequest.hpp>

#include "platform/http/HeaderFieldNames.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace orbisgrove::platform::http {

/// The bytes of reply heads a transfer accepts, redirects and interim replies
/// included: below libcurl's own limit, which fails as a lost connection.
inline constexpr std::size_t maximumHeaderBytes = std::size_t{256} * 1024;

/// Whether `statusLine` ("HTTP/1.1 307 Temporary Redirect") is a 307 or 308:
/// a redirect that sends the same method and body to the new URL.
bool isRedirectKeepingTheBody(std::string_view statusLine) noexcept;

class ReplyHeadReader {
 public:
  enum class Line { field, statusLine, tooLarge };

  /// Takes one line as it arrived, its line end included. A status line
  /// begins a new head: the fields of an interim (1xx) or redirect reply are
  /// replaced by those of the one after it.
  Line take(std::string_view raw);
  /// A redirect sends the request again: what follows is a new request,
  /// whose reply has not begun.
  void beginAgain() {
    sawStatusLine_ = false;
    redirectKeepsTheBody_ = false;
  }

  /// The fields of the latest head.
  [[nodiscard]] HTTPHeaderFields& fields() { return fields_; }
  [[nodiscard]] bool sawStatusLine() const { return sawStatusLine_; }
  [[nodiscard]] bool complete() const { return complete_; }
  [[nodiscard]] bool tooLarge() const { return tooLarge_; }
  /// The latest head is a 307 or 308.
  [[nodiscard]] bool redirectKeepsTheBody() const { return redirectKeepsTheBody_; }

 private:
  HTTPHeaderFields fields_;
  HeaderFieldFiler filer_;
  std::string lastFieldName_;
  bool sawStatusLine_ = false;
  bool complete_ = false;
  // Bytes of every head so far.
  std::size_t bytes_ = 0;
  bool tooLarge_ = false;
  bool redirectKeepsTheBody_ = false;
};

}  // namespace orbisgrove::platform::http
