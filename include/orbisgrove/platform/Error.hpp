// The error value every failure reaches a host as: a domain, a signed code and
// a dictionary of user information.
#pragma once

#include <orbisgrove/Export.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace orbisgrove::platform {

class Error;

/// A value of an error's user information: text, integer, double or a nested error.
using UserInfoValue = std::variant<std::string, std::int64_t, double, std::shared_ptr<const Error>>;
/// An error's user information, keyed by text (exact-case).
using UserInfo = std::map<std::string, UserInfoValue, std::less<>>;

/// Why the operation failed, in words.
inline constexpr std::string_view NSLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
/// What the user may do about it, in words.
inline constexpr std::string_view NSLocalizedRecoverySuggestionErrorKey = "NSLocalizedRecoverySuggestion";
/// The lower-level error that caused this one.
inline constexpr std::string_view NSUnderlyingErrorKey = "NSUnderlyingError";

namespace detail {
// The kit's own domain, written once for every layer: the platform builds its
// errors with it, and orbisgrove::OrbisgroveFeedbackErrorDomain names it for hosts.
inline constexpr std::string_view kitErrorDomain = "OrbisgroveFeedbackErrorDomain";
inline constexpr std::int64_t kitErrorCode = -1;
}  // namespace detail

/// What an error value knows about how far its request got, beside its user
/// information (so it never shows in userInfo()). The kit fills it where it
/// knows; an error a host builds has neither fact.
struct DeliveryFacts {
  /// For a transport failure: whether any of the request may have reached the
  /// server (false only when nothing of it left the device).
  std::optional<bool> requestMayHaveReachedServer;
  /// For an error built from an HTTP reply: the reply's status code.
  std::optional<std::int64_t> httpStatusCode;
};

/// An immutable error value. Shared as `std::shared_ptr<const Error>`; a null
/// pointer means "no error".
class ORBISGROVE_EXPORT Error {
 public:
  /// An error of `domain` with `code` and the given user information.
  Error(std::string domain, std::int64_t code, UserInfo userInfo = {}, DeliveryFacts facts = {});

  /// Convenience for the shared form every API hands around.
  static std::shared_ptr<const Error> make(std::string domain, std::int64_t code, UserInfo userInfo = {},
                                           DeliveryFacts facts = {});

  /// Which part of the system failed, e.g. OrbisgroveFeedbackErrorDomain.
  [[nodiscard]] const std::string& domain() const noexcept { return domain_; }
  /// What failed, meaningful within domain().
  [[nodiscard]] std::int64_t code() const noexcept { return code_; }
  /// Everything else known about the failure, by key.
  [[nodiscard]] const UserInfo& userInfo() const noexcept { return userInfo_; }

  /// The text under `key`, if that entry holds text.
  [[nodiscard]] std::optional<std::string> textForKey(std::string_view key) const;
  /// The text under NSLocalizedFailureReasonErrorKey: why it failed, in words.
  [[nodiscard]] std::optional<std::string> localizedFailureReason() const;
  /// The text under NSLocalizedRecoverySuggestionErrorKey: what the user may do.
  [[nodiscard]] std::optional<std::string> localizedRecoverySuggestion() const;
  /// The error under NSUnderlyingErrorKey; null when there is none.
  [[nodiscard]] std::shared_ptr<const Error> underlyingError() const;

  /// How far the request behind this error got, where the kit knows it.
  [[nodiscard]] const DeliveryFacts& deliveryFacts() const noexcept { return facts_; }

  /// One line for logs: domain, code and failure reason when there is one.
  [[nodiscard]] std::string description() const;

 private:
  std::string domain_;
  std::int64_t code_;
  UserInfo userInfo_;
  DeliveryFacts facts_;
};

}  // namespace orbisgrove::platform
