// JSON coding of records: a decoder that reads a record type from bytes and an
// encoder that writes records back, with coding paths in every failure.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/Number.hpp>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbisgrove::platform {

/// Domain of every failure of JSON coding.
inline constexpr std::string_view JSONCodingErrorDomain = "OrbisgroveJSONCodingErrorDomain";

/// Codes of the JSON coding domain.
enum class JSONCodingErrorCode : std::int64_t {
  /// The bytes are not JSON (or not UTF-8), hold more values than their size
  /// allows, or a number does not fit.
  dataCorrupted = 1,
  /// A value of another JSON type than the one expected.
  typeMismatch = 2,
  /// null where a value is required.
  valueNotFound = 3,
  /// A value that cannot be encoded (text that is not UTF-8).
  invalidValue = 4,
};

/// User-information key of the coding path of a failure ("data[1].created").
inline constexpr std::string_view JSONCodingPathErrorKey = "OrbisgroveCodingPath";

/// Thrown by decoding and encoding; carries the error value. Nothing of the
/// kit's asynchronous API throws it: there it arrives as the handler's error.
class ORBISGROVE_EXPORT CodingError : public std::exception {
 public:
  /// Carries `error` (of JSONCodingErrorDomain).
  explicit CodingError(std::shared_ptr<const Error> error);
  /// The error's one-line description.
  [[nodiscard]] const char* what() const noexcept override;
  /// The error value: domain, code, reason and coding path.
  [[nodiscard]] const std::shared_ptr<const Error>& error() const noexcept { return error_; }

 private:
  std::shared_ptr<const Error> error_;
  std::string what_;
};

namespace detail {
// One step of a coding path. Each decoder or encoder holds its own step and
// points at its parent's, so a path costs nothing until a failure prints it.
struct CodingPathNode {
  const CodingPathNode* parent = nullptr;
  std::string_view key;
  std::size_t index = 0;
  bool isIndex = false;
};
std::string describeCodingPath(const CodingPathNode* node);
}  // namespace detail

class KeyedDecodingContainer;
class UnkeyedDecodingContainer;

/// A position in a parsed JSON document. Decoders and containers are valid
/// only while the decoding that handed them out runs; do not keep them.
class ORBISGROVE_EXPORT Decoder {
 public:
  /// The value as an object. Throws typeMismatch (valueNotFound for null).
  [[nodiscard]] KeyedDecodingContainer container() const;
  /// The value as an array. Throws typeMismatch (valueNotFound for null).
  [[nodiscard]] UnkeyedDecodingContainer unkeyedContainer() const;
  /// Whether the value is JSON null.
  [[nodiscard]] bool decodeNil() const noexcept;
  /// A JSON string. Throws typeMismatch (valueNotFound for null).
  [[nodiscard]] std::string decodeString() const;
  /// A JSON number whose value is an integer in the signed 64-bit range (7.0
  /// counts as 7). Throws dataCorrupted for 7.5 or 2^63, typeMismatch for
  /// other JSON types, valueNotFound for null.
  [[nodiscard]] std::int64_t decodeInt64() const;
  /// "data[1].created"; empty at the top level.
  [[nodiscard]] std::string codingPath() const;

 private:
  friend class KeyedDecodingContainer;
  friend class UnkeyedDecodingContainer;
  friend class JSONDocument;
  Decoder(const void* value, detail::CodingPathNode node) noexcept : value_(value), node_(node) {}

  const void* value_;
  detail::CodingPathNode node_;
};

/// An object's members, looked up by exact key. Unknown keys are ignored; of
/// a key written twice in one object the last one counts. Decoders handed out
/// by a container refer to it for their coding path: keep the container while
/// they are in use.
class ORBISGROVE_EXPORT KeyedDecodingContainer {
 public:
  /// Whether the object has a member `key` (null counts as present).
  [[nodiscard]] bool contains(std::string_view key) const noexcept;
  /// The member's decoder; nothing when the key is missing or its value null.
  [[nodiscard]] std::optional<Decoder> decoderIfPresent(std::string_view key) const;
  /// Text member: nothing when missing or null; throws for a non-string.
  [[nodiscard]] std::optional<std::string> decodeStringIfPresent(std::string_view key) const;
  /// Integer member boxed as a signed 64-bit Number: null pointer when missing
  /// or null; throws as Decoder::decodeInt64 does.
  [[nodiscard]] std::shared_ptr<const Number> decodeInt64IfPresent(std::string_view key) const;
  /// Any decodable type (see Decoding): nothing when missing or null.
  template <class T>
  [[nodiscard]] std::optional<T> decodeIfPresent(std::string_view key) const;

 private:
  friend class Decoder;
  explicit KeyedDecodingContainer(const Decoder& decoder) noexcept : decoder_(decoder) {}
  Decoder decoder_;
};

/// An array's elements, in order.
class ORBISGROVE_EXPORT UnkeyedDecodingContainer {
 public:
  /// Number of elements.
  [[nodiscard]] std::size_t count() const noexcept;
  /// The element's decoder; `index` must be below count().
  [[nodiscard]] Decoder decoder(std::size_t index) const;

 private:
  friend class Decoder;
  explicit UnkeyedDecodingContainer(const Decoder& decoder) noexcept : decoder_(decoder) {}
  Decoder decoder_;
};

/// How a type is decoded. By default a type is constructed from a Decoder (a
/// record's `init(from:)`); texts, shared records, lists and optionals are
/// handled here.
template <class T>
struct Decoding {
  /// Decodes a `T` from the value; throws CodingError.
  static T decode(const Decoder& decoder) { return T(decoder); }
};
/// A JSON string.
template <>
struct Decoding<std::string> {
  /// See Decoder::decodeString().
  static std::string decode(const Decoder& decoder) { return decoder.decodeString(); }
};
/// A JSON integer in the signed 64-bit range.
template <>
struct Decoding<std::int64_t> {
  /// See Decoder::decodeInt64().
  static std::int64_t decode(const Decoder& decoder) { return decoder.decodeInt64(); }
};
/// A record, made shared.
template <class T>
struct Decoding<std::shared_ptr<T>> {
  /// A new `T` constructed from the value.
  static std::shared_ptr<T> decode(const Decoder& decoder) { return std::make_shared<T>(decoder); }
};
/// A value that may be null.
template <class T>
struct Decoding<std::optional<T>> {
  /// Nothing for null, else the decoded `T`.
  static std::optional<T> decode(const Decoder& decoder) {
    if (decoder.decodeNil()) return std::nullopt;
    return Decoding<T>::decode(decoder);
  }
};
/// A JSON array, element by element.
template <class T>
struct Decoding<std::vector<T>> {
  /// The decoded elements in order; throws for the first that fails.
  static std::vector<T> decode(const Decoder& decoder) {
    const UnkeyedDecodingContainer elements = decoder.unkeyedContainer();
    std::vector<T> result;
    result.reserve(elements.count());
    for (std::size_t i = 0; i < elements.count(); ++i) result.push_back(Decoding<T>::decode(elements.decoder(i)));
    return result;
  }
};

template <class T>
std::optional<T> KeyedDecodingContainer::decodeIfPresent(std::string_view key) const {
  const std::optional<Decoder> member = decoderIfPresent(key);
  if (!member) return std::nullopt;
  return Decoding<T>::decode(*member);
}

/// A parsed JSON document. Throws CodingError (dataCorrupted) when the bytes
/// are not a JSON text in UTF-8, when arrays and objects nest more than 512
/// levels deep, or when the text holds more values than one per eight bytes
/// beyond the first 1,024 (which keeps a document's memory within a few times
/// its text).
class ORBISGROVE_EXPORT JSONDocument {
 public:
  /// Parses `bytes`; throws CodingError.
  explicit JSONDocument(std::string_view bytes);
  ~JSONDocument();
  JSONDocument(const JSONDocument&) = delete;
  JSONDocument& operator=(const JSONDocument&) = delete;

  /// The top-level value; valid while the document lives.
  [[nodiscard]] Decoder root() const noexcept;

 private:
  struct Storage;
  std::unique_ptr<Storage> storage_;
};

/// Decodes a type from JSON bytes with default settings. Throws CodingError.
class ORBISGROVE_EXPORT JSONDecoder {
 public:
  /// A `T` decoded from `bytes` (see Decoding); throws CodingError.
  template <class T>
  [[nodiscard]] T decode(std::string_view bytes) const {
    const JSONDocument document(bytes);
    return Decoding<T>::decode(document.root());
  }
};

class KeyedEncodingContainer;
class UnkeyedEncodingContainer;

/// A value being written. Valid only while the encoding that handed it out runs.
class ORBISGROVE_EXPORT Encoder {
 public:
  /// Makes the value an object.
  [[nodiscard]] KeyedEncodingContainer container();
  /// Makes the value an array.
  [[nodiscard]] UnkeyedEncodingContainer unkeyedContainer();
  /// Makes the value null.
  void encodeNil();
  /// Makes the value a string. Throws CodingError (invalidValue) for text
  /// that is not UTF-8.
  void encode(std::string_view text);
  /// Makes the value an integer.
  void encode(std::int64_t value);
  /// "data[1].created"; empty at the top level.
  [[nodiscard]] std::string codingPath() const;

 private:
  friend class KeyedEncodingContainer;
  friend class UnkeyedEncodingContainer;
  friend class JSONEncodingDocument;
  Encoder(void* value, detail::CodingPathNode node) noexcept : value_(value), node_(node) {}

  void* value_;
  detail::CodingPathNode node_;
};

/// An object being written. Keys are written in the order they are encoded;
/// writing a key again replaces its value where it stands.
class ORBISGROVE_EXPORT KeyedEncodingContainer {
 public:
  /// The member's encoder (the member starts as null).
  [[nodiscard]] Encoder encoder(std::string_view key);
  /// Writes null.
  void encodeNil(std::string_view key);
  /// Writes the text, or null when absent.
  void encode(std::string_view key, const std::optional<std::string>& text);
  /// Writes the integer, or null when absent.
  void encode(std::string_view key, std::optional<std::int64_t> value);

 private:
  friend class Encoder;
  explicit KeyedEncodingContainer(const Encoder& encoder) noexcept : encoder_(encoder) {}
  Encoder encoder_;
};

/// An array being written. An element's encoder stays usable after later
/// elements are appended.
class ORBISGROVE_EXPORT UnkeyedEncodingContainer {
 public:
  /// Appends a null element and returns its encoder.
  [[nodiscard]] Encoder appendEncoder();

 private:
  friend class Encoder;
  explicit UnkeyedEncodingContainer(const Encoder& encoder) noexcept : encoder_(encoder) {}
  Encoder encoder_;
  std::size_t count_ = 0;
};

/// How a type is encoded. By default a type encodes itself (a record's
/// `encode(to:)`); shared records (null writes JSON null) and lists are
/// handled here.
template <class T>
struct Encoding {
  /// Calls `value.encode(encoder)`; throws CodingError.
  static void encode(const T& value, Encoder& encoder) { value.encode(encoder); }
};
/// Text, as a JSON string.
template <>
struct Encoding<std::string> {
  /// See Encoder::encode(std::string_view).
  static void encode(const std::string& value, Encoder& encoder) { encoder.encode(std::string_view(value)); }
};
/// An integer, as a JSON number.
template <>
struct Encoding<std::int64_t> {
  /// See Encoder::encode(std::int64_t).
  static void encode(std::int64_t value, Encoder& encoder) { encoder.encode(value); }
};
/// An optional value: null when absent.
template <class T>
struct Encoding<std::optional<T>> {
  /// Null for nothing, else the encoded `T`.
  static void encode(const std::optional<T>& value, Encoder& encoder) {
    if (!value) {
      encoder.encodeNil();
      return;
    }
    Encoding<T>::encode(*value, encoder);
  }
};
/// A shared record: null for a null pointer.
template <class T>
struct Encoding<std::shared_ptr<T>> {
  /// Null for a null pointer, else the record's own encoding.
  static void encode(const std::shared_ptr<T>& value, Encoder& encoder) {
    if (!value) {
      encoder.encodeNil();
      return;
    }
    value->encode(encoder);
  }
};
/// A list, as a JSON array.
template <class T>
struct Encoding<std::vector<T>> {
  /// The elements in order; throws for the first that fails.
  static void encode(const std::vector<T>& values, Encoder& encoder) {
    UnkeyedEncodingContainer elements = encoder.unkeyedContainer();
    for (const T& value : values) {
      Encoder element = elements.appendEncoder();
      Encoding<T>::encode(value, element);
    }
  }
};

/// The JSON value being built by an encoding.
class ORBISGROVE_EXPORT JSONEncodingDocument {
 public:
  JSONEncodingDocument();
  ~JSONEncodingDocument();
  JSONEncodingDocument(const JSONEncodingDocument&) = delete;
  JSONEncodingDocument& operator=(const JSONEncodingDocument&) = delete;

  /// The top-level value (null until written); valid while the document lives.
  [[nodiscard]] Encoder root() noexcept;
  /// Compact UTF-8 JSON text of what has been encoded.
  [[nodiscard]] std::string serialized() const;

 private:
  struct Storage;
  std::unique_ptr<Storage> storage_;
};

/// Encodes a value as compact JSON with default settings. Throws CodingError.
class ORBISGROVE_EXPORT JSONEncoder {
 public:
  /// Compact JSON text of `value` (see Encoding); throws CodingError.
  template <class T>
  [[nodiscard]] std::string encode(const T& value) const {
    JSONEncodingDocument document;
    Encoder root = document.root();
    Encoding<T>::encode(value, root);
    return document.serialized();
  }
};

}  // namespace orbisgrove::platform
