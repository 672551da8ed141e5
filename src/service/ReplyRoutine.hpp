// Judging what a service request delivered: success by the result envelope's
// "201", otherwise an error value built from the service's messages. A reply
// is parsed once, here; a client decodes its record from that document.
#pragma once

#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URLResponse.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace orbisgrove {
namespace platform {
class JSONDocument;
}

/// The message used when the service gives none.
inline constexpr std::string_view kDefaultServiceMessage = "Parameters are invalid or some server error.";
/// Key of the service's message in the reply fields handed to descriptiveError.
inline constexpr std::string_view kServiceMessageKey = "message";

/// A reply the service accepted: its body and the document parsed from it to
/// judge it. The document is read-only once made, so any thread may decode
/// from it once it has been handed over.
struct ServiceReply {
  std::string body;
  std::shared_ptr<const platform::JSONDocument> document;
};

/// A success carries the body; a failure the error value for the caller.
using ReplyVerdict = std::variant<std::string, std::shared_ptr<const platform::Error>>;

/// Decides, without side effects, what a request's outcome means:
/// - no body (transport failure, cancelled task): the error descriptiveError
///   builds from empty reply fields, the reply and the transport error;
/// - a body that is not the result envelope: the JSON coder's error;
/// - "response" exactly "201" (whatever the HTTP status): success;
/// - otherwise the error envelope's messages (first detail, joined with ", ",
///   or the default message) through descriptiveError, or the JSON coder's
///   error when the body is not the error envelope either.
ReplyVerdict judgeReply(const std::optional<std::string>& body,
                        const std::shared_ptr<const platform::URLResponse>& response,
                        const std::shared_ptr<const platform::Error>& transportError);

/// What a client does with a request's verdict.
struct ServiceReplyHandler {
  /// Runs on the session's delivery thread with an accepted reply and returns
  /// the call that hands the result to the host on the main queue.
  std::function<std::function<void()>(ServiceReply reply)> accepted;
  /// Runs on the main queue with the error of a failed request.
  std::function<void(std::shared_ptr<const platform::Error> error)> failed;
};

/// Judges the outcome as judgeReply does, on the calling thread (the session's
/// delivery thread), parsing the body once, then posts exactly one call to the
/// main queue: the one `accepted` returns, or `failed` with the error.
void deliverReply(std::optional<std::string> body, const std::shared_ptr<const platform::URLResponse>& response,
                  const std::shared_ptr<const platform::Error>& transportError, ServiceReplyHandler handler);

}  // namespace orbisgrove
