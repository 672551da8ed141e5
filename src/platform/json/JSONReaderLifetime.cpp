#include "platform/json/JSONReaderLifetime.hpp"

#include <simdjson.h>

namespace orbisgrove::platform {

void prepareJSONReaderForExit() noexcept {
  // Choosing the implementation makes every static object behind it.
  (void)simdjson::get_active_implementation()->name();
}

}  // namespace orbisgrove::platform
