// The reply routine on whatever a hostile or broken service can send: body,
// status and header fields (the rate-limit ones included) all come from the
// input. The verdict is a success exactly for the "201" envelope, every
// failure is a complete error value, and delivery posts exactly one handler.
//
// Input: one flag byte (bit 0: a body arrived, bit 1: an HTTP reply arrived,
// bit 2: a transport error occurred), two bytes of status code (big endian,
// taken modulo 1000), then header lines "Name: value" up to an empty line,
// then the body.
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/platform/URLError.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>

#include "FuzzSupport.hpp"
#include "platform/http/TransportError.hpp"
#include "service/ReplyRoutine.hpp"

namespace {

using namespace orbisgrove;
using fuzzing::require;

const platform::URL& replyURL() {
  static const auto* url = new platform::URL(*platform::URL::fromString("https://127.0.0.1/explore-api/v1.2/"));
  return *url;
}

platform::HTTPHeaderFields headerFields(std::string_view& rest) {
  platform::HTTPHeaderFields fields;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    fields[std::string(line.substr(0, colon))] = std::string(value);
  }
  return fields;
}

bool isSuccessEnvelope(const std::string& body) {
  try {
    const platform::JSONDocument document(body);
    return document.root().container().decodeStringIfPresent("response") == "201";
  } catch (const platform::CodingError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const unsigned flags = data[0];
  const int status = ((data[1] << 8) | data[2]) % 1000;
  std::string_view rest = fuzzing::bytesOf(data + 3, size - 3);
  auto fields = headerFields(rest);

  const std::optional<std::string> body = (flags & 1) ? std::optional<std::string>(rest) : std::nullopt;
  std::shared_ptr<const platform::URLResponse> response;
  if (flags & 2) response = std::make_shared<const platform::HTTPURLResponse>(replyURL(), status, std::move(fields));
  std::shared_ptr<const platform::Error> transportError;
  if (flags & 4) {
    transportError = platform::http::makeTransportError(platform::URLErrorCode::networkConnectionLost, "cut short",
                                                        replyURL().absoluteString(), (flags & 8) != 0);
  }

  const ReplyVerdict verdict = judgeReply(body, response, transportError);
  if (const auto* success = std::get_if<std::string>(&verdict)) {
    require(body && *success == *body, "a success that does not carry the body");
    require(isSuccessEnvelope(*body), "a success without the \"201\" envelope");
  } else {
    const auto& error = std::get<std::shared_ptr<const platform::Error>>(verdict);
    require(error != nullptr, "a failure without an error value");
    if (!body) {
      require(
          !transportError || (error->domain() == platform::URLErrorDomain && error->code() == transportError->code()),
          "a transport failure lost its domain or code");
      require(transportError || error->domain() == OrbisgroveFeedbackErrorDomain,
              "a failure without body or transport error outside the kit's domain");
    } else {
      require(!isSuccessEnvelope(*body), "the \"201\" envelope judged a failure");
      require(error->domain() == OrbisgroveFeedbackErrorDomain || error->domain() == platform::JSONCodingErrorDomain ||
                  error->domain() == platform::URLErrorDomain,
              "a failure in an unknown domain");
    }
    if (response && error->domain() != platform::JSONCodingErrorDomain) {
      require(error->localizedFailureReason().has_value(), "a failed HTTP reply without a failure reason");
    }
    (void)error->description();
  }

  // Delivery: exactly one of the two handlers, once, through the main queue.
  int successes = 0;
  int failures = 0;
  deliverReply(body, response, transportError,
               {[&](ServiceReply) { return [&] { ++successes; }; },
                [&](std::shared_ptr<const platform::Error> error) {
                  require(error != nullptr, "a null error delivered");
                  ++failures;
                }});
  platform::MainQueue::shared().drain();
  require(successes + failures == 1, "delivery did not call exactly one handler once");
  require((successes == 1) == std::holds_alternative<std::string>(verdict), "delivery disagrees with the verdict");
  return 0;
}
