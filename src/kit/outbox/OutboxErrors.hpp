// The outbox's own error values, shared by its host calls and its delivery.
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <memory>
#include <variant>

#include "platform/store/OutboxStore.hpp"

namespace orbisgrove {

/// What an entry left in flight by a process that ended shows.
std::shared_ptr<const platform::Error> interruptedError();
/// An enqueue called once the process has begun to exit gives this.
std::shared_ptr<const platform::Error> exitingError();
/// Every outbox call of a child made by fork() gives this.
std::shared_ptr<const platform::Error> forkedChildError();

template <class T>
std::shared_ptr<const platform::Error> errorOf(const platform::StoreResult<T>& result) {
  const auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&result);
  return error != nullptr ? *error : nullptr;
}

}  // namespace orbisgrove
