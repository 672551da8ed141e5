// The whole public API of the feedback kit in one include.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/Version.hpp>
#include <orbisgrove/kit/OrbisgroveFeedbackKit.hpp>
#include <orbisgrove/kit/OrbisgroveFeedbackOutbox.hpp>
#include <orbisgrove/kit/ServiceHost.hpp>
#include <orbisgrove/model/OrbisgroveReportCategories.hpp>
#include <orbisgrove/model/OrbisgroveSaveUserDataOptions.hpp>
#include <orbisgrove/model/OrbisgroveUserDataInfo.hpp>
#include <orbisgrove/platform/DataTask.hpp>
#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/HTTPTransport.hpp>
#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/Location.hpp>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/platform/Number.hpp>
#include <orbisgrove/platform/Settings.hpp>
#include <orbisgrove/platform/TextFormatter.hpp>
#include <orbisgrove/platform/URL.hpp>
#include <orbisgrove/platform/URLError.hpp>
#include <orbisgrove/platform/URLRequest.hpp>
#include <orbisgrove/platform/URLResponse.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>
#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>
