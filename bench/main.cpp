// Starts the local service in a child process before anything else runs,
// points the kit's shared clients at it, then runs the benchmarks.
#include <benchmark/benchmark.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <exception>
#include <iostream>

#include "ServiceProcess.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

int main(int argc, char** argv) {
  using namespace orbisgrove;
  // 55 categories: the size of the reference service's tree.
  try {
    bench::ServiceProcess::start({bench::categoriesReply(55), bench::submissionReply()});
  } catch (const std::exception& failure) {
    std::cerr << "orbisgrove_bench: cannot start the local service: " << failure.what() << '\n';
    return 1;
  }
  auto& service = bench::ServiceProcess::shared();
  platform::addTrustedCertificates(service.caFile());
  const auto endpoint = platform::URL::fromComponents("https", service.hostAndPort());
  if (!endpoint) return 1;
  OrbisgroveReportCategoriesAPIManager::shared().setApiEndpoint(*endpoint);
  OrbisgroveSaveUserDataAPIManager::shared().setApiEndpoint(*endpoint);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  service.stop();
  return 0;
}
