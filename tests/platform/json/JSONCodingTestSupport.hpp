// Small record types shaped like the kit's records, and helpers to check the
// errors that coding throws.
#pragma once

#include <orbisgrove/platform/JSONCoding.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orbisgrove::platform::testing {

// A record with a text, an integer and a nested list of texts.
struct Entry {
  std::optional<std::string> title;
  std::shared_ptr<const Number> created;
  std::optional<std::vector<std::string>> tags;

  Entry() = default;
  explicit Entry(const Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    title = container.decodeStringIfPresent("title");
    created = container.decodeInt64IfPresent("created");
    tags = container.decodeIfPresent<std::vector<std::string>>("tags");
  }

  void encode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    container.encode("title", title);
    container.encode("created", created ? created->int64ValueIfExact() : std::nullopt);
    Encoder tagsEncoder = container.encoder("tags");
    Encoding<std::optional<std::vector<std::string>>>::encode(tags, tagsEncoder);
  }
};

// A reply envelope: {"response": text, "data": [entry, ...]}, absent fields left out.
struct Page {
  std::optional<std::string> response;
  std::optional<std::vector<std::shared_ptr<Entry>>> data;

  Page() = default;
  explicit Page(const Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    response = container.decodeStringIfPresent("response");
    data = container.decodeIfPresent<std::vector<std::shared_ptr<Entry>>>("data");
  }

  void encode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    if (response) container.encode("response", response);
    if (data) {
      Encoder dataEncoder = container.encoder("data");
      Encoding<std::vector<std::shared_ptr<Entry>>>::encode(*data, dataEncoder);
    }
  }
};

inline std::int64_t createdOf(const Entry& entry) {
  EXPECT_NE(entry.created, nullptr);
  if (!entry.created) return 0;
  const std::optional<std::int64_t> value = entry.created->int64ValueIfExact();
  EXPECT_TRUE(value.has_value());
  return value.value_or(0);
}

// Runs `action`, expects a CodingError of the JSON domain with `code` and the
// coding path `path`, and returns its error for further checks.
template <class Action>
std::shared_ptr<const Error> expectCodingError(Action&& action, JSONCodingErrorCode code, const std::string& path) {
  try {
    action();
  } catch (const CodingError& failure) {
    const std::shared_ptr<const Error>& error = failure.error();
    EXPECT_NE(error, nullptr);
    if (!error) return nullptr;
    EXPECT_EQ(error->domain(), JSONCodingErrorDomain);
    EXPECT_EQ(error->code(), static_cast<std::int64_t>(code)) << error->description();
    EXPECT_EQ(error->textForKey(JSONCodingPathErrorKey), path) << error->description();
    EXPECT_TRUE(error->localizedFailureReason().has_value());
    return error;
  }
  ADD_FAILURE() << "no CodingError was thrown";
  return nullptr;
}

inline std::string reasonOf(const std::shared_ptr<const Error>& error) {
  return error ? error->localizedFailureReason().value_or("") : "";
}

}  // namespace orbisgrove::platform::testing
