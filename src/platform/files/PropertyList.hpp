// Property-list files: a dictionary read from XML or binary, written as XML.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::platform {

enum class PropertyListType { absent, boolean, integer, real, string, data, date, array, dictionary, other };

/// A property-list dictionary. Entries the kit does not touch are kept as
/// they were read, whatever their type. Keys and strings holding a NUL cannot
/// be stored; such a setter call changes nothing.
class PropertyListDictionary {
 public:
  PropertyListDictionary();
  ~PropertyListDictionary();
  PropertyListDictionary(PropertyListDictionary&&) noexcept;
  PropertyListDictionary& operator=(PropertyListDictionary&&) noexcept;
  PropertyListDictionary(const PropertyListDictionary&) = delete;
  PropertyListDictionary& operator=(const PropertyListDictionary&) = delete;

  /// Parses XML or binary property-list bytes; nothing unless the root is a
  /// dictionary (binary: naming each key once, without NUL), and nothing for
  /// bytes over 16 MiB, nested deeper than 128 levels or (binary) expanding
  /// to more than 2^21 objects through shared ones.
  static std::optional<PropertyListDictionary> fromBytes(std::string_view bytes);
  /// The dictionary as an XML property list.
  [[nodiscard]] std::string xmlBytes() const;

  [[nodiscard]] std::size_t count() const;
  [[nodiscard]] PropertyListType typeOf(std::string_view key) const;
  /// An integer or real entry, only when a double holds its value exactly.
  [[nodiscard]] std::optional<double> exactDouble(std::string_view key) const;
  [[nodiscard]] std::optional<std::string> data(std::string_view key) const;
  [[nodiscard]] std::optional<std::string> string(std::string_view key) const;

  void setData(std::string_view key, std::string_view bytes);
  void setReal(std::string_view key, double value);
  void setInteger(std::string_view key, std::int64_t value);
  void setString(std::string_view key, std::string_view value);
  void setEmptyArray(std::string_view key);

 private:
  struct Storage;
  std::unique_ptr<Storage> storage_;
};

/// Whether anything (file, directory, link) exists at `path`.
bool fileExists(const std::string& path);
/// The same for `name` inside the open directory `directory`.
bool fileExists(int directory, const std::string& name);

/// Reads a dictionary from a property-list file (XML or binary). Nothing when
/// the file is missing, unreadable, larger than 16 MiB, a symlink, not owned
/// by this user, not a property list, or not a dictionary at its root.
std::optional<PropertyListDictionary> readPropertyListDictionary(const std::string& path);
/// The same for `name` inside the open directory `directory`.
std::optional<PropertyListDictionary> readPropertyListDictionary(int directory, const std::string& name);
/// What readPropertyListFile() found: the file's bytes, or that they are
/// exactly the bytes the caller already knows (then `bytes` stays empty).
struct PropertyListFileBytes {
  bool unchanged = false;
  std::string bytes;
};
/// The bytes that readPropertyListDictionary() would parse, read with the same
/// checks; nothing where it gives nothing before parsing. A non-empty `known`
/// is compared with the file as it is read.
std::optional<PropertyListFileBytes> readPropertyListFile(int directory, const std::string& name,
                                                          std::string_view known);

/// Writes the dictionary as an XML property list atomically: a new file in the
/// same directory, then a rename over `path`, so a reader sees the old or the
/// new content, never a part. A failure leaves the old file untouched. A link
/// at `path` is replaced, never written through. New files of writes that
/// were cut short (".<name>.XXXXXX", untouched for a minute) are removed. Not
/// synced to disk: after a system crash the file may be empty, which reads as
/// no dictionary.
bool writePropertyListDictionaryAtomically(const PropertyListDictionary& dictionary, const std::string& path);
/// The same for `name` inside the open directory `directory`.
bool writePropertyListDictionaryAtomically(const PropertyListDictionary& dictionary, int directory,
                                           const std::string& name);

}  // namespace orbisgrove::platform
