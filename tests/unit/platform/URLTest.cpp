#include "TestPrelude.hpp"

#include <orbisgrove/platform/URL.hpp>

namespace orbisgrove::platform {
namespace {

TEST(URLTest, FromComponentsFormsSchemeAndAuthorityAndResolvesTheServicePath) {
  struct Case {
    const char* text;
    const char* host;
    std::optional<int> port;
  };
  for (const Case& c : std::vector<Case>{{"explore.orbisgrove.com", "explore.orbisgrove.com", std::nullopt},
                                         {"localhost:8443", "localhost", 8443},
                                         {"127.0.0.1:1", "127.0.0.1", 1},
                                         {"[::1]", "[::1]", std::nullopt},
                                         {"[2001:db8::7]:65535", "[2001:db8::7]", 65535}}) {
    SCOPED_TRACE(c.text);
    const auto url = URL::fromComponents("https", c.text);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->absoluteString(), std::string("https://") + c.text);
    EXPECT_EQ(url->scheme(), "https");
    EXPECT_EQ(url->host(), c.host);
    EXPECT_EQ(url->port(), c.port);
    EXPECT_EQ(url->path(), "");
    const auto resolved = url->resolving("/explore-api/v1.2/");
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->absoluteString(), std::string("https://") + c.text + "/explore-api/v1.2/");
    EXPECT_EQ(resolved->port(), c.port);
  }
}

TEST(URLTest, FromComponentsRefusesAnythingButHostAndPort) {
  for (const char* text :
       {"", " ", "example.com ", "exa mple.com", "https://example.com", "example.com/", "example.com?q=712",
        "example.com#top", "user@example.com", "example.com:", "example.com:0", "example.com:65536", "example.com:-1",
        "example.com:44a", "example.com:0443", "::1", "[::1", "[fe80::1%25eth0]", "127.1"}) {
    EXPECT_FALSE(URL::fromComponents("https", text).has_value()) << '"' << text << '"';
  }
  for (const std::string& text :
       {std::string("example.com\n"), std::string("example.com\\evil"), std::string("example.com\0evil", 16)}) {
    EXPECT_FALSE(URL::fromComponents("https", text).has_value()) << text.size();
  }
}

TEST(URLTest, FromStringNormalisesResolvesAndRefusesWhatIsNotAnAbsoluteURL) {
  const auto url = URL::fromString("HTTPS://example.com:8443/a/../b?q=1#f");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->absoluteString(), "https://example.com:8443/b?q=1#f");
  EXPECT_EQ(url->path(), "/b");
  EXPECT_EQ(URL::fromString("https://example.com"), URL::fromString("https://example.com/"));
  EXPECT_NE(URL::fromString("https://example.com/a"), URL::fromString("https://example.com/b"));
  for (const char* text : {"", "example.com", "/relative/path", "https://", "https://exa mple.com/",
                           "https://example.com:0/", "https://example.com:70000/"}) {
    EXPECT_FALSE(URL::fromString(text).has_value()) << text;
  }

  // A fragment-only reference keeps the base's path and query.
  const auto base = URL::fromString("https://example.com/a/b/c?x=1#old");
  EXPECT_EQ(base->resolving("#new")->absoluteString(), "https://example.com/a/b/c?x=1#new");
  EXPECT_EQ(base->resolving("")->absoluteString(), "https://example.com/a/b/c?x=1");
  EXPECT_EQ(base->resolving("../d")->absoluteString(), "https://example.com/a/d");
  EXPECT_FALSE(base->resolving("has space").has_value());
}

}  // namespace
}  // namespace orbisgrove::platform
