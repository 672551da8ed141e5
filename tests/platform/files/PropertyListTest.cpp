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

void expectEveryKind(const PropertyListDictionary& dictionary) {
  EXPECT_EQ(dictionary.count(), 10U);
  EXPECT_EQ(dictionary.typeOf("reportCategories"), PropertyListType::data);
  EXPECT_EQ(dictionary.typeOf("timestamp"), PropertyListType::real);
  EXPECT_EQ(dictionary.typeOf("flag"), PropertyListType::boolean);
  EXPECT_EQ(dictionary.typeOf("count"), PropertyListType::integer);
  EXPECT_EQ(dictionary.typeOf("name"), PropertyListType::string);
  EXPECT_EQ(dictionary.typeOf("when"), PropertyListType::date);
  EXPECT_EQ(dictionary.typeOf("list"), PropertyListType::array);
  EXPECT_EQ(dictionary.typeOf("nested"), PropertyListType::dictionary);
  EXPECT_EQ(dictionary.typeOf("missing"), PropertyListType::absent);
  EXPECT_EQ(dictionary.data("reportCategories"), "[1]");
  EXPECT_EQ(dictionary.string("name"), "caf\xc3\xa9 & co");
  EXPECT_EQ(dictionary.exactDouble("timestamp"), 1798761600.25);
  EXPECT_EQ(dictionary.exactDouble("count"), 42.0);
  EXPECT_EQ(dictionary.exactDouble("negative"), -5.0);
  // 2^64 - 1 has no double of its own.
  EXPECT_EQ(dictionary.exactDouble("huge"), std::nullopt);
  // Accessors never convert between kinds.
  EXPECT_EQ(dictionary.exactDouble("name"), std::nullopt);
  EXPECT_EQ(dictionary.exactDouble("flag"), std::nullopt);
  EXPECT_EQ(dictionary.data("name"), std::nullopt);
  EXPECT_EQ(dictionary.string("reportCategories"), std::nullopt);
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
  const auto dictionary =
      PropertyListDictionary::fromBytes(xmlDocument("<dict>"
                                                    "<key>a</key><integer>9007199254740992</integer>"
                                                    "<key>b</key><integer>9007199254740993</integer>"
                                                    "<key>c</key><integer>-9223372036854775808</integer>"
                                                    "<key>d</key><integer>9223372036854775807</integer>"
                                                    "<key>e</key><integer>9223372036854775808</integer>"
                                                    "<key>f</key><integer>-1</integer>"
                                                    "<key>g</key><integer>18446744073709549568</integer>"
                                                    "<key>h</key><real>nan</real>"
                                                    "</dict>"));
  ASSERT_TRUE(dictionary);
  EXPECT_EQ(dictionary->exactDouble("a"), 9007199254740992.0);
  EXPECT_EQ(dictionary->exactDouble("b"), std::nullopt);
  EXPECT_EQ(dictionary->exactDouble("c"), -9223372036854775808.0);
  EXPECT_EQ(dictionary->exactDouble("d"), std::nullopt);
  EXPECT_EQ(dictionary->exactDouble("e"), 9223372036854775808.0);
  EXPECT_EQ(dictionary->exactDouble("f"), -1.0);
  EXPECT_EQ(dictionary->exactDouble("g"), 18446744073709549568.0);
  // A real is a double, whatever its value.
  ASSERT_TRUE(dictionary->exactDouble("h"));
  EXPECT_TRUE(std::isnan(*dictionary->exactDouble("h")));
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

std::string nestedArrays(std::size_t depth) {
  std::string body;
  for (std::size_t i = 0; i < depth; ++i) body += "<array>";
  for (std::size_t i = 0; i < depth; ++i) body += "</array>";
  return xmlDocument("<dict><key>deep</key>" + body + "</dict>");
}

// Each of these crashed or exhausted memory inside libplist before the bytes
// were checked first.
TEST(PropertyListTest, HostileNestingIsRefusedBeforeParsing) {
  // plist and dict take two levels.
  EXPECT_TRUE(PropertyListDictionary::fromBytes(nestedArrays(detail::kPropertyListMaximumDepth - 2)));
  EXPECT_FALSE(PropertyListDictionary::fromBytes(nestedArrays(detail::kPropertyListMaximumDepth - 1)));
  EXPECT_FALSE(PropertyListDictionary::fromBytes(nestedArrays(200000)));  // overflowed the stack
  EXPECT_TRUE(PropertyListDictionary::fromBytes(binaryOf(nestedArrays(detail::kPropertyListMaximumDepth - 2))));
  EXPECT_FALSE(PropertyListDictionary::fromBytes(binaryOf(nestedArrays(1000))));

  // Closing tags or elements hidden where the check does not look.
  EXPECT_FALSE(
      PropertyListDictionary::fromBytes(xmlDocument("<dict><key>a</key><string></array></array></string></dict>")));
  EXPECT_FALSE(PropertyListDictionary::fromBytes(xmlDocument("<dict><!-- <array> --></dict>")));
  EXPECT_FALSE(PropertyListDictionary::fromBytes(xmlDocument("<dict><![CDATA[<array>]]></dict>")));
  EXPECT_FALSE(PropertyListDictionary::fromBytes("<?xml <array>?>" + xmlDocument("<dict/>")));
  EXPECT_TRUE(PropertyListDictionary::fromBytes(xmlDocument("<dict><!-- a comment --></dict>")));
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
