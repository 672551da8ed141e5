// Property-list dictionaries on libplist 2.2, and the files that hold them.
// The files live in a temporary directory that other programs may reach, so
// reading trusts nothing about them: no links are followed, only our own
// regular files of bounded size are read, and the bytes pass a structural
// check before libplist sees them.
#include "platform/files/PropertyList.hpp"

#include "platform/files/PropertyListGuard.hpp"

#include <plist/plist.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string_view>

namespace orbisgrove::platform {
namespace {

constexpr std::size_t kMaximumFileSize = std::size_t{16} << 20;

struct PlistDeleter {
  void operator()(plist_t node) const noexcept { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

// libplist takes keys and strings as C strings; a NUL inside would cut them short.
bool holdsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

std::string xmlOf(plist_t node) {
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  if (!xml) return {};
  std::string text(xml, length);
  plist_to_xml_free(xml);
  return text;
}

// libplist 2.2 keeps every integer as 64 unsigned bits and remembers apart
// whether it is signed, but offers no way to ask. Only its XML writer tells,
// so a value with the top bit set is written out to see its sign.
bool isNegativeInteger(plist_t node) {
  const PlistHandle copy(plist_copy(node));
  if (!copy) return false;
  return xmlOf(copy.get()).find("<integer>-") != std::string::npos;
}

std::optional<double> exactly(std::int64_t value) {
  const auto converted = static_cast<double>(value);
  // 2^63 is the one double the conversion can reach that int64 cannot hold.
  if (converted >= 9223372036854775808.0 || static_cast<std::int64_t>(converted) != value) return std::nullopt;
  return converted;
}

std::optional<double> exactly(std::uint64_t value) {
  const auto converted = static_cast<double>(value);
  if (converted >= 18446744073709551616.0 || static_cast<std::uint64_t>(converted) != value) return std::nullopt;
  return converted;
}

bool writeAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

struct PropertyListDictionary::Storage {
  PlistHandle root;
};

PropertyListDictionary::PropertyListDictionary()
    : storage_(std::make_unique<Storage>(Storage{PlistHandle(plist_new_dict())})) {}
PropertyListDictionary::~PropertyListDictionary() = default;
PropertyListDictionary::PropertyListDictionary(PropertyListDictionary&&) noexcept = default;
PropertyListDictionary& PropertyListDictionary::operator=(PropertyListDictionary&&) noexcept = default;

std::optional<PropertyListDictionary> PropertyListDictionary::fromBytes(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > kMaximumFileSize) return std::nullopt;
  if (!detail::propertyListBytesWithinLimits(bytes)) return std::nullopt;
  // libplist's text parser may look one byte past the end for a terminator;
  // a view of someone else's buffer promises none.
  const std::string terminated(bytes);
  plist_t parsed = nullptr;
  plist_from_memory(terminated.c_str(), static_cast<uint32_t>(terminated.size()), &parsed);
  PlistHandle root(parsed);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
  PropertyListDictionary dictionary;
  dictionary.storage_->root = std::move(root);
  return dictionary;
}

std::string PropertyListDictionary::xmlBytes() const {
  if (storage_ && storage_->root) return xmlOf(storage_->root.get());
  const PlistHandle empty(plist_new_dict());
  return empty ? xmlOf(empty.get()) : std::string();
}

std::size_t PropertyListDictionary::count() const {
  if (!storage_ || !storage_->root) return 0;
  return plist_dict_get_size(storage_->root.get());
}

namespace {

plist_t lookUp(plist_t root, std::string_view key) {
  if (!root || holdsNul(key)) return nullptr;
  return plist_dict_get_item(root, std::string(key).c_str());
}

}  // namespace

PropertyListType PropertyListDictionary::typeOf(std::string_view key) const {
  const plist_t node = lookUp(storage_ ? storage_->root.get() : nullptr, key);
  if (!node) return PropertyListType::absent;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
      return PropertyListType::boolean;
    case PLIST_UINT:
      return PropertyListType::integer;
    case PLIST_REAL:
      return PropertyListType::real;
    case PLIST_STRING:
      return PropertyListType::string;
    case PLIST_DATA:
      return PropertyListType::data;
    case PLIST_DATE:
      return PropertyListType::date;
    case PLIST_ARRAY:
      return PropertyListType::array;
    case PLIST_DICT:
      return PropertyListType::dictionary;
    default:
      return PropertyListType::other;
  }
}

std::optional<double> PropertyListDictionary::exactDouble(std::string_view key) const {
  const plist_t node = lookUp(storage_ ? storage_->root.get() : nullptr, key);
  if (!node) return std::nullopt;
  if (plist_get_node_type(node) == PLIST_REAL) {
    double value = 0;
    plist_get_real_val(node, &value);
    return value;
  }
  if (plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  uint64_t bits = 0;
  plist_get_uint_val(node, &bits);
  if (bits <= static_cast<uint64_t>(INT64_MAX)) return exactly(bits);
  if (isNegativeInteger(node)) return exactly(static_cast<std::int64_t>(bits));
  return exactly(bits);
}

std::optional<std::string> PropertyListDictionary::data(std::string_view key) const {
  const plist_t node = lookUp(storage_ ? storage_->root.get() : nullptr, key);
  if (!node || plist_get_node_type(node) != PLIST_DATA) return std::nullopt;
  uint64_t length = 0;
  const char* bytes = plist_get_data_ptr(node, &length);
  if (!bytes) return std::string();
  return std::string(bytes, static_cast<std::size_t>(length));
}

std::optional<std::string> PropertyListDictionary::string(std::string_view key) const {
  const plist_t node = lookUp(storage_ ? storage_->root.get() : nullptr, key);
  if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  if (!text) return std::string();
  return std::string(text, static_cast<std::size_t>(length));
}

namespace {

// Takes the new node in any case, so that nothing leaks when it is not stored.
void store(PlistHandle& root, std::string_view key, plist_t node) {
  PlistHandle value(node);
  if (!value || holdsNul(key)) return;
  if (!root) root.reset(plist_new_dict());
  if (!root) return;
  plist_dict_set_item(root.get(), std::string(key).c_str(), value.release());
}

}  // namespace

// A moved-from dictionary becomes an empty one again on its next change.
void PropertyListDictionary::setData(std::string_view key, std::string_view bytes) {
  if (!storage_) storage_ = std::make_unique<Storage>();
  store(storage_->root, key, plist_new_data(bytes.data(), bytes.size()));
}

void PropertyListDictionary::setReal(std::string_view key, double value) {
  if (!storage_) storage_ = std::make_unique<Storage>();
  store(storage_->root, key, plist_new_real(value));
}

void PropertyListDictionary::setInteger(std::string_view key, std::int64_t value) {
  if (!storage_) storage_ = std::make_unique<Storage>();
  // Stored as its two's complement; libplist marks it signed and writes a
  // negative value with its minus sign.
  store(storage_->root, key, plist_new_uint(static_cast<uint64_t>(value)));
}

void PropertyListDictionary::setString(std::string_view key, std::string_view value) {
  if (holdsNul(value)) return;
  if (!storage_) storage_ = std::make_unique<Storage>();
  store(storage_->root, key, plist_new_string(std::string(value).c_str()));
}

void PropertyListDictionary::setEmptyArray(std::string_view key) {
  if (!storage_) storage_ = std::make_unique<Storage>();
  store(storage_->root, key, plist_new_array());
}

namespace {

// A file is named by the directory it lies in and its name there; a plain
// path stands for its parent directory (opened as the path names it) and
// its last component.
struct Located {
  int directory = -1;  // owned unless AT_FDCWD
  std::string name;
  Located() = default;
  Located(const Located&) = delete;
  Located& operator=(const Located&) = delete;
  ~Located() {
    if (directory >= 0) ::close(directory);
  }
};

bool locate(const std::string& path, Located& located) {
  if (holdsNul(path)) return false;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    located.directory = AT_FDCWD;
    located.name = path;
    return !path.empty();
  }
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  located.name = path.substr(slash + 1);
  located.directory = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return located.directory >= 0 && !located.name.empty();
}

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos && !holdsNul(name);
}

constexpr std::string_view kTemporarySuffixAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kTemporarySuffixLength = 6;
// A write takes milliseconds; a new file untouched this long belongs to a
// writer that was cut short (killed, out of power) and will never rename it.
constexpr std::time_t kAbandonedAfterSeconds = 60;

std::string temporaryPrefix(const std::string& name) { return "." + name + "."; }

// Removes the new files that cut-short writes of `name` left behind. A live
// writer's file is at most as old as its write; removing one all the same
// only makes that write fail, never damages the file it replaces.
void removeAbandonedTemporaries(int directory, const std::string& name) {
  const int listing = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
  if (listing < 0) return;
  DIR* entries = ::fdopendir(listing);
  if (!entries) {
    ::close(listing);
    return;
  }
  const std::string prefix = temporaryPrefix(name);
  const std::time_t now = std::time(nullptr);
  ::rewinddir(entries);
  while (const dirent* entry = ::readdir(entries)) {
    const std::string_view candidate(entry->d_name);
    if (candidate.size() != prefix.size() + kTemporarySuffixLength || !candidate.starts_with(prefix)) continue;
    struct stat information {};
    if (::fstatat(directory, entry->d_name, &information, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(information.st_mode) || information.st_uid != ::geteuid()) continue;
    if (now - information.st_mtime < kAbandonedAfterSeconds) continue;
    ::unlinkat(directory, entry->d_name, 0);
  }
  ::closedir(entries);
}

// Creates a new private file beside `name` (O_EXCL: never an existing one,
// never through a link), filling `temporary` with its name.
int createTemporary(int directory, const std::string& name, std::string& temporary) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, kTemporarySuffixAlphabet.size() - 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = temporaryPrefix(name);
    for (std::size_t i = 0; i < kTemporarySuffixLength; ++i) temporary += kTemporarySuffixAlphabet[pick(random)];
    const int descriptor =
        ::openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor >= 0 || errno != EEXIST) return descriptor;
  }
  return -1;
}

}  // namespace

bool fileExists(const std::string& path) {
  struct stat information {};
  return ::lstat(path.c_str(), &information) == 0;
}

bool fileExists(int directory, const std::string& name) {
  struct stat information {};
  return isPlainName(name) && ::fstatat(directory, name.c_str(), &information, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<PropertyListDictionary> readPropertyListDictionary(const std::string& path) {
  Located located;
  if (!locate(path, located)) return std::nullopt;
  return readPropertyListDictionary(located.directory, located.name);
}

std::optional<PropertyListDictionary> readPropertyListDictionary(int directory, const std::string& name) {
  auto file = readPropertyListFile(directory, name, {});
  if (!file) return std::nullopt;
  return PropertyListDictionary::fromBytes(file->bytes);
}

std::optional<PropertyListFileBytes> readPropertyListFile(int directory, const std::string& name,
                                                          std::string_view known) {
  if (!isPlainName(name)) return std::nullopt;
  // O_NOFOLLOW refuses a link planted at the path; O_NONBLOCK keeps a FIFO
  // planted there from blocking the open, which fstat then refuses.
  const int descriptor = ::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  struct Closer {
    int descriptor;
    ~Closer() { ::close(descriptor); }
  } closer{descriptor};

  struct stat information {};
  if (::fstat(descriptor, &information) != 0 || !S_ISREG(information.st_mode) || information.st_uid != ::geteuid() ||
      information.st_size < 0 || static_cast<std::uint64_t>(information.st_size) > kMaximumFileSize) {
    return std::nullopt;
  }
  const auto size = static_cast<std::size_t>(information.st_size);
  PropertyListFileBytes file;
  if (!known.empty() && size == known.size()) {
    // Compared as it comes in, through a buffer on the stack: a file that
    // did not change costs no copy and no allocation. Its size as opened is
    // taken as its end, as a reader that raced a writer could have seen.
    std::array<char, 16384> chunk;
    std::size_t matched = 0;
    while (matched < size) {
      const ssize_t received = ::read(descriptor, chunk.data(), std::min(chunk.size(), size - matched));
      if (received < 0) {
        if (errno == EINTR) continue;
        return std::nullopt;
      }
      const auto count = static_cast<std::size_t>(received);
      if (count == 0 || std::memcmp(chunk.data(), known.data() + matched, count) != 0) {
        file.bytes.reserve(size + 1);
        file.bytes.assign(known.substr(0, matched));
        file.bytes.append(chunk.data(), count);
        break;
      }
      matched += count;
    }
    if (matched == size) {
      file.unchanged = true;
      return file;
    }
  }
  // The size is only a hint: the file may be growing. Read one byte past the
  // limit to see whether it went over.
  std::string& bytes = file.bytes;
  std::size_t filled = bytes.size();
  if (filled > kMaximumFileSize) return std::nullopt;
  bytes.resize(std::max(size, filled) + 1, '\0');
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > kMaximumFileSize) return std::nullopt;
      bytes.resize(std::min(bytes.size() * 2, kMaximumFileSize + 1));
    }
    const ssize_t received = ::read(descriptor, bytes.data() + filled, bytes.size() - filled);
    if (received < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (received == 0) break;
    filled += static_cast<std::size_t>(received);
  }
  bytes.resize(filled);
  return file;
}

bool writePropertyListDictionaryAtomically(const PropertyListDictionary& dictionary, const std::string& path) {
  Located located;
  if (!locate(path, located)) return false;
  return writePropertyListDictionaryAtomically(dictionary, located.directory, located.name);
}

bool writePropertyListDictionaryAtomically(const PropertyListDictionary& dictionary, int directory,
                                           const std::string& name) {
  if (!isPlainName(name)) return false;
  const std::string xml = dictionary.xmlBytes();
  if (xml.empty()) return false;
  removeAbandonedTemporaries(directory, name);

  // A new, private file beside the destination, so the rename stays on one
  // file system and a reader sees the old file or the new one, never a part.
  // The rename replaces a link at the destination rather than writing
  // through it. No fsync: the cache can always be fetched again, and after a
  // crash an empty or missing file only reads as no cache.
  std::string temporary;
  const int descriptor = createTemporary(directory, name, temporary);
  if (descriptor < 0) return false;
  bool written = writeAll(descriptor, xml);
  written = ::close(descriptor) == 0 && written;
  if (written && ::renameat(directory, temporary.c_str(), directory, name.c_str()) == 0) return true;
  ::unlinkat(directory, temporary.c_str(), 0);
  return false;
}

}  // namespace orbisgrove::platform
