// A reply with tens of thousands of distinct header fields, received by the
// session and judged by the reply routine: the cost must grow with the number
// of fields, not with its square (40,000 fields well under a second).
#include <benchmark/benchmark.h>

#include <LocalHttpsService.hpp>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "platform/http/URLSession.hpp"
#include "service/ReplyRoutine.hpp"

namespace orbisgrove::bench {
namespace {

void manyFields(benchmark::State& state) {
  testing::LocalHttpsService service;
  auto reply = testing::Reply::json(R"({"response":"429","data":[{"error":["Slow down."]}]})", 429)
                   .withHeader("X-Rate-Limit-Limit", "1000")
                   .withHeader("X-Rate-Limit-Interval", "3600")
                   .withHeader("X-Rate-Limit-Reset", "1798761600");
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    reply = std::move(reply).withHeader(testing::shortFieldName(static_cast<std::size_t>(i)), "");
  }
  service.setDefaultReply(reply);
  platform::URLSessionConfiguration configuration;
  configuration.additionalTrustedCertificateFiles = {service.caFile()};
  auto session = platform::URLSession::make(configuration);
  const auto url = *platform::URL::fromString(service.url("/explore-api/v1.2/"));
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::optional<ReplyVerdict> verdict;
    platform::URLRequest request(url);
    request.httpMethod = "POST";
    request.httpBody = "q=705";
    session
        ->dataTask(request,
                   [&](auto body, auto response, auto error) {
                     auto judged = judgeReply(body, response, error);
                     const std::lock_guard lock(mutex);
                     verdict = std::move(judged);
                     arrived.notify_one();
                   })
        ->resume();
    std::unique_lock lock(mutex);
    arrived.wait(lock, [&] { return verdict.has_value(); });
    const auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&*verdict);
    if (error == nullptr || !(*error)->localizedRecoverySuggestion()) state.SkipWithError("not judged a rate limit");
  }
}

BENCHMARK(manyFields)
    ->Name("Reply/distinct_fields")
    ->Arg(1000)
    ->Arg(40000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orbisgrove::bench
