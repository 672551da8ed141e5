#include <orbisgrove/platform/URL.hpp>
#include <orbisgrove/platform/URLResponse.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbisgrove::platform {
namespace {

struct HostCase {
  const char* text;
  const char* absolute;
  const char* host;
  std::optional<int> port;
};

TEST(URLFromComponents, FormsSchemeAndAuthorityWithoutTrailingSlash) {
  const std::vector<HostCase> cases = {
      {"explore.orbisgrove.com", "https://explore.orbisgrove.com", "explore.orbisgrove.com", std::nullopt},
      {"localhost:8443", "https://localhost:8443", "localhost", 8443},
      {"127.0.0.1", "https://127.0.0.1", "127.0.0.1", std::nullopt},
      {"127.0.0.1:1", "https://127.0.0.1:1", "127.0.0.1", 1},
      {"[::1]", "https://[::1]", "[::1]", std::nullopt},
      {"[::1]:65535", "https://[::1]:65535", "[::1]", 65535},
      {"[2001:db8::7]:443", "https://[2001:db8::7]:443", "[2001:db8::7]", 443},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto url = URL::fromComponents("https", c.text);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->absoluteString(), c.absolute);
    EXPECT_EQ(url->scheme(), "https");
    EXPECT_EQ(url->host(), c.host);
    EXPECT_EQ(url->port(), c.port);
    EXPECT_EQ(url->path(), "");
  }
}

TEST(URLFromComponents, RefusesAnythingButHostAndPort) {
  const std::vector<std::string> refused = {
      "",
      " ",
      "example.com ",
      " example.com",
      "exa mple.com",
      "example.com\t",
      "example.com\n",
      "https://example.com",
      "example.com/",
      "example.com/explore-api",
      "example.com?q=712",
      "example.com#top",
      "user@example.com",
      "user:secret@example.com:443",
      "example.com:",
      "example.com:0",
      "example.com:65536",
      "example.com:99999999999",
      "example.com:-1",
      "example.com:44a",
      "example.com:0443",
      ":443",
      "::1",
      "[::1",
      "[fe80::1%25eth0]",
      "example.com\\evil",
      std::string("example.com\0evil", 16),
  };
  for (const auto& text : refused) {
    SCOPED_TRACE("\"" + text + "\"");
    EXPECT_FALSE(URL::fromComponents("https", text).has_value());
  }
}

TEST(URLFromComponents, ResolvesTheServicePathAgainstTheEndpoint) {
  for (const auto& [host, expected] : std::vector<std::pair<std::string, std::string>>{
           {"explore.orbisgrove.com", "https://explore.orbisgrove.com/explore-api/v1.2/"},
           {"127.0.0.1:8443", "https://127.0.0.1:8443/explore-api/v1.2/"},
           {"[::1]:9443", "https://[::1]:9443/explore-api/v1.2/"},
       }) {
    SCOPED_TRACE(host);
    const auto endpoint = URL::fromComponents("https", host);
    ASSERT_TRUE(endpoint.has_value());
    const auto resolved = endpoint->resolving("/explore-api/v1.2/");
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->absoluteString(), expected);
    EXPECT_EQ(resolved->path(), "/explore-api/v1.2/");
    EXPECT_EQ(resolved->host(), endpoint->host());
    EXPECT_EQ(resolved->port(), endpoint->port());
  }
}

TEST(URLResolving, FollowsReferenceResolutionRules) {
  const auto base = URL::fromString("https://example.com/a/b/c?x=1#old");
  ASSERT_TRUE(base.has_value());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/explore-api/v1.2/", "https://example.com/explore-api/v1.2/"},
      {"d", "https://example.com/a/b/d"},
      {"../d", "https://example.com/a/d"},
      {"./d/../e", "https://example.com/a/b/e"},
      {"?y=2", "https://example.com/a/b/c?y=2"},
      {"#new", "https://example.com/a/b/c?x=1#new"},
      {"//other.example/p", "https://other.example/p"},
      {"https://third.example:444/q", "https://third.example:444/q"},
  };
  for (const auto& [reference, expected] : cases) {
    SCOPED_TRACE(reference);
    const auto resolved = base->resolving(reference);
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->absoluteString(), expected);
  }
  EXPECT_FALSE(base->resolving("has space").has_value());
}

TEST(URLFromString, NormalisesAndRefusesWhatIsNotAnAbsoluteURL) {
  const auto url = URL::fromString("HTTPS://example.com:8443/a/../b?q=1#f");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->absoluteString(), "https://example.com:8443/b?q=1#f");
  EXPECT_EQ(url->scheme(), "https");
  EXPECT_EQ(url->port(), 8443);
  EXPECT_EQ(url->path(), "/b");
  EXPECT_EQ(URL::fromString("https://example.com"), URL::fromString("https://example.com/"));
  EXPECT_NE(URL::fromString("https://example.com/a"), URL::fromString("https://example.com/b"));

  for (const char* text : {"", "example.com", "/relative/path", "https://", "https://exa mple.com/",
                           "https://example.com:0/", "https://example.com:70000/"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(URL::fromString(text).has_value());
  }
}

TEST(HTTPURLResponse, LooksUpHeaderFieldsByExactName) {
  const auto url = URL::fromString("https://example.com/");
  ASSERT_TRUE(url.has_value());
  const HTTPURLResponse response(*url, 429, {{"X-Rate-Limit-Reset", "1700000000"}, {"content-type", "text/html"}});
  EXPECT_EQ(response.valueForHeaderField("X-Rate-Limit-Reset"), "1700000000");
  EXPECT_EQ(response.valueForHeaderField("content-type"), "text/html");
  EXPECT_FALSE(response.valueForHeaderField("x-rate-limit-reset").has_value());
  EXPECT_FALSE(response.valueForHeaderField("Content-Type").has_value());
  EXPECT_EQ(response.statusCode(), 429);
}

}  // namespace
}  // namespace orbisgrove::platform
