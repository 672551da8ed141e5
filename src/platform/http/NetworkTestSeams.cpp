#include "platform/http/NetworkTestSeams.hpp"

namespace orbisgrove::platform::http {

std::atomic<double> requestTimeoutCapForTests{0};

}  // namespace orbisgrove::platform::http
