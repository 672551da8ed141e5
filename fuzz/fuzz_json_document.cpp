// The document reader against an independent parser (nlohmann's): both accept
// the same texts, and read the same values from them. The one deliberate
// difference: that parser takes a NUL byte for the end of the text, while the
// reader refuses any text with a NUL byte outside a string.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <string>

#include "FuzzSupport.hpp"

namespace {

using namespace orbisgrove;
using fuzzing::require;

void requireSame(const platform::Decoder& decoder, const nlohmann::json& expected) {
  using Type = nlohmann::json::value_t;
  switch (expected.type()) {
    case Type::null:
      require(decoder.decodeNil(), "null read as something else");
      return;
    case Type::string:
      require(decoder.decodeString() == expected.get<std::string>(), "a string read differently");
      return;
    case Type::number_integer:
      require(decoder.decodeInt64() == expected.get<std::int64_t>(), "an integer read differently");
      return;
    case Type::number_unsigned:
      if (expected.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        require(decoder.decodeInt64() == expected.get<std::int64_t>(), "an integer read differently");
      }
      return;
    case Type::array: {
      const platform::UnkeyedDecodingContainer elements = decoder.unkeyedContainer();
      require(elements.count() == expected.size(), "an array of another length");
      for (std::size_t i = 0; i < elements.count(); ++i) requireSame(elements.decoder(i), expected[i]);
      return;
    }
    case Type::object: {
      const platform::KeyedDecodingContainer members = decoder.container();
      for (const auto& [key, value] : expected.items()) {
        require(members.contains(key), "a member went missing");
        if (const auto member = members.decoderIfPresent(key)) requireSame(*member, value);
      }
      return;
    }
    default:  // booleans and floats: their acceptance is what counts
      return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(fuzzing::bytesOf(data, size));
  const bool json = bytes.find('\0') == std::string::npos && nlohmann::json::accept(bytes);
  try {
    const platform::JSONDocument document(bytes);
    require(json, "the reader accepted what is not JSON");
    requireSame(document.root(), nlohmann::json::parse(bytes));
  } catch (const platform::CodingError& failure) {
    fuzzing::requireCodingError(failure);
    require(!json, "the reader refused JSON");
  }
  return 0;
}
