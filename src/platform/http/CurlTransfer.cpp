#include "platform/http/CurlTransfer.hpp"

#include "platform/http/CurlErrorCodes.hpp"
#include "platform/http/CurlGateways.hpp"
#include "platform/http/CurlGlobal.hpp"
#include "platform/http/RequestFields.hpp"

#include <openssl/ssl.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace orbisgrove::platform::http {
namespace {

constexpr long maximumRedirects = 5;
// libcurl's receive buffer is allocated for every transfer, also one that
// waits for a connection: libcurl's default, or a quarter of it when
// hundreds may wait (the replies are small JSON).
constexpr long roomyReceiveBufferBytes = 16L * 1024;
constexpr long smallReceiveBufferBytes = 4L * 1024;
constexpr long smallestUploadBufferBytes = 16L * 1024;

std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::size_t length = size * count;
  if (length > transfer->settings.maximumBodyBytes - transfer->body.size()) {
    transfer->bodyTooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  transfer->body.append(data, length);
  return length;
}

// A 307 or 308 says "not processed here, send it there": the body goes to
// the new URL once. Any other rewind would send it again after a connection
// died, when the first copy may have been read.
bool takeRedirect(Transfer& transfer) {
  long status = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
  if (!transfer.head.redirectKeepsTheBody() || (status != 307 && status != 308)) return false;
  transfer.bodyBytesHandedOver = 0;
  // What follows is a new request: the one redirected was not processed.
  transfer.requestStarted = false;
  transfer.head.beginAgain();
  return true;
}

// Hands libcurl the body of a request that must reach the server at most
// once. libcurl stops asking once it holds a body of the announced size, so
// being asked again means it is about to send the request a second time.
std::size_t sendBodyOnce(char* buffer, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::string& body = *transfer->bodyOnce;
  if (transfer->bodyBytesHandedOver == body.size() && !body.empty() && !takeRedirect(*transfer)) {
    transfer->resendRefused = true;
    return CURL_READFUNC_ABORT;
  }
  const std::size_t length = std::min(size * count, body.size() - transfer->bodyBytesHandedOver);
  std::copy_n(body.data() + transfer->bodyBytesHandedOver, length, buffer);
  transfer->bodyBytesHandedOver += length;
  return length;
}

// libcurl rewinds a body only to send it again: allowed for a redirect that
// keeps the method, refused otherwise, so that it fails instead.
int rewindForRedirect(void* context, curl_off_t offset, int origin) {
  auto* transfer = static_cast<Transfer*>(context);
  if (offset == 0 && origin == SEEK_SET && takeRedirect(*transfer)) return CURL_SEEKFUNC_OK;
  transfer->resendRefused = true;
  return CURL_SEEKFUNC_CANTSEEK;
}

// Runs after connect, TLS and any proxy tunnel, before the request's first
// byte is written, and again for each redirected request.
int noteRequestStart(void* context, char* /*primaryIP*/, char* /*localIP*/, int /*primaryPort*/, int /*localPort*/) {
  auto* transfer = static_cast<Transfer*>(context);
  if (!transfer->task->requestStarting()) {
    transfer->startRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  transfer->requestStarted = true;
  return CURL_PREREQFUNC_OK;
}

std::size_t receiveHeaderLine(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::size_t length = size * count;
  switch (transfer->head.take(std::string_view(data, length))) {
    case ReplyHeadReader::Line::tooLarge:
      return 0;
    case ReplyHeadReader::Line::statusLine:
      transfer->body.clear();
      return length;
    case ReplyHeadReader::Line::field:
      return length;
  }
  return length;
}

CURLcode prepareTLSContext(CURL* /*easy*/, void* sslContext, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
  if (auto problem = transfer->settings.trust->addTo(store)) {
    transfer->trustProblem = std::move(problem);
    return CURLE_SSL_CACERT_BADFILE;
  }
  return CURLE_OK;
}

}  // namespace

std::optional<std::string> Transfer::configure(std::chrono::steady_clock::time_point deadline,
                                               bool roomyReceiveBuffer) {
  const URLRequest& request = task->request();
  // Header fields: exactly the caller's, less those the protocol owns. curl's
  // default Accept is removed, and "Expect:" keeps 100-continue from ever
  // holding a body back.
  bool hasAccept = false;
  bool hasContentType = false;
  const auto append = [this](const std::string& line) {
    curl_slist* extended = curl_slist_append(headerList, line.c_str());
    if (extended != nullptr) headerList = extended;
    return extended != nullptr;
  };
  for (const auto& [name, value] : request.allHTTPHeaderFields) {
    if (!isToken(name) || !isSafeHeaderValue(value)) {
      return "the header field \"" + name + "\" cannot be sent: its name or value is not valid";
    }
    if (isManagedByProtocol(name)) continue;
    hasAccept = hasAccept || equalsIgnoringCase(name, "Accept");
    hasContentType = hasContentType || equalsIgnoringCase(name, "Content-Type");
    // "Name;" is libcurl's way of sending a field with an empty value.
    if (!append(value.empty() ? name + ";" : name + ": " + value)) return "out of memory";
  }
  for (const char* line : {hasAccept ? nullptr : "Accept:", hasContentType ? nullptr : "Content-Type:", "Expect:"}) {
    if (line != nullptr && !append(line)) return "out of memory";
  }

  bool ok = true;
  const auto set = [&ok](CURLcode result) { ok = ok && result == CURLE_OK; };
  auto* self = static_cast<void*>(this);
  set(curl_easy_setopt(easy, CURLOPT_PRIVATE, self));
  set(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer));
  set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(easy, CURLOPT_URL, request.url.absoluteString().c_str()));
  set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https"));
  set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https"));
  set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, maximumRedirects));
  set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
  set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
  set(curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
  if (const char* authorities = hashedSystemAuthorities()) {
    // The same system authorities, found by subject hash as the chain needs
    // them instead of all parsed from the bundle for each new connection.
    set(curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr));
    set(curl_easy_setopt(easy, CURLOPT_CAPATH, authorities));
  }
  // HTTP/2 when the server offers it in ALPN; several requests then share
  // one connection, and PIPEWAIT lets them wait for it rather than open more.
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  if (!request.allowsTransportResend) set(sendAloneOnARecentConnection(easy));
  set(curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L));
  set(curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L));
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, roomyReceiveBuffer ? roomyReceiveBufferBytes : smallReceiveBufferBytes);
  set(curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
  set(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList));
  set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receiveBody));
  set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, self));
  set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeaderLine));
  set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, self));
  // Every encoding libcurl can decode is asked for and undone on the way in:
  // receiveBody sees the decoded bytes, so the body limit holds for what a
  // reply expands to.
  set(curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, ""));
  set(curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, noteRequestStart));
  set(curl_easy_setopt(easy, CURLOPT_PREREQDATA, self));
  // libcurl refuses a reply whose Content-Length is too large before any of
  // it arrives; receiveBody covers replies without one.
  constexpr auto largestOffset = static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max());
  set(curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                       static_cast<curl_off_t>(std::min(settings.maximumBodyBytes, largestOffset))));
  // Without a proxy setting libcurl follows the proxy environment variables.
  // An explicit proxy serves every host: no_proxy has no say then.
  if (settings.proxy) {
    set(curl_easy_setopt(easy, CURLOPT_PROXY, settings.proxy->c_str()));
    if (!settings.proxy->empty()) set(curl_easy_setopt(easy, CURLOPT_NOPROXY, ""));
  }
  if (!settings.pins.empty()) set(curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, settings.pins.c_str()));
  if (settings.trust && !settings.trust->empty()) {
    set(curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, prepareTLSContext));
    set(curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, self));
  }

  // What is left of the timeout, which began when the task reached the line.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  set(curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, std::max<long>(1, static_cast<long>(left.count()))));

  // The body goes out from the task's own request, which outlives the
  // transfer, so libcurl need not copy it. POST by its own option, so that a
  // 301/302/303 redirect turns it into a GET as browsers do. A body that may
  // go out only once is handed over through a callback that rewinds only for
  // a 307 or 308: libcurl fails where it would send the request again.
  const std::string& method = request.httpMethod;
  const auto sendBody = [&] {
    set(curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.httpBody.size())));
    // libcurl allocates a 64 KiB upload buffer for every request with a body,
    // even one it sends from the caller's memory; the smallest it allows
    // holds every form the kit sends.
    set(curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, smallestUploadBufferBytes));
    if (request.allowsTransportResend) {
      set(curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.httpBody.data()));
      return;
    }
    bodyOnce = &request.httpBody;
    set(curl_easy_setopt(easy, CURLOPT_POST, 1L));
    set(curl_easy_setopt(easy, CURLOPT_READFUNCTION, sendBodyOnce));
    set(curl_easy_setopt(easy, CURLOPT_READDATA, self));
    set(curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, rewindForRedirect));
    set(curl_easy_setopt(easy, CURLOPT_SEEKDATA, self));
  };
  if (method == "GET") {
    set(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
  } else if (method == "HEAD") {
    set(curl_easy_setopt(easy, CURLOPT_NOBODY, 1L));
  } else if (method == "POST") {
    sendBody();
  } else if (isToken(method)) {
    if (!request.httpBody.empty()) sendBody();
    set(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str()));
  } else {
    return "the method \"" + method + "\" is not valid";
  }
  if (!ok) return "libcurl rejected the request's options";
  return std::nullopt;
}

bool Transfer::mayHaveReachedServer() const {
  if (head.sawStatusLine()) return true;
  if (bodyOnce != nullptr && bodyBytesHandedOver < bodyOnce->size()) return false;
  return requestStarted || bodyBytesHandedOver > 0;
}

Outcome Transfer::outcome(CURLcode result) {
  const URLRequest& request = task->request();
  std::string effective = request.url.absoluteString();
  char* effectiveURL = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effectiveURL) == CURLE_OK && effectiveURL != nullptr) {
    effective = effectiveURL;
  }
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);

  std::shared_ptr<const HTTPURLResponse> response;
  if (status > 0 && head.complete()) {
    // Without a redirect the reply's URL is the request's, already parsed.
    URL url =
        effective == request.url.absoluteString() ? request.url : URL::fromString(effective).value_or(request.url);
    long version = CURL_HTTP_VERSION_NONE;
    curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &version);
    const int major = version == CURL_HTTP_VERSION_3 ? 3 : version == CURL_HTTP_VERSION_2_0 ? 2 : 1;
    response = std::make_shared<const SessionHTTPURLResponse>(std::move(url), status, std::move(head.fields()), major);
  }
  if (result == CURLE_OK) return Outcome{std::move(body), std::move(response), nullptr};

  long verifyResult = 0;
  curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
  URLErrorCode code = urlErrorCodeFor(result, verifyResult);
  std::string detail;
  if (startRefused) {
    code = URLErrorCode::cannotLoadFromNetwork;
    detail = kRequestHeldBack;
  } else if (head.tooLarge()) {
    code = URLErrorCode::badServerResponse;
    detail = "the reply's header fields exceed " + std::to_string(maximumHeaderBytes) + " bytes";
  } else if (auto refusal = proxyRefusal(easy, settings.proxy)) {
    code = URLErrorCode::cannotConnectToHost;
    detail = std::move(*refusal);
  } else if (bodyTooLarge) {
    code = URLErrorCode::dataLengthExceedsMaximum;
    detail = bodyTooLargeDetail(settings.maximumBodyBytes);
  } else if (resendRefused) {
    code = URLErrorCode::networkConnectionLost;
    // A resend after a lost connection.
    detail = "libcurl would have sent the request's body a second time, and it goes out at most once";
  } else if (trustProblem) {
    detail = *trustProblem;
  } else {
    detail = "libcurl: ";
    detail += errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result);
  }
  // A reply whose head arrived stays useful to the caller (its status and
  // rate-limit fields) even when its body was cut short or refused.
  return Outcome{std::nullopt, std::move(response),
                 makeTransportError(code, detail, effective, mayHaveReachedServer())};
}

}  // namespace orbisgrove::platform::http
