// Judging what a service request delivered: success by the result envelope's
// "201", otherwise an error value built from the service's messages.
#pragma once

#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URLResponse.hpp>

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {

/// The message used when the service gives none.
inline constexpr std::string_view kDefaultServiceMessage = "Parameters are invalid or some server error.";
/// Key of the service's message in the reply fields handed to descriptiveError.
inline constexpr std::string_view kServiceMessageKey = "message";

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

/// Judges the reply on the calling thread, then posts exactly one handler call
/// to the main queue.
void deliverReply(std::optional<std::string> body, std::shared_ptr<const platform::URLResponse> response,
                  std::shared_ptr<const platform::Error> transportError, ServiceBodyHandler completionHandler,
                  ServiceErrorHandler errorHandler);
/// The same, handing a success over as the document parsed to judge it.
void deliverReply(std::optional<std::string> body, std::shared_ptr<const platform::URLResponse> response,
                  std::shared_ptr<const platform::Error> transportError,
                  const ServiceDocumentHandler& completionHandler, ServiceErrorHandler errorHandler);

}  // namespace orbisgrove
