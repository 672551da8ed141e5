// Decoding a categories reply into records: the work the delivery thread does
// once the body of a categories request has arrived (parse, judge the
// envelope, build the records), on the reference service's own 55-category
// reply. And the memory a hostile reply of tiny values makes the decoder take.
//
// The memory figure reads the process's peak resident size, so run it alone:
//   orbisgrove_bench --benchmark_filter='^DecodeMemory/'
#include <benchmark/benchmark.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>
#include <orbisgrove/platform/JSONCoding.hpp>

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>

#include "ServiceProcess.hpp"
#include "model/OrbisgroveExploreAPIEnvelopes.hpp"
#include "model/OrbisgroveReportCategoriesResponse.hpp"
#include "reference_service/CategoryTree.hpp"

namespace orbisgrove::bench {
namespace {

// The bytes the reference service answers the categories operation with.
const std::string& referenceReply() {
  static const std::string body = [] {
    nlohmann::json data = nlohmann::json::array();
    for (const tools::ReferenceCategory& c : tools::referenceCategories()) {
      data.push_back(
          {{"reportId", c.reportId}, {"reportName", c.reportName}, {"parentId", c.parentId}, {"created", c.created}});
    }
    return nlohmann::json{{"response", "201"}, {"data", std::move(data)}}.dump();
  }();
  return body;
}

// Timed from the bytes to the records; the records are freed outside the
// timing, as the host, not the decoding, frees them.
void decodeReply(benchmark::State& state) {
  const std::string& body = referenceReply();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::optional<OrbisgroveReportCategoriesList> categories;
    {
      const platform::JSONDocument document(body);
      const OrbisgroveExploreAPIResult envelope(document.root());
      if (envelope.response == "201") categories = OrbisgroveReportCategoriesResponse(document.root()).categories();
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!categories || categories->size() != 55) {
      state.SkipWithError("the reply did not decode into 55 categories");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
  state.counters["body_bytes"] = static_cast<double>(body.size());
}

void parseReply(benchmark::State& state) {
  const std::string& body = referenceReply();
  for (auto _ : state) {
    const platform::JSONDocument document(body);
    benchmark::DoNotOptimize(document.root());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}

// A 16 MiB array of zeros, the densest JSON there is: one value per two
// bytes. Reports the peak resident growth while decoding it, per body byte.
void tinyValuesMemory(benchmark::State& state) {
  std::string body = "[";
  body.reserve(std::size_t{16} << 20U);
  while (body.size() + 2 < body.capacity()) body += "0,";
  body += "0]";
  for (auto _ : state) {
    const std::size_t before = residentBytes();
    resetPeakResidentBytes();
    bool refused = false;
    try {
      const platform::JSONDocument document(body);
      benchmark::DoNotOptimize(document.root());
    } catch (const platform::CodingError&) {
      refused = true;
    }
    const std::size_t peak = peakResidentBytes();
    state.counters["refused"] = refused ? 1 : 0;
    state.counters["peak_growth_per_body_byte"] =
        static_cast<double>(peak > before ? peak - before : 0) / static_cast<double>(body.size());
  }
}

BENCHMARK(decodeReply)->Name("Decode/categories_reply_55")->UseManualTime();
BENCHMARK(parseReply)->Name("Decode/categories_reply_55_document_only");
BENCHMARK(tinyValuesMemory)->Name("DecodeMemory/tiny_values_16MiB")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orbisgrove::bench
