// What a data task received besides the body: the reply's metadata.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/URL.hpp>
#include <orbisgrove/platform/URLRequest.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

namespace orbisgrove::platform {

/// A reply of any protocol.
class ORBISGROVE_EXPORT URLResponse {
 public:
  /// A reply for `url`.
  explicit URLResponse(URL url) : url_(std::move(url)) {}
  virtual ~URLResponse() = default;
  /// Replies are values: copying copies the metadata.
  ///@{
  URLResponse(const URLResponse&) = default;
  URLResponse& operator=(const URLResponse&) = default;
  ///@}

  /// The URL the reply came from.
  [[nodiscard]] const URL& url() const noexcept { return url_; }

 private:
  URL url_;
};

/// An HTTP reply: status code and header fields with their names as the server
/// sent them over HTTP/1.x, and with each dash-separated word capitalised over
/// HTTP/2 and HTTP/3, which send names in lower case ("X-Rate-Limit-Reset"). A
/// field sent several times holds its values joined by ", ".
class ORBISGROVE_EXPORT HTTPURLResponse : public URLResponse {
 public:
  /// A reply for `url` with its status code and header fields.
  HTTPURLResponse(URL url, std::int64_t statusCode, HTTPHeaderFields headerFields)
      : URLResponse(std::move(url)), statusCode_(statusCode), headerFields_(std::move(headerFields)) {}

  /// The HTTP status code (200, 429, ...).
  [[nodiscard]] std::int64_t statusCode() const noexcept { return statusCode_; }
  /// Every header field of the reply.
  [[nodiscard]] const HTTPHeaderFields& allHeaderFields() const noexcept { return headerFields_; }
  /// The field named exactly `name` (letter case included).
  [[nodiscard]] std::optional<std::string_view> valueForHeaderField(std::string_view name) const;

 private:
  std::int64_t statusCode_;
  HTTPHeaderFields headerFields_;
};

}  // namespace orbisgrove::platform
