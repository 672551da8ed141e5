// The default formatter of a build without ICU: the built-in English one.
#include "platform/text/TextFormatting.hpp"

namespace orbisgrove::platform {

TextFormatter defaultTextFormatter() { return builtInTextFormatter(); }

}  // namespace orbisgrove::platform
