#include "platform/files/PropertyList.hpp"
#include "platform/files/PropertyListGuard.hpp"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace orbisgrove::platform {
namespace {

std::string xmlDocument(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">" +
         body + "</plist>\n";
}

// A dictionary with an entry of every kind, as another program might leave it.
const std::string kEveryKind = xmlDocument(
    "<dict>"
    "<key>reportCategories</key><data>WzFd</data>"
    "<key>timestamp</key><real>1798761600.25</real>"
    "<key>flag</key><true/>"
    "<key>count</key><integer>42</integer>"
    "<key>negative</key><integer>-5</integer>"
    "<key>huge</key><integer>18446744073709551615</integer>"
    "<key>name</key><string>caf\xc3\xa9 &amp; co</string>"
    "<key>when</key><date>2027-01-01T00:00:00Z</date>"
    "<key>list</key><array><integer>1</integer><string>two</string><dict><key>k</key><false/></dict></array>"
    "<key>nested</key><dict><key>inner</key><real>0.5</real></dict>"
    "</dict>");

std::string xmlOfEntry(plist_t root, const char* key) {
  plist_t copy = plist_copy(plist_dict_get_item(root, key));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(copy, &xml, &length);
  std::string text(xml, length);
  plist_to_xml_free(xml);
  plist_free(copy);
  return text;
}

std::string binaryOf(const std::string& xml) {
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  char* binary = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &binary, &length);
  std::string bytes(binary, length);
  plist_to_bin_free(binary);
  plist_free(root);
  return bytes;
}

void expectEveryKind(const PropertyListDictionary& read) {
  EXPECT_EQ(read.count(), 10U);
  using enum PropertyListType;
  for (const auto& [key, type] : {std::pair{"reportCategories", data},
                                  {"timestamp", real},
                                  {"flag", boolean},
                                  {"count", integer},
                                  {"name", string},
                                  {"when", date},
                                  {"list", array},
                                  {"nested", dictionary},
                                  {"missing", absent}}) {
    EXPECT_EQ(read.typeOf(key), type) << key;
  }
  EXPECT_EQ(read.data("reportCategories"), "[1]");
  EXPECT_EQ(read.string("name"), "caf\xc3\xa9 & co");
  // Accessors never convert between kinds; 2^64 - 1 has no double of its own.
  for (const auto& [key, value] : {std::pair{"timestamp", std::optional(1798761600.25)},
                                   {"count", 42.0},
                                   {"negative", -5.0},
                                   {"huge", std::nullopt},
                                   {"name", std::nullopt},
                                   {"flag", std::nullopt}}) {
    EXPECT_EQ(read.exactDouble(key), value) << key;
  }
  EXPECT_EQ(read.data("name"), std::nullopt);
  EXPECT_EQ(read.string("reportCategories"), std::nullopt);
}

// Both forms read alike, and a read-modify-write keeps every entry it does not touch.
TEST(PropertyListTest, ReadsXmlAndBinaryAlikeAndKeepsEntriesNotTouched) {
  for (const std::string& original : {kEveryKind, binaryOf(kEveryKind)}) {
    auto dictionary = PropertyListDictionary::fromBytes(original);
    ASSERT_TRUE(dictionary);
    expectEveryKind(*dictionary);
    dictionary->setData("reportCategories", "[]");
    dictionary->setReal("timestamp", 1.5);
    const std::string written = dictionary->xmlBytes();

    plist_t before = nullptr;
    plist_t after = nullptr;
    plist_from_memory(original.data(), static_cast<uint32_t>(original.size()), &before);
    plist_from_memory(written.data(), static_cast<uint32_t>(written.size()), &after);
    ASSERT_TRUE(before && after);
    EXPECT_EQ(plist_dict_get_size(after), plist_dict_get_size(before));
    for (const char* key : {"flag", "count", "negative", "huge", "name", "when", "list", "nested"}) {
      EXPECT_EQ(xmlOfEntry(after, key), xmlOfEntry(before, key)) << key;
    }
    plist_free(before);
    plist_free(after);
  }
}

TEST(PropertyListTest, IntegersCountOnlyWhenADoubleHoldsThemExactly) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"9007199254740992", 9007199254740992.0},         {"9007199254740993", std::nullopt},
      {"-9223372036854775808", -9223372036854775808.0}, {"9223372036854775807", std::nullopt},
      {"9223372036854775808", 9223372036854775808.0},   {"-1", -1.0},
      {"18446744073709549568", 18446744073709549568.0}};
  for (const auto& [text, value] : cases) {
    const auto dictionary = PropertyListDictionary::fromBytes(
        xmlDocument(std::string("<dict><key>a</key><integer>") + text + "</integer></dict>"));
    ASSERT_TRUE(dictionary);
    EXPECT_EQ(dictionary->exactDouble("a"), value) << text;
  }
  // A real is a double, whatever its value.
  const auto nan = PropertyListDictionary::fromBytes(xmlDocument("<dict><key>h</key><real>nan</real></dict>"));
  EXPECT_TRUE(std::isnan(nan->exactDouble("h").value_or(0)));
}

TEST(PropertyListTest, WrittenEntriesReadBackAndReplaceOthersOfAnyKind) {
  PropertyListDictionary dictionary;
  EXPECT_EQ(dictionary.count(), 0U);
  const std::string bytes("\x00\x01\xff<&>", 6);
  dictionary.setData("data", bytes);
  dictionary.setReal("real", 1798761600.123456);
  dictionary.setInteger("integer", -42);
  dictionary.setInteger("largest", std::numeric_limits<std::int64_t>::max());
  dictionary.setString("string", "a <b> & \"c\"");
  dictionary.setEmptyArray("array");
  dictionary.setString("data", "replaced");

  const auto back = PropertyListDictionary::fromBytes(dictionary.xmlBytes());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->count(), 6U);
  EXPECT_EQ(back->string("data"), "replaced");
  EXPECT_EQ(back->exactDouble("real"), 1798761600.123456);
  EXPECT_EQ(back->exactDouble("integer"), -42.0);
  EXPECT_EQ(back->typeOf("largest"), PropertyListType::integer);
  EXPECT_EQ(back->string("string"), "a <b> & \"c\"");
  EXPECT_EQ(back->typeOf("array"), PropertyListType::array);

  PropertyListDictionary withData;
  withData.setData("bytes", bytes);
  EXPECT_EQ(PropertyListDictionary::fromBytes(withData.xmlBytes())->data("bytes"), bytes);
  // Keys and texts with a NUL are not stored.
  withData.setString(std::string_view("a\0b", 3), "value");
  withData.setString("a", std::string_view("x\0y", 3));
  EXPECT_EQ(withData.count(), 1U);
}

TEST(PropertyListTest, RefusesWhatIsNotADictionary) {
  for (const std::string& bytes :
       {std::string(), std::string("garbage"), std::string("bplist00"), std::string("{\"json\": true}"),
        xmlDocument("<array><true/></array>"), xmlDocument("<string>text</string>"), xmlDocument("<dict><key>a</key>"),
        std::string(1000, '\0')}) {
    EXPECT_FALSE(PropertyListDictionary::fromBytes(bytes)) << bytes;
  }
  EXPECT_FALSE(PropertyListDictionary::fromBytes(binaryOf(xmlDocument("<array><true/></array>"))));
  const std::string binary = binaryOf(kEveryKind);
  EXPECT_FALSE(PropertyListDictionary::fromBytes(binary.substr(0, binary.size() - 1)));
}

TEST(PropertyListTest, RefusesMoreThanSixteenMebibytes) {
  std::string padded = xmlDocument("<dict/>");
  padded.resize(std::size_t{16} << 20, ' ');
  EXPECT_TRUE(PropertyListDictionary::fromBytes(padded));
  padded += ' ';
  EXPECT_FALSE(PropertyListDictionary::fromBytes(padded));
}

std::string nestedArrays(std::size_t depth, std::string_view before = {}, std::string_view after = {}) {
  std::string body(before);
  for (std::size_t i = 0; i < depth; ++i) body += "<array>";
  for (std::size_t i = 0; i < depth; ++i) body += "</array>";
  return xmlDocument("<dict><key>deep</key>" + body.append(after) + "</dict>");
}

// Each hostile one crashed or exhausted memory inside libplist before the
// bytes were checked first; what a host may write by hand still reads.
TEST(PropertyListTest, HostileNestingIsRefusedBeforeParsingAndHostMarkupIsRead) {
  constexpr std::size_t kFits = detail::kPropertyListMaximumDepth - 2;  // plist and dict take two levels
  const std::pair<std::string, bool> cases[] = {
      {nestedArrays(kFits), true},
      {nestedArrays(kFits + 1), false},
      {nestedArrays(200000), false},  // overflowed the stack
      {binaryOf(nestedArrays(kFits)), true},
      {binaryOf(nestedArrays(1000)), false},
      // Closing tags hidden in text; elements hidden behind a terminator in quotes.
      {xmlDocument("<dict><key>a</key><string></array></array></string></dict>"), false},
      {nestedArrays(200000, "<?pi \"?><!--\" ?>", "-->"), false},
      {"<!DOCTYPE plist \"><!--\">" + nestedArrays(200000) + "-->", false},
      // Comments, CDATA and instructions hold what they like, nesting included.
      {"<!-- by hand <b>!</b> -->" + nestedArrays(1, "<!--" + nestedArrays(200000) + "-->"), true},
      {xmlDocument("<dict><?app keep <this>?><key>k</key><string><![CDATA[a<b> & </string>]]></string></dict>"), true},
  };
  for (const auto& [bytes, readable] : cases) {
    EXPECT_EQ(PropertyListDictionary::fromBytes(bytes).has_value(), readable) << bytes.substr(0, 300);
  }
  const auto markup = PropertyListDictionary::fromBytes(cases[std::size(cases) - 1].first);
  EXPECT_EQ(markup->string("k"), "a<b> & </string>");
}

// A binary list whose objects each hold `fanOut` references to the next one:
// a few dozen bytes that expand to fanOut^levels objects.
std::string sharedObjectBomb(unsigned levels, unsigned fanOut) {
  std::string bytes = "bplist00";
  std::vector<std::size_t> offsets;
  offsets.push_back(bytes.size());  // root: a dictionary with one entry
  bytes += '\xD1';
  bytes += static_cast<char>(1);  // key: object 1
  bytes += static_cast<char>(2);  // value: object 2
  offsets.push_back(bytes.size());
  bytes += "\x51k";
  for (unsigned level = 0; level < levels; ++level) {
    offsets.push_back(bytes.size());
    bytes += '\xAF';
    bytes += '\x10';
    bytes += static_cast<char>(fanOut);
    for (unsigned i = 0; i < fanOut; ++i) bytes += static_cast<char>(3 + level);
  }
  offsets.push_back(bytes.size());
  bytes += '\x09';
  const std::size_t table = bytes.size();
  for (const std::size_t offset : offsets) {
    bytes += static_cast<char>(offset >> 8);
    bytes += static_cast<char>(offset & 0xFF);
  }
  bytes += std::string(6, '\0');
  bytes += '\x02';  // offset size
  bytes += '\x01';  // reference size
  const auto bigEndian = [&](std::uint64_t value) {
    for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xFF);
  };
  bigEndian(offsets.size());
  bigEndian(0);
  bigEndian(table);
  return bytes;
}

TEST(PropertyListTest, BinaryObjectsSharedOverAndOverAreRefused) {
  // The same structure within bounds parses.
  const auto small = PropertyListDictionary::fromBytes(sharedObjectBomb(2, 4));
  ASSERT_TRUE(small);
  EXPECT_EQ(small->typeOf("k"), PropertyListType::array);
  // 16^7 objects from a file of under 200 bytes took libplist past 20 GB.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(PropertyListDictionary::fromBytes(sharedObjectBomb(7, 16)));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  // A reference back to an object being read.
  std::string cycle = sharedObjectBomb(1, 1);
  cycle[cycle.find('\xAF') + 3] = '\x02';
  EXPECT_FALSE(PropertyListDictionary::fromBytes(cycle));
}

}  // namespace
}  // namespace orbisgrove::platform
