// C bindings of the C++ test service; every call ends the test program when
// the service itself fails, since nothing after that would be meaningful.
#include "ServiceHarness.h"

#include <LocalHttpsService.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

struct harness_service {
  orbisgrove::testing::LocalHttpsService service;
  std::string host = service.hostAndPort();
};

namespace {

template <class Body>
auto orDie(const char* what, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "harness: %s: %s\n", what, failure.what());
  } catch (...) {
    std::fprintf(stderr, "harness: %s failed\n", what);
  }
  std::abort();
}

}  // namespace

extern "C" {

harness_service* harness_service_start(void) {
  return orDie("start", [] { return new harness_service; });
}

void harness_service_stop(harness_service* service) { delete service; }

const char* harness_service_host(const harness_service* service) { return service->host.c_str(); }

const char* harness_service_ca_file(const harness_service* service) { return service->service.caFile().c_str(); }

void harness_service_enqueue_json(harness_service* service, int status, const char* body) {
  orDie("enqueue", [&] {
    service->service.enqueue(orbisgrove::testing::Reply::json(body, status));
    return 0;
  });
}

void harness_service_enqueue_stalled(harness_service* service) {
  orDie("enqueue", [&] {
    service->service.enqueue(orbisgrove::testing::Reply::stalled());
    return 0;
  });
}

int harness_service_wait_for_stalled(harness_service* service, size_t count) {
  return service->service.waitForStalled(count, std::chrono::seconds(10)) ? 1 : 0;
}

void harness_service_release_stalled(harness_service* service) { service->service.releaseStalled(); }

size_t harness_service_request_count(const harness_service* service) { return service->service.requestCount(); }

int harness_service_request_body_contains(const harness_service* service, size_t index, const char* text) {
  return orDie("requests", [&] {
    const auto requests = service->service.requests();
    return index < requests.size() && requests[index].body.find(text) != std::string::npos ? 1 : 0;
  });
}

}  // extern "C"
