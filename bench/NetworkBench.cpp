// The kit's requests against raw libcurl, both talking to the same local
// HTTPS service (a child process), with the same request body, header fields,
// TLS settings (peer and host verified, TLS 1.2 or later, the service's
// authority trusted) and, for concurrent work, the same limit of 6
// connections to the host that the kit's session sets.
#include <benchmark/benchmark.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>

#include "ServiceProcess.hpp"
#include "platform/core/ApplicationIdentity.hpp"
#include "platform/http/URLSession.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"
#include "service/SaveUserDataForm.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove::bench {
namespace {

constexpr std::size_t kReplyCategories = 55;  // the size of the reference service's tree
constexpr int kConcurrent = 500;
// The kit's session's limits: connections per host, idle connections kept.
constexpr long kConnectionsPerHost = 6;
constexpr long kCachedConnections = 12;
constexpr std::chrono::seconds kPatience{60};

using Clock = std::chrono::steady_clock;

ServiceProcess& service() { return ServiceProcess::shared(); }

std::string serviceURL() { return service().url(std::string(kServicePath)); }

const OrbisgroveSaveUserDataOptions& submission() {
  static const auto options = [] {
    const auto categories = platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(categoriesArray(2));
    return OrbisgroveSaveUserDataOptions::initWithCoordinate({52.520008, 13.404954}, categories[0], categories[1],
                                                             "The road is closed for construction until June.");
  }();
  return *options;
}

// The body the kit sends for a submission, byte for byte.
const std::string& submissionBody() {
  static const std::string body = saveUserDataFormBody(submission(), platform::mainBundleIdentifier());
  return body;
}

const std::string& categoriesBody() {
  static const std::string body = serviceFormPrefix("712") + "&val=401*401*401";
  return body;
}

// ---- raw libcurl ----------------------------------------------------------

struct RawTransfer {
  CURL* easy = nullptr;
  std::string body;
};

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* context) {
  static_cast<RawTransfer*>(context)->body.append(data, size * count);
  return size * count;
}

curl_slist* rawHeaders() {
  // What the kit sends: the caller's Content-Type, no Accept, no Expect.
  static curl_slist* const headers = [] {
    curl_slist* list = curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
    list = curl_slist_append(list, "Accept:");
    return curl_slist_append(list, "Expect:");
  }();
  return headers;
}

void configureRaw(RawTransfer& transfer, const std::string& url, const std::string& body) {
  CURL* easy = transfer.easy;
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(easy, CURLOPT_CAINFO, service().caFile().c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, rawHeaders());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
}

bool succeeded(const RawTransfer& transfer, std::size_t expectedBody) {
  long status = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
  return status == 200 && transfer.body.size() == expectedBody;
}

CURLM* rawMulti() {
  // Kept for the whole run, as the kit's session keeps its connections.
  static CURLM* const multi = [] {
    CURLM* handle = curl_multi_init();
    curl_multi_setopt(handle, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(handle, CURLMOPT_MAX_HOST_CONNECTIONS, kConnectionsPerHost);
    curl_multi_setopt(handle, CURLMOPT_MAXCONNECTS, kCachedConnections);
    return handle;
  }();
  return multi;
}

// Runs `count` submissions at once on the shared multi handle; how many succeeded.
int rawBatch(int count) {
  static const std::size_t replySize = submissionReply().size();
  const std::string url = serviceURL();
  std::vector<RawTransfer> transfers(static_cast<std::size_t>(count));
  CURLM* multi = rawMulti();
  for (auto& transfer : transfers) {
    transfer.easy = curl_easy_init();
    configureRaw(transfer, url, submissionBody());
    curl_easy_setopt(transfer.easy, CURLOPT_PRIVATE, static_cast<void*>(&transfer));
    curl_multi_add_handle(multi, transfer.easy);
  }
  int running = count;
  int ok = 0;
  const auto deadline = Clock::now() + kPatience;
  while (running > 0 && Clock::now() < deadline) {
    curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURL* easy = message->easy_handle;
      RawTransfer* transfer = nullptr;
      curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer);
      if (message->data.result == CURLE_OK && succeeded(*transfer, replySize)) ++ok;
      // Done handles leave the multi at once, or every later perform walks them.
      curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
      transfer->easy = nullptr;
    }
    if (running > 0) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  for (auto& transfer : transfers) {
    if (transfer.easy == nullptr) continue;
    curl_multi_remove_handle(multi, transfer.easy);
    curl_easy_cleanup(transfer.easy);
  }
  return ok;
}

// ---- the kit ----------------------------------------------------------------

// Starts `count` submissions at once and drains the main queue until every
// handler has run; how many delivered a record.
int kitBatch(int count) {
  auto& manager = OrbisgroveSaveUserDataAPIManager::shared();
  // Shared with the handlers: one that comes after a time-out finds it still there.
  struct Tally {
    int done = 0;
    int ok = 0;
  };
  const auto tally = std::make_shared<Tally>();
  for (int i = 0; i < count; ++i) {
    manager.saveUserData(submission(), [tally](std::shared_ptr<OrbisgroveUserDataInfo> info,
                                               std::shared_ptr<const platform::Error> error) {
      ++tally->done;
      if (info && !error) ++tally->ok;
    });
  }
  platform::MainQueue::shared().runUntil([&] { return tally->done == count; }, kPatience);
  return tally->ok;
}

// ---- 2. request overhead ----------------------------------------------------

// One categories request through the shared client, main-queue hop
// included; what went wrong, or nothing.
std::string kitCategoriesRequest() {
  const auto problem = std::make_shared<std::optional<std::string>>();  // empty until answered
  OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(
      [problem](std::optional<OrbisgroveReportCategoriesList> categories,
                std::shared_ptr<const platform::Error> error) {
        if (error) {
          *problem = error->description();
        } else if (!categories || categories->size() != kReplyCategories) {
          *problem = "not the whole list";
        } else {
          *problem = "";
        }
      });
  platform::MainQueue::shared().runUntil([&] { return problem->has_value(); }, kPatience);
  return problem->value_or("no answer");
}

bool kitRequestSucceeded() { return kitCategoriesRequest().empty(); }

void kitSequential(benchmark::State& state) {
  // The connection (and the trust store) exist before timing starts, as on
  // the raw side.
  kitCategoriesRequest();
  const auto firstRequest = service().requestCount();
  const auto handshakesBefore = service().handshakeCount();
  for (auto _ : state) {
    if (const std::string problem = kitCategoriesRequest(); !problem.empty()) {
      state.SkipWithError(("a categories request failed: " + problem).c_str());
      break;
    }
  }
  state.counters["connections"] = static_cast<double>(service().connectionsSince(firstRequest));
  state.counters["handshakes"] = static_cast<double>(service().handshakeCount() - handshakesBefore);
}

void rawSequential(benchmark::State& state) {
  static const std::size_t replySize = categoriesReply(kReplyCategories).size();
  // One easy handle for the whole run: it keeps its connection, as the kit's
  // session keeps its own.
  static RawTransfer* const transfer = [] {
    auto* made = new RawTransfer;
    made->easy = curl_easy_init();
    configureRaw(*made, serviceURL(), categoriesBody());
    return made;
  }();
  transfer->body.clear();
  curl_easy_perform(transfer->easy);
  const auto firstRequest = service().requestCount();
  const auto handshakesBefore = service().handshakeCount();
  for (auto _ : state) {
    transfer->body.clear();
    if (curl_easy_perform(transfer->easy) != CURLE_OK || !succeeded(*transfer, replySize)) {
      state.SkipWithError("a raw request failed");
      break;
    }
  }
  state.counters["connections"] = static_cast<double>(service().connectionsSince(firstRequest));
  state.counters["handshakes"] = static_cast<double>(service().handshakeCount() - handshakesBefore);
}

// The floor of any asynchronous design: a raw multi handle driven by a thread
// of its own, which hands each finished reply to the waiting caller through
// one condition variable. Same easy-handle reuse and connection as the kit.
class RawMultiThread {
 public:
  RawMultiThread() : multi_(curl_multi_init()) {
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, kConnectionsPerHost);
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kCachedConnections);
    transfer_.easy = curl_easy_init();
    configureRaw(transfer_, serviceURL(), categoriesBody());
    thread_ = std::thread([this] { run(); });
  }

  // One request, start to reply; whether it succeeded.
  bool request(std::size_t expectedBody) {
    std::unique_lock lock(mutex_);
    transfer_.body.clear();
    done_ = false;
    pending_ = true;
    curl_multi_wakeup(multi_);
    finished_.wait(lock, [this] { return done_; });
    return result_ == CURLE_OK && succeeded(transfer_, expectedBody);
  }

 private:
  void run() {
    for (;;) {
      {
        const std::lock_guard lock(mutex_);
        if (pending_) {
          pending_ = false;
          curl_multi_add_handle(multi_, transfer_.easy);
        }
      }
      int running = 0;
      curl_multi_perform(multi_, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        curl_multi_remove_handle(multi_, message->easy_handle);
        const std::lock_guard lock(mutex_);
        result_ = message->data.result;
        done_ = true;
        finished_.notify_one();
      }
      curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
  }

  CURLM* multi_;
  RawTransfer transfer_;
  std::mutex mutex_;
  std::condition_variable finished_;
  bool pending_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  std::thread thread_;
};

// One request through the floor; whether it succeeded.
bool floorRequest() {
  static const std::size_t replySize = categoriesReply(kReplyCategories).size();
  // Never destroyed: its thread runs until the process ends.
  static auto* const floor = new RawMultiThread;
  return floor->request(replySize);
}

void rawMultiThreadFloor(benchmark::State& state) {
  floorRequest();
  const auto firstRequest = service().requestCount();
  const auto handshakesBefore = service().handshakeCount();
  for (auto _ : state) {
    if (!floorRequest()) {
      state.SkipWithError("a raw request failed");
      break;
    }
  }
  state.counters["connections"] = static_cast<double>(service().connectionsSince(firstRequest));
  state.counters["handshakes"] = static_cast<double>(service().handshakeCount() - handshakesBefore);
}

// Where the kit's time goes: the same POST through the platform session
// alone, completion hopped to the main queue, nothing decoded.
bool sessionHopRequest() {
  static const auto url = platform::URL::fromString(serviceURL());
  const auto succeeded = std::make_shared<std::optional<bool>>();  // empty until answered
  platform::URLRequest post(*url);
  post.httpMethod = "POST";
  post.allHTTPHeaderFields = {{"Content-Type", "application/x-www-form-urlencoded"}};
  post.httpBody = categoriesBody();
  // As the categories request: libcurl sends the body from the request's
  // memory, with the head, in one TLS record.
  post.allowsTransportResend = true;
  platform::URLSession::shared()
      .dataTask(std::move(post),
                [succeeded](std::optional<std::string> body, std::shared_ptr<const platform::URLResponse>,
                            std::shared_ptr<const platform::Error> error) {
                  platform::MainQueue::shared().post([succeeded, ok = body.has_value() && !error] { *succeeded = ok; });
                })
      ->resume();
  platform::MainQueue::shared().runUntil([&succeeded] { return succeeded->has_value(); }, kPatience);
  return succeeded->value_or(false);
}

void sessionHop(benchmark::State& state) {
  sessionHopRequest();
  for (auto _ : state) {
    if (!sessionHopRequest()) {
      state.SkipWithError("a request through the session failed");
      break;
    }
  }
}

// Two sides in alternating blocks of a few requests, so that both see the
// same moments of a noisy machine: the median of the per-round ratios of
// their block times, side a over side b.
template <class SideA, class SideB>
void paired(benchmark::State& state, SideA a, SideB b) {
  constexpr int blockRequests = 10;
  constexpr int rounds = 300;
  for (int i = 0; i < blockRequests; ++i) {
    (void)a();
    (void)b();
  }
  std::vector<double> ratios;
  std::vector<double> timesA;
  std::vector<double> timesB;
  bool failed = false;
  const auto blockTime = [&failed](const auto& side) {
    const auto start = Clock::now();
    for (int i = 0; i < blockRequests; ++i) failed = !side() || failed;
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / blockRequests;
  };
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      // Each side goes first in every other round.
      double timeA = 0;
      double timeB = 0;
      if (round % 2 == 0) {
        timeA = blockTime(a);
        timeB = blockTime(b);
      } else {
        timeB = blockTime(b);
        timeA = blockTime(a);
      }
      ratios.push_back(timeA / timeB);
      timesA.push_back(timeA);
      timesB.push_back(timeB);
    }
  }
  if (failed) {
    state.SkipWithError("a request failed");
    return;
  }
  const auto median = [](std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
  };
  state.counters["ratio"] = median(ratios);
  state.counters["a_us"] = median(timesA);
  state.counters["b_us"] = median(timesB);
}

// What the kit adds to the session's hop: building the request, judging and
// decoding the reply, handing the records over.
void pairedKitOverHop(benchmark::State& state) { paired(state, kitRequestSucceeded, sessionHopRequest); }
// Each request timed on its own. Run with the whole process (and the service
// it forks) on one core, a request's time is the CPU work of every thread that
// serves it, with no wake-ups across cores: the low percentiles then show what
// each layer costs, which two cores' scheduling hides in the separate runs.
template <class Side>
void perRequest(benchmark::State& state, Side side) {
  constexpr int requests = 4000;
  for (int i = 0; i < 50; ++i) (void)side();
  std::vector<double> times;
  times.reserve(requests);
  bool failed = false;
  for (auto _ : state) {
    for (int i = 0; i < requests; ++i) {
      const auto start = Clock::now();
      failed = !side() || failed;
      times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  if (failed) {
    state.SkipWithError("a request failed");
    return;
  }
  std::sort(times.begin(), times.end());
  const auto percentile = [&times](double p) {
    return times[static_cast<std::size_t>(p * static_cast<double>(times.size() - 1))];
  };
  state.counters["p10_us"] = percentile(0.10);
  state.counters["p50_us"] = percentile(0.50);
}

void perRequestFloor(benchmark::State& state) { perRequest(state, floorRequest); }
void perRequestHop(benchmark::State& state) { perRequest(state, sessionHopRequest); }
void perRequestKit(benchmark::State& state) { perRequest(state, kitRequestSucceeded); }

BENCHMARK(kitSequential)->Name("Request/kit_categories")->UseRealTime()->MinTime(1.0);
BENCHMARK(sessionHop)->Name("Request/kit_session_hop_only")->UseRealTime()->MinTime(1.0);
BENCHMARK(rawSequential)->Name("Request/raw_curl_easy")->UseRealTime()->MinTime(1.0);
BENCHMARK(rawMultiThreadFloor)->Name("Request/raw_multi_thread_floor")->UseRealTime()->MinTime(1.0);
BENCHMARK(pairedKitOverHop)->Name("Paired/kit_over_session_hop")->Iterations(1)->UseRealTime();
BENCHMARK(perRequestFloor)->Name("OneCore/raw_multi_thread_floor")->Iterations(1)->UseRealTime();
BENCHMARK(perRequestHop)->Name("OneCore/kit_session_hop_only")->Iterations(1)->UseRealTime();
BENCHMARK(perRequestKit)->Name("OneCore/kit_categories")->Iterations(1)->UseRealTime();

// ---- 3. concurrency and reuse -----------------------------------------------

template <int (*batch)(int)>
void concurrent(benchmark::State& state) {
  // The first batch of this side in the process runs untimed: it makes the
  // connections (and loads the trust store), which later batches reuse. Its
  // handshakes are what a cold start costs.
  static const double coldHandshakes = [] {
    const auto before = service().handshakeCount();
    batch(kConcurrent);
    return static_cast<double>(service().handshakeCount() - before);
  }();
  double connections = 0;
  double handshakes = 0;
  for (auto _ : state) {
    const auto firstRequest = service().requestCount();
    const auto handshakesBefore = service().handshakeCount();
    const auto start = Clock::now();
    const int ok = batch(kConcurrent);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (ok != kConcurrent) {
      state.SkipWithError("a submission failed");
      break;
    }
    handshakes += static_cast<double>(service().handshakeCount() - handshakesBefore);
    connections = std::max(connections, static_cast<double>(service().connectionsSince(firstRequest)));
  }
  state.counters["connections_per_batch"] = connections;
  state.counters["handshakes_per_batch"] = benchmark::Counter(handshakes, benchmark::Counter::kAvgIterations);
  state.counters["handshakes_cold_batch"] = coldHandshakes;
}

BENCHMARK(concurrent<kitBatch>)
    ->Name("Concurrent500/kit")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(concurrent<rawBatch>)
    ->Name("Concurrent500/raw_curl_multi")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// ---- 4. memory ----------------------------------------------------------------

// Run alone in a fresh process (scripts/bench.sh does): RSS before and while
// 500 requests are in flight (the service holds the first ones, libcurl
// queues the rest behind the 6 connections), the peak over the whole batch
// less the 500 reply bodies, then RSS after 1,000, 10,000 and 20,000 requests.
template <int (*batch)(int)>
void memory(benchmark::State& state) {
  static const double replyBytes = static_cast<double>(submissionReply().size());
  for (auto _ : state) {
    // Connections, the trust store and the allocator's arenas exist before
    // the first figure, as in a host that has already made a request.
    if (batch(12) != 12) state.SkipWithError("warm-up failed");
    const auto before = static_cast<double>(residentBytes());
    const auto heapBefore = static_cast<double>(mallinfo2().uordblks);
    resetPeakResidentBytes();
    service().setStalling(true);
    std::thread release([] {
      service().waitForStalled(static_cast<std::uint64_t>(kConnectionsPerHost));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      service().setStalling(false);
      service().releaseStalled();
    });
    // The held figure is sampled on a thread of its own while the batch runs.
    double held = 0;
    double heapHeld = 0;
    int ok = 0;
    {
      std::thread sampler([&] {
        const auto until = Clock::now() + std::chrono::milliseconds(250);
        while (Clock::now() < until) {
          held = std::max(held, static_cast<double>(residentBytes()));
          heapHeld = std::max(heapHeld, static_cast<double>(mallinfo2().uordblks));
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      });
      ok = batch(kConcurrent);
      sampler.join();
    }
    release.join();
    const auto peak = static_cast<double>(peakResidentBytes());
    // Freed memory the allocator keeps cached is handed back first, so that
    // the figures show what is still in use (the same for both sides).
    const auto settledResidentBytes = [] {
      malloc_trim(0);
      return static_cast<double>(residentBytes());
    };
    // What the allocator has handed out and not got back, in all arenas.
    const auto heapInUse = [] { return static_cast<double>(mallinfo2().uordblks); };
    int total = 12 + kConcurrent;
    while (total < 1000) total += batch(kConcurrent);
    const double after1000 = settledResidentBytes();
    const double inUse1000 = heapInUse();
    while (total < 10000) total += batch(kConcurrent);
    const double after10000 = settledResidentBytes();
    const double inUse10000 = heapInUse();
    while (total < 20000) total += batch(kConcurrent);
    const double after20000 = settledResidentBytes();
    const double inUse20000 = heapInUse();
    if (ok != kConcurrent || total < 20000) state.SkipWithError("a submission failed");

    state.counters["held_bytes_per_request"] = (held - before) / kConcurrent;
    state.counters["heap_held_bytes_per_request"] = (heapHeld - heapBefore) / kConcurrent;
    state.counters["peak_bytes_per_request"] = (peak - before - kConcurrent * replyBytes) / kConcurrent;
    state.counters["rss_after_1000"] = after1000;
    state.counters["rss_after_10000"] = after10000;
    state.counters["rss_after_20000"] = after20000;
    state.counters["heap_in_use_after_1000"] = inUse1000;
    state.counters["heap_in_use_after_10000"] = inUse10000;
    state.counters["heap_in_use_after_20000"] = inUse20000;
  }
}

BENCHMARK(memory<kitBatch>)->Name("Memory/kit")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(memory<rawBatch>)->Name("Memory/raw_curl_multi")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orbisgrove::bench
