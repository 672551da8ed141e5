// What both service clients share to reach the service: the base URL from a
// host text, the operations' URL, the request settings and the fixed form.
#pragma once

#include <orbisgrove/platform/DataTask.hpp>
#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URL.hpp>

#include "platform/http/URLSession.hpp"
#include "service/ReplyRoutine.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove {

/// The client key sent in every request body.
inline constexpr std::string_view kServiceClientKey = "tV3nQe8LpZk2RwXa0MfYc7HsJd9=";
/// Path of both service operations.
inline constexpr std::string_view kServicePath = "/explore-api/v1.2/";
/// Seconds a request may take.
inline constexpr double kServiceRequestTimeout = 60.0;

/// The host that clients made without a host talk to.
std::string_view defaultServiceHost() noexcept;

/// https://<host> for a host name, IPv4 address or bracketed IPv6 address with
/// an optional ":port"; the default service host when `host` is absent.
/// Throws std::invalid_argument naming the text when no https URL can be
/// formed from it: a programming error, reported at once.
platform::URL serviceEndpoint(const std::optional<std::string>& host);

/// The service path resolved against `endpoint` (replacing any path it has).
platform::URL serviceURL(const platform::URL& endpoint);

/// The form pieces every request starts with, for operation `operation`:
/// "q=<operation>&layer=explore&client=104&key=<client key>&apptype=native".
std::string serviceFormPrefix(std::string_view operation);

/// Whether the transport may send a request again on its own: only one that
/// changes nothing on the service (the categories operation) may be.
enum class ServiceResend { never, allowed };

/// A suspended data task of the shared session: POST `body` to `url` with the
/// one header "Content-Type: application/x-www-form-urlencoded", the
/// protocol's cache policy and a 60-second timeout. Its reply is judged by
/// the reply routine, which posts exactly one call of `handler` to the main
/// queue once the task ends (also when it is cancelled).
std::shared_ptr<platform::DataTask> makeServiceDataTask(const platform::URL& url, std::string body,
                                                        ServiceReplyHandler handler,
                                                        ServiceResend resend = ServiceResend::never);
/// The same request, its outcome handed over unjudged on the session's
/// delivery thread (the outbox judges and stores it there). The outbox sends
/// submissions through it, so the transport must never send it again on its
/// own: a resend nobody asked for can store a second copy.
/// `onRequestStart` (may be empty) is told when the request starts to go out
/// (see URLSession::RequestStartHook).
std::shared_ptr<platform::DataTask> makeRawServiceDataTask(const platform::URL& url, std::string body,
                                                           platform::URLSession::CompletionHandler completion,
                                                           platform::URLSession::RequestStartHook onRequestStart = {});

}  // namespace orbisgrove
