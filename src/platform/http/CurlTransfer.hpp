// One transfer on libcurl's easy interface: the options its request goes out
// with, the callbacks libcurl calls while it runs, and what it tells once it
// has ended.
#pragma once

#include "platform/http/ReplyHeadReader.hpp"
#include "platform/http/SessionDataTask.hpp"
#include "platform/http/TrustedCertificates.hpp"

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace orbisgrove::platform::http {

/// The session's settings as one transfer takes them.
struct TransferSettings {
  std::shared_ptr<const TrustedCertificates> trust;
  std::optional<std::string> proxy;
  /// Public-key pins in libcurl's form: separated by ";".
  std::string pins;
  std::size_t maximumBodyBytes = 0;
};

/// Only the delivery thread touches a transfer; it stays at one address
/// because libcurl holds pointers into it.
struct Transfer {
  Transfer(std::shared_ptr<SessionDataTask> of, CURL* handle, TransferSettings taken)
      : task(std::move(of)), easy(handle), settings(std::move(taken)) {}
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (easy != nullptr) curl_easy_cleanup(easy);
    curl_slist_free_all(headerList);
  }

  /// Sets the easy handle up for the task's request, whose timeout ends at
  /// `deadline`; says why when the request cannot be sent. A roomy receive
  /// buffer takes a whole TLS record in one read; a small one keeps a
  /// request that waits for a connection small.
  std::optional<std::string> configure(std::chrono::steady_clock::time_point deadline, bool roomyReceiveBuffer);
  /// Whether any of the request can have reached the server: libcurl was
  /// about to write it, took body bytes, or an answer came. A body libcurl
  /// has not even taken whole was not written whole: the server cannot act
  /// on part of a request.
  [[nodiscard]] bool mayHaveReachedServer() const;
  /// What the task's completion receives once libcurl ended the transfer
  /// with `result`. Takes the body and the header fields.
  Outcome outcome(CURLcode result);

  const std::shared_ptr<SessionDataTask> task;
  CURL* easy;
  const TransferSettings settings;
  curl_slist* headerList = nullptr;
  std::string body;
  bool bodyTooLarge = false;
  ReplyHeadReader head;
  // A body that must not go out twice is handed to libcurl from here; null
  // when libcurl sends (and may resend) the body itself.
  const std::string* bodyOnce = nullptr;
  std::size_t bodyBytesHandedOver = 0;
  bool resendRefused = false;
  // libcurl was about to write the request (CURLOPT_PREREQFUNCTION ran).
  bool requestStarted = false;
  // The task's start hook refused the request there: nothing was written.
  bool startRefused = false;
  std::optional<std::string> trustProblem;
  char errorBuffer[CURL_ERROR_SIZE] = {};
};

}  // namespace orbisgrove::platform::http
