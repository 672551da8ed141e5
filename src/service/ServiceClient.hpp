// The core of both service clients: a client's answer to its caller, decoded
// from the document the reply routine parsed, on the thread the client names.
#pragma once

#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/JSONCoding.hpp>

#include <functional>
#include <memory>
#include <utility>

#include "service/ReplyRoutine.hpp"

namespace orbisgrove {

/// Where a client decodes its reply record: where the reply arrived (the
/// session's delivery thread), or on the main queue just before the caller's
/// handler runs.
enum class DecodeOn { deliveryThread, mainQueue };

/// A client's handler: its result and no error, or an empty result and an
/// error value.
template <class Result>
using ResultHandler = std::function<void(Result result, std::shared_ptr<const platform::Error> error)>;

/// Decodes a client's result from the root of an accepted reply; throws
/// CodingError.
template <class Result>
using ReplyDecoding = Result (*)(const platform::Decoder& reply);

/// What `decode` makes of a reply, or an empty result and the JSON coder's
/// error.
template <class Result>
struct DecodedReply {
  Result result{};
  std::shared_ptr<const platform::Error> error;

  DecodedReply(const platform::JSONDocument& reply, ReplyDecoding<Result> decode) {
    try {
      result = decode(reply.root());
    } catch (const platform::CodingError& failure) {
      error = failure.error();
    }
  }
};

/// How a client answers its caller: `completion` gets exactly one call on the
/// main queue, with what `decode` makes of an accepted reply (decoded where
/// `where` says) or with the request's error value. An empty `completion` is
/// allowed: the request still runs.
template <DecodeOn where, class Result>
ServiceReplyHandler serviceReplyHandler(ResultHandler<Result> completion, ReplyDecoding<Result> decode) {
  if (!completion) completion = [](Result, std::shared_ptr<const platform::Error>) {};
  auto accepted = [completion, decode](ServiceReply reply) -> std::function<void()> {
    if constexpr (where == DecodeOn::deliveryThread) {
      return [completion, decoded = DecodedReply<Result>(*reply.document, decode)]() mutable {
        completion(std::move(decoded.result), std::move(decoded.error));
      };
    } else {
      return [completion, decode, document = std::move(reply.document)] {
        DecodedReply<Result> decoded(*document, decode);
        completion(std::move(decoded.result), std::move(decoded.error));
      };
    }
  };
  auto failed = [completion](std::shared_ptr<const platform::Error> error) { completion(Result{}, std::move(error)); };
  return {std::move(accepted), std::move(failed)};
}

}  // namespace orbisgrove
