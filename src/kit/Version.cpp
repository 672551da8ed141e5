#include <orbisgrove/feedback.h>
#include <orbisgrove/Version.hpp>

namespace orbisgrove {

// Compiled into the library, so it tells the version that is loaded, not the
// one whose headers a host saw.
const char* runtimeVersion() noexcept { return ORBISGROVE_FEEDBACK_KIT_VERSION_STRING; }

}  // namespace orbisgrove

extern "C" const char* orbisgrove_version() { return orbisgrove::runtimeVersion(); }
