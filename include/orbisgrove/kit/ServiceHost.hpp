// Which service host the kit's shared clients talk to.
#pragma once

#include <orbisgrove/Export.hpp>

#include <string>

namespace orbisgrove {

/// Points both shared service clients, the one behind
/// OrbisgroveFeedbackKit::shared() and OrbisgroveSaveUserDataAPIManager::shared(),
/// at https://HOST: a host name, IPv4 address or bracketed IPv6 address with
/// an optional ":port". Requests already running keep their host. Throws
/// std::invalid_argument, changing nothing, for text from which no https URL
/// can be formed (empty, white space, a scheme, a path, "@"). Any thread.
ORBISGROVE_EXPORT void setServiceHost(const std::string& host);

}  // namespace orbisgrove
