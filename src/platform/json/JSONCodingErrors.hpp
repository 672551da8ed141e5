// Building the error values of JSON coding. Only failures come here, so the
// coding path is turned into text only when something went wrong.
#pragma once

#include <orbisgrove/platform/JSONCoding.hpp>

#include <string>
#include <string_view>

namespace orbisgrove::platform::detail {

/// The error value of the JSON coding domain with its failure reason and path.
[[nodiscard]] std::shared_ptr<const Error> makeCodingError(JSONCodingErrorCode code, std::string reason,
                                                           std::string path);

/// Throws a CodingError whose reason is "<what> at <path> but found <found>.";
/// the top level reads "at the top level".
[[noreturn]] void throwExpectation(JSONCodingErrorCode code, const CodingPathNode& node, std::string_view expected,
                                   std::string_view found);

}  // namespace orbisgrove::platform::detail
