// The host's transport, the proxy and the pins of the C interface.
#include <orbisgrove/platform/HTTPTransport.hpp>
#include <orbisgrove/platform/Settings.hpp>

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kit/capi/Handles.hpp"

using namespace orbisgrove;

namespace {

struct Registry;

}  // namespace

struct orbisgrove_transport_request : capi::CountedHandle {
  orbisgrove_transport_request(platform::HTTPTransportRequest value, platform::HTTPTransportCompletion done,
                               std::shared_ptr<Registry> from)
      : request(std::move(value)), completion(std::move(done)), registry(std::move(from)) {
    for (const auto& [name, text] : request.headerFields) fields.push_back({name.c_str(), text.c_str()});
  }
  const platform::HTTPTransportRequest request;
  std::vector<orbisgrove_header_field> fields;
  platform::HTTPTransportCompletion completion;
  std::shared_ptr<Registry> registry;
  // Answered by the host, or ended by the kit: later answers are refused.
  std::atomic<bool> answered{false};
};

namespace {

// The requests at the host's transport, each holding a reference, so that
// the kit's cancel can hand the host the handle it started.
struct Registry {
  std::mutex mutex;
  std::unordered_map<std::uint64_t, orbisgrove_transport_request*> requests;

  void add(orbisgrove_transport_request* request) {
    const std::lock_guard lock(mutex);
    requests.emplace(request->request.identifier, capi::retain(request));
  }
  // The registry's reference, which the caller ends; null when gone already.
  orbisgrove_transport_request* take(std::uint64_t identifier) {
    const std::lock_guard lock(mutex);
    const auto found = requests.find(identifier);
    if (found == requests.end()) return nullptr;
    auto* request = found->second;
    requests.erase(found);
    return request;
  }
};

orbisgrove_status answer(orbisgrove_transport_request* request, platform::HTTPTransportOutcome outcome) {
  if (request->answered.exchange(true)) return ORBISGROVE_ERROR_FAILED;
  capi::release(request->registry->take(request->request.identifier));
  request->completion(std::move(outcome));
  return ORBISGROVE_OK;
}

}  // namespace

extern "C" {

orbisgrove_status orbisgrove_set_transport(const orbisgrove_transport* transport, orbisgrove_error** error) {
  return orbisgrove_set_transport_with_options(transport, 0, error);
}

orbisgrove_status orbisgrove_set_transport_with_options(const orbisgrove_transport* transport, unsigned options,
                                                        orbisgrove_error** error) {
  if (error) *error = nullptr;
  return capi::guarded([&] {
    if (!transport || !transport->start || (options & ~ORBISGROVE_TRANSPORT_REPORTS_SEND_START) != 0) {
      return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    }
    const orbisgrove_transport table = *transport;
    auto registry = std::make_shared<Registry>();
    platform::HTTPTransport hosted;
    hosted.start = [table, registry](platform::HTTPTransportRequest request,
                                     platform::HTTPTransportCompletion completion) {
      // The host gets the first reference, the registry a second.
      auto* handle = new orbisgrove_transport_request(std::move(request), std::move(completion), registry);
      registry->add(handle);
      table.start(table.context, handle);
    };
    hosted.cancel = [table, registry](std::uint64_t identifier) {
      auto* handle = registry->take(identifier);
      if (!handle) return;
      handle->answered.store(true);
      if (table.cancel) table.cancel(table.context, handle);
      capi::release(handle);
    };
    hosted.reportsSendStart = (options & ORBISGROVE_TRANSPORT_REPORTS_SEND_START) != 0;
    if (auto failure = platform::installHTTPTransport(std::move(hosted))) {
      if (error) *error = capi::wrapError(failure);
      return ORBISGROVE_ERROR_FAILED;
    }
    return ORBISGROVE_OK;
  });
}

const char* orbisgrove_transport_request_method(const orbisgrove_transport_request* request) {
  return request->request.method.c_str();
}

const char* orbisgrove_transport_request_url(const orbisgrove_transport_request* request) {
  return request->request.url.c_str();
}

size_t orbisgrove_transport_request_header_count(const orbisgrove_transport_request* request) {
  return request->fields.size();
}

orbisgrove_header_field orbisgrove_transport_request_header(const orbisgrove_transport_request* request, size_t index) {
  return index < request->fields.size() ? request->fields[index] : orbisgrove_header_field{nullptr, nullptr};
}

const char* orbisgrove_transport_request_body(const orbisgrove_transport_request* request, size_t* length) {
  if (length) *length = request->request.body.size();
  return request->request.body.data();
}

double orbisgrove_transport_request_timeout(const orbisgrove_transport_request* request) {
  return request->request.timeoutSeconds;
}

int orbisgrove_transport_request_allows_resend(const orbisgrove_transport_request* request) {
  return request->request.allowsResend ? 1 : 0;
}

int orbisgrove_transport_request_send_starting(orbisgrove_transport_request* request) {
  bool send = false;
  const auto status = capi::guarded([&] {
    send = request && !request->answered.load() && request->request.sendStarting && request->request.sendStarting();
    return ORBISGROVE_OK;
  });
  return status == ORBISGROVE_OK && send ? 1 : 0;
}

orbisgrove_status orbisgrove_transport_request_reply(orbisgrove_transport_request* request, int64_t status_code,
                                                     const orbisgrove_header_field* fields, size_t field_count,
                                                     const char* body, size_t body_length, int http_major_version) {
  return capi::guarded([&] {
    if (!request || (field_count > 0 && !fields) || (body_length > 0 && !body)) {
      return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    }
    platform::HTTPHeaderFieldList list;
    for (size_t i = 0; i < field_count; ++i) {
      if (!fields[i].name || !fields[i].value) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
      list.emplace_back(fields[i].name, fields[i].value);
    }
    return answer(request, platform::HTTPTransportOutcome::reply(status_code, std::move(list),
                                                                 body ? std::string(body, body_length) : std::string(),
                                                                 http_major_version));
  });
}

orbisgrove_status orbisgrove_transport_request_fail(orbisgrove_transport_request* request, int64_t url_error_code,
                                                    int may_have_reached_server, const char* reason) {
  return capi::guarded([&] {
    if (!request) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    return answer(request, platform::HTTPTransportOutcome::failure(static_cast<platform::URLErrorCode>(url_error_code),
                                                                   may_have_reached_server != 0, reason ? reason : ""));
  });
}

orbisgrove_transport_request* orbisgrove_transport_request_retain(orbisgrove_transport_request* request) {
  return capi::retain(request);
}

void orbisgrove_transport_request_release(orbisgrove_transport_request* request) { capi::release(request); }

orbisgrove_status orbisgrove_set_proxy(const char* proxy_url) {
  return capi::guarded([&] {
    platform::setProxy(capi::optionalText(proxy_url));
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_set_pinned_public_keys(const char* const* pins, size_t count) {
  return capi::guarded([&] {
    if (count > 0 && !pins) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    std::vector<std::string> texts;
    for (size_t i = 0; i < count; ++i) {
      if (!pins[i]) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
      texts.emplace_back(pins[i]);
    }
    return platform::setPinnedPublicKeys(std::move(texts)) ? ORBISGROVE_OK : ORBISGROVE_ERROR_INVALID_ARGUMENT;
  });
}

}  // extern "C"
