// C bindings of the C++ test service; every call ends the test program when
// the service itself fails, since nothing after that would be meaningful.
#include "ServiceHarness.h"

#include <LocalHttpsService.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

using orbisgrove::testing::Reply;

struct harness_service {
  orbisgrove::testing::LocalHttpsService service;
  std::string host = service.hostAndPort();
};

namespace {

template <class Body>
auto orDie(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "harness: %s\n", failure.what());
  } catch (...) {
    std::fprintf(stderr, "harness: the test service failed\n");
  }
  std::abort();
}

}  // namespace

extern "C" {

harness_service* harness_service_start(void) {
  return orDie([] { return new harness_service; });
}
void harness_service_stop(harness_service* service) { delete service; }
const char* harness_service_host(const harness_service* service) { return service->host.c_str(); }
const char* harness_service_ca_file(const harness_service* service) { return service->service.caFile().c_str(); }
void harness_service_enqueue_json(harness_service* service, int status, const char* body) {
  orDie([&] { return (service->service.enqueue(Reply::json(body, status)), 0); });
}
void harness_service_reply_by_default(harness_service* service, int status, const char* body) {
  orDie([&] { return (service->service.setDefaultReply(Reply::json(body, status)), 0); });
}
void harness_service_enqueue_stalled(harness_service* service) {
  orDie([&] { return (service->service.enqueue(Reply::stalled()), 0); });
}
int harness_service_wait_for_stalled(harness_service* service, size_t count) {
  return service->service.waitForStalled(count, std::chrono::seconds(10)) ? 1 : 0;
}
void harness_service_release_stalled(harness_service* service) { service->service.releaseStalled(); }
size_t harness_service_request_count(const harness_service* service) { return service->service.requestCount(); }
int harness_service_request_body_contains(const harness_service* service, size_t index, const char* text) {
  return orDie([&] {
    const auto requests = service->service.requests();
    return index < requests.size() && requests[index].body.find(text) != std::string::npos ? 1 : 0;
  });
}

}  // extern "C"
