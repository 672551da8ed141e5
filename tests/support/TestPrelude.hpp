// What every test file uses: GoogleTest and gMock, the kit's public API and
// the common parts of the standard library.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace orbisgrove::testing {

/// Whether the kit's own libcurl session carries the requests: in a build
/// without it a host's transport does (HostTransportEnvironment.cpp), and
/// what only the kit's own session does (redirects, compression, proxies,
/// connection reuse, libcurl's error mapping) is not the kit's to test.
#ifdef ORBISGROVE_TEST_HOST_TRANSPORT
inline constexpr bool kKitsOwnSession = false;
#else
inline constexpr bool kKitsOwnSession = true;
#endif

}  // namespace orbisgrove::testing
