#include "ExploreEndpoint.hpp"

#include <charconv>
#include <cstdint>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

#include "CategoryTree.hpp"

namespace orbisgrove::tools {
namespace {

// Replies quote parts of the request back; invalid UTF-8 in them must not
// turn into an exception on a server thread.
std::string dump(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

EndpointReply errorReply(int status, const std::vector<std::string>& messages) {
  return {status, {}, errorEnvelope(status, messages)};
}

std::string utcText(std::time_t seconds) {
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return std::string(text, length);
}

std::optional<std::int64_t> asInteger(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool isFormContentType(std::string_view contentType) {
  const std::string_view media = contentType.substr(0, contentType.find(';'));
  const std::size_t first = media.find_first_not_of(" \t");
  const std::size_t last = media.find_last_not_of(" \t");
  if (first == std::string_view::npos) return false;
  const std::string_view trimmed = media.substr(first, last - first + 1);
  constexpr std::string_view expected = "application/x-www-form-urlencoded";
  if (trimmed.size() != expected.size()) return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    char c = trimmed[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != expected[i]) return false;
  }
  return true;
}

}  // namespace

std::string errorEnvelope(int code, const std::vector<std::string>& messages) {
  return dump({{"response", std::to_string(code)}, {"data", {{{"error", messages}}}}});
}

const std::string& categoriesReplyBody() {
  static const std::string body = [] {
    nlohmann::json data = nlohmann::json::array();
    for (const ReferenceCategory& c : referenceCategories()) {
      data.push_back(
          {{"reportId", c.reportId}, {"reportName", c.reportName}, {"parentId", c.parentId}, {"created", c.created}});
    }
    return dump({{"response", "201"}, {"data", std::move(data)}});
  }();
  return body;
}

ExploreEndpoint::ExploreEndpoint(std::string hostAndPort, Clock clock, ReportStore store,
                                 FixedWindowRateLimiter limiter)
    : hostAndPort_(std::move(hostAndPort)),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::system_clock::now(); })),
      store_(std::move(store)),
      limiter_(std::move(limiter)) {}

EndpointReply ExploreEndpoint::handle(const EndpointRequest& request) {
  if (request.path == kExplorePath) {
    if (request.method != "POST") {
      EndpointReply reply = errorReply(405, {"Method " + request.method + " is not allowed here; use POST."});
      reply.headers.emplace_back("Allow", "POST");
      return reply;
    }
    return handleForm(request);
  }
  if (request.path.size() > kReportsPath.size() && request.path.starts_with(kReportsPath)) {
    if (request.method != "GET" && request.method != "HEAD") {
      EndpointReply reply = errorReply(405, {"Method " + request.method + " is not allowed here; use GET."});
      reply.headers.emplace_back("Allow", "GET, HEAD");
      return reply;
    }
    return readReport(std::string_view(request.path).substr(kReportsPath.size()));
  }
  return errorReply(404, {"There is nothing at " + request.path + "."});
}

EndpointReply ExploreEndpoint::handleForm(const EndpointRequest& request) {
  FormVerdict verdict = checkForm(request.body);
  if (verdict.status == 401) return errorReply(401, verdict.messages);
  if (!isFormContentType(request.contentType)) {
    verdict.messages.insert(verdict.messages.begin(), "Content-Type must be application/x-www-form-urlencoded.");
    return errorReply(400, verdict.messages);
  }
  if (verdict.status != 200) return errorReply(verdict.status, verdict.messages);
  if (verdict.operation == Operation::categories) return {200, {}, categoriesReplyBody()};
  return saveReport(request, std::move(*verdict.report));
}

EndpointReply ExploreEndpoint::saveReport(const EndpointRequest& request, SubmittedReport submitted) {
  const auto now = clock_();
  const ReferenceCategory* child = findReferenceCategory(submitted.childCategory.id);
  // checkForm accepted the ids, so both name categories of the tree.
  const std::string childName = child != nullptr ? child->reportName : std::string();
  const std::optional<std::int64_t> listId = asInteger(submitted.parentCategory.id);

  std::lock_guard lock(mutex_);
  if (!limiter_.allows(request.remoteAddress, now)) {
    EndpointReply reply = errorReply(429, {"Too many requests."});
    reply.headers.emplace_back("X-Rate-Limit-Limit", std::to_string(limiter_.limit()));
    reply.headers.emplace_back("X-Rate-Limit-Interval", std::to_string(limiter_.interval().count()));
    reply.headers.emplace_back("X-Rate-Limit-Reset", std::to_string(limiter_.windowEnd(now)));
    return reply;
  }

  StoredReport report;
  report.receivedAt = std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count();
  report.time = utcText(static_cast<std::time_t>(report.receivedAt));
  report.client = request.remoteAddress;
  report.categoryName = childName;
  report.submitted = std::move(submitted);
  const StoredReport* stored = nullptr;
  try {
    stored = &store_.add(std::move(report));
  } catch (const std::runtime_error&) {
    return errorReply(500, {"The report could not be stored."});
  }
  limiter_.record(request.remoteAddress, now);

  nlohmann::json data = {{"dataCount", store_.size()},
                         {"name", stored->categoryName},
                         {"exist", 1},
                         {"id", stored->id},
                         {"time", stored->time},
                         {"url", "https://" + hostAndPort_ + std::string(kReportsPath) + stored->id}};
  if (listId) data["listId"] = *listId;
  return {200, {}, dump({{"response", "201"}, {"data", std::move(data)}})};
}

EndpointReply ExploreEndpoint::readReport(std::string_view id) const {
  std::lock_guard lock(mutex_);
  const StoredReport* report = store_.find(id);
  if (report == nullptr) return errorReply(404, {"There is no report " + std::string(id) + "."});
  return {200, {}, dump({{"response", "201"}, {"data", toJson(*report)}})};
}

std::size_t ExploreEndpoint::reportCount() const {
  std::lock_guard lock(mutex_);
  return store_.size();
}

std::vector<StoredReport> ExploreEndpoint::reports() const {
  std::lock_guard lock(mutex_);
  return store_.all();
}

}  // namespace orbisgrove::tools
