// Property lists in memory and as files.
#include "TestPrelude.hpp"

#include "platform/files/PropertyList.hpp"

#include <plist/plist.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "ScratchFiles.hpp"

namespace orbisgrove::platform {
namespace {

std::string xmlDocument(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">" +
         body + "</plist>\n";
}

// A dictionary with an entry of every kind, as another program might leave it.
const std::string kEveryKind = xmlDocument(
    "<dict><key>reportCategories</key><data>WzFd</data><key>timestamp</key><real>1798761600.25</real>"
    "<key>flag</key><true/><key>count</key><integer>42</integer><key>negative</key><integer>-5</integer>"
    "<key>huge</key><integer>18446744073709551615</integer><key>name</key><string>caf\xc3\xa9 &amp; co</string>"
    "<key>when</key><date>2027-01-01T00:00:00Z</date>"
    "<key>list</key><array><integer>1</integer><string>two</string><dict><key>k</key><false/></dict></array>"
    "<key>nested</key><dict><key>inner</key><real>0.5</real></dict><key>2^53</key><integer>9007199254740992</integer>"
    "<key>2^53+1</key><integer>9007199254740993</integer><key>min</key><integer>-9223372036854775808</integer>"
    "<key>max</key><integer>9223372036854775807</integer><key>2^63</key><integer>9223372036854775808</integer>"
    "<key>top</key><integer>18446744073709549568</integer><key>h</key><real>nan</real></dict>");

// libplist's own XML of one entry.
std::string xmlOf(plist_t root, const char* key) {
  plist_t copy = plist_copy(plist_dict_get_item(root, key));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(copy, &xml, &length);
  std::string text(xml, length);
  plist_to_xml_free(xml);
  plist_free(copy);
  return text;
}

plist_t parsed(const std::string& bytes) {
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  return root;
}

std::string binaryOf(const std::string& xml) {
  plist_t root = parsed(xml);
  char* binary = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &binary, &length);
  std::string bytes(binary, length);
  plist_to_bin_free(binary);
  plist_free(root);
  return bytes;
}

// Both forms read alike, accessors never convert between kinds, and a
// read-modify-write keeps every entry it does not touch.
TEST(PropertyListTest, ReadsXmlAndBinaryAlikeAndKeepsEntriesNotTouched) {
  using enum PropertyListType;
  for (const std::string& original : {kEveryKind, binaryOf(kEveryKind)}) {
    auto read = PropertyListDictionary::fromBytes(original);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->count(), 17U);
    for (const auto& [key, type] : {std::pair{"reportCategories", data},
                                    {"timestamp", real},
                                    {"flag", boolean},
                                    {"count", integer},
                                    {"name", string},
                                    {"when", date},
                                    {"list", array},
                                    {"nested", dictionary},
                                    {"missing", absent}}) {
      EXPECT_EQ(read->typeOf(key), type) << key;
    }
    EXPECT_EQ(read->data("reportCategories"), "[1]");
    EXPECT_EQ(read->string("name"), "caf\xc3\xa9 & co");
    EXPECT_EQ(read->data("name"), std::nullopt);
    EXPECT_EQ(read->string("reportCategories"), std::nullopt);
    // Integers count only when a double holds them exactly (2^64 - 1 has no
    // double of its own); a real is a double, whatever its value.
    for (const auto& [key, value] : {std::pair{"timestamp", std::optional(1798761600.25)},
                                     {"count", 42.0},
                                     {"negative", -5.0},
                                     {"huge", std::nullopt},
                                     {"2^53", 9007199254740992.0},
                                     {"2^53+1", std::nullopt},
                                     {"min", -9223372036854775808.0},
                                     {"max", std::nullopt},
                                     {"2^63", 9223372036854775808.0},
                                     {"top", 18446744073709549568.0},
                                     {"name", std::nullopt},
                                     {"flag", std::nullopt}}) {
      EXPECT_EQ(read->exactDouble(key), value) << key;
    }
    EXPECT_TRUE(std::isnan(read->exactDouble("h").value_or(0)));

    read->setData("reportCategories", "[]");
    read->setReal("timestamp", 1.5);
    plist_t before = parsed(original);
    plist_t after = parsed(read->xmlBytes());
    ASSERT_TRUE(before && after);
    EXPECT_EQ(plist_dict_get_size(after), plist_dict_get_size(before));
    for (const char* key : {"flag", "count", "negative", "huge", "name", "when", "list", "nested"}) {
      EXPECT_EQ(xmlOf(after, key), xmlOf(before, key)) << key;
    }
    plist_free(before);
    plist_free(after);
  }
}

TEST(PropertyListTest, WrittenEntriesReadBackAndReplaceOthersOfAnyKind) {
  PropertyListDictionary written;
  const std::string bytes("\x00\x01\xff<&>", 6);
  written.setData("bytes", bytes);
  written.setReal("real", 1798761600.123456);
  written.setInteger("integer", -42);
  written.setInteger("largest", std::numeric_limits<std::int64_t>::max());
  written.setString("string", "a <b> & \"c\"");
  written.setEmptyArray("array");
  written.setData("replaced", bytes);
  written.setString("replaced", "text");
  // Keys and texts with a NUL are not stored.
  written.setString(std::string_view("a\0b", 3), "value");
  written.setString("a", std::string_view("x\0y", 3));

  const auto back = PropertyListDictionary::fromBytes(written.xmlBytes());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->count(), 7U);
  EXPECT_EQ(back->data("bytes"), bytes);
  EXPECT_EQ(back->string("replaced"), "text");
  EXPECT_EQ(back->exactDouble("real"), 1798761600.123456);
  EXPECT_EQ(back->exactDouble("integer"), -42.0);
  EXPECT_EQ(back->typeOf("largest"), PropertyListType::integer);
  EXPECT_EQ(back->string("string"), "a <b> & \"c\"");
  EXPECT_EQ(back->typeOf("array"), PropertyListType::array);
}

std::string nestedArrays(std::size_t depth, std::string_view before = {}, std::string_view after = {}) {
  std::string body(before);
  for (std::size_t i = 0; i < depth; ++i) body += "<array>";
  for (std::size_t i = 0; i < depth; ++i) body += "</array>";
  return xmlDocument("<dict><key>deep</key>" + body.append(after) + "</dict>");
}

// A binary list whose objects each hold `fanOut` references to the next one:
// a few dozen bytes that expand to fanOut^levels objects. With `cycle`, the
// last level refers back to the one before.
std::string sharedObjectBomb(unsigned levels, unsigned fanOut, bool cycle = false) {
  // The root: a dictionary with one entry, key object 1, value object 2.
  std::vector<std::string> objects{"\xD1\x01\x02", "\x51k"};
  for (unsigned level = 0; level < levels; ++level) {
    objects.push_back(std::string{'\xAF', '\x10', static_cast<char>(fanOut)} +
                      std::string(fanOut, static_cast<char>(cycle ? 2 + level : 3 + level)));
  }
  objects.emplace_back("\x09");
  return orbisgrove::testing::binaryPropertyList(objects);
}

// The hostile ones crashed or exhausted memory inside libplist before the
// bytes were checked first; what a host may write by hand still reads.
TEST(PropertyListTest, RefusesWhatIsNotASafeDictionaryAndReadsHostMarkup) {
  constexpr std::size_t kFits = 100;  // deeper than any list a host writes by hand
  const std::string binary = binaryOf(kEveryKind);
  const std::pair<std::string, bool> cases[] = {
      {std::string(), false},
      {"garbage", false},
      {"bplist00", false},
      {R"({"json": true})", false},
      {std::string(1000, '\0'), false},
      {xmlDocument("<array><true/></array>"), false},
      {binaryOf(xmlDocument("<array><true/></array>")), false},
      {xmlDocument("<dict><key>a</key>"), false},
      {binary.substr(0, binary.size() - 1), false},
      {nestedArrays(kFits), true},
      {nestedArrays(200000), false},  // overflowed the stack
      {binaryOf(nestedArrays(kFits)), true},
      {binaryOf(nestedArrays(1000)), false},
      // Closing tags hidden in text; elements hidden behind a terminator in quotes.
      {xmlDocument("<dict><key>a</key><string></array></array></string></dict>"), false},
      {nestedArrays(200000, "<?pi \"?><!--\" ?>", "-->"), false},
      {"<!DOCTYPE plist \"><!--\">" + nestedArrays(200000) + "-->", false},
      // 16^7 objects from a file of under 200 bytes took libplist past 20 GB.
      {sharedObjectBomb(2, 4), true},
      {sharedObjectBomb(7, 16), false},
      {sharedObjectBomb(1, 1, true), false},
      // Comments, CDATA and instructions hold what they like, nesting included.
      {"<!-- by hand <b>!</b> -->" + nestedArrays(1, "<!--" + nestedArrays(200000) + "-->"), true},
      {xmlDocument("<dict><?app keep <this>?><key>k</key><string><![CDATA[a<b> & </string>]]></string></dict>"), true},
  };
  for (const auto& [bytes, readable] : cases) {
    EXPECT_EQ(PropertyListDictionary::fromBytes(bytes).has_value(), readable) << bytes.substr(0, 300);
  }
  EXPECT_EQ(PropertyListDictionary::fromBytes(cases[std::size(cases) - 1].first)->string("k"), "a<b> & </string>");
}

using orbisgrove::testing::ScratchDirectory;

PropertyListDictionary cacheLike(double timestamp, std::size_t payloadSize) {
  PropertyListDictionary dictionary;
  dictionary.setData("reportCategories", std::string(payloadSize, 'x'));
  dictionary.setReal("timestamp", timestamp);
  return dictionary;
}

TEST(PropertyListTest, WritesAPrivateXmlFileThatReadsBackAndClearsWhatCutShortWritesLeft) {
  const ScratchDirectory scratch;
  const std::string path = scratch / "cache.plist";
  // An hour-old new file of a killed writer goes; a running writer's file and the host's own stay.
  for (const char* name : {".cache.plist.Ab3xYz", ".cache.plist.Running", ".cache.plist.hosts-own"}) {
    std::ofstream(scratch / name) << "partial";
  }
  const timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  for (const char* name : {".cache.plist.Ab3xYz", ".cache.plist.hosts-own"}) {
    ASSERT_EQ(::utimensat(AT_FDCWD, (scratch / name).c_str(), hourAgo, 0), 0);
  }
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(1798761600.5, 10), path));
  EXPECT_TRUE(fileExists(path));
  struct stat information {};
  ASSERT_EQ(::lstat(path.c_str(), &information), 0);
  EXPECT_EQ(information.st_mode & 0777, 0600U);

  const auto back = readPropertyListDictionary(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->exactDouble("timestamp"), 1798761600.5);
  EXPECT_EQ(back->data("reportCategories"), std::string(10, 'x'));
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"cache.plist", ".cache.plist.Running", ".cache.plist.hosts-own"}));
  EXPECT_FALSE(writePropertyListDictionaryAtomically(cacheLike(3, 1), scratch / "missing/cache.plist"));
}

TEST(PropertyListTest, ReadsNothingFromWhatIsNotOurOwnRegularFile) {
  const ScratchDirectory scratch;
  const std::string target = scratch / "target.plist";
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(1, 1), target));
  EXPECT_TRUE(readPropertyListDictionary(target));
  ASSERT_EQ(::symlink(target.c_str(), (scratch / "link").c_str()), 0);
  ASSERT_EQ(::symlink((scratch / "nowhere").c_str(), (scratch / "dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo((scratch / "fifo").c_str(), 0600), 0);  // would block a plain open for good
  for (const char* name : {"missing", "link", "dangling", "fifo"}) {
    EXPECT_FALSE(readPropertyListDictionary(scratch / name)) << name;
  }
  EXPECT_FALSE(readPropertyListDictionary(scratch.path()));
  if (::geteuid() == 0) {  // only root can give a file away
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(readPropertyListDictionary(target));
  }
}

}  // namespace
}  // namespace orbisgrove::platform
