// What every fuzz target shares: a check that stops the run with a message
// libFuzzer keeps beside the input that broke it.
#pragma once

#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/Number.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::fuzzing {

inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::abort();
}

inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A decoding failure must be a complete error value of the JSON coder.
inline void requireCodingError(const platform::CodingError& failure) {
  const auto& error = failure.error();
  require(error != nullptr, "a coding failure without an error value");
  require(error->domain() == platform::JSONCodingErrorDomain, "a coding failure outside the JSON coding domain");
  require(error->code() >= 1 && error->code() <= 4, "a coding failure with an unknown code");
  require(error->localizedFailureReason().has_value() || !error->description().empty(),
          "a coding failure that says nothing");
}

inline bool sameNumber(const std::shared_ptr<const platform::Number>& a,
                       const std::shared_ptr<const platform::Number>& b) {
  if (!a || !b) return !a && !b;
  return a->int64ValueIfExact() == b->int64ValueIfExact() && a->stringValue() == b->stringValue();
}

}  // namespace orbisgrove::fuzzing
