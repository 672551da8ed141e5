// Kit values as Java objects, for the parts of the layer that deliver them.
#pragma once

#include <orbisgrove/kit/OrbisgroveFeedbackOutbox.hpp>
#include <orbisgrove/model/OrbisgroveReportCategories.hpp>
#include <orbisgrove/platform/Error.hpp>

#include <memory>

#include "JniSupport.hpp"

namespace orbisgrove::jni {

/// A FeedbackError (with its nested errors); null for no error.
jobject toJavaError(JNIEnv* env, const std::shared_ptr<const platform::Error>& error);
/// An OutboxEntry snapshot.
jobject toJavaEntry(JNIEnv* env, const OrbisgroveOutboxEntry& entry);
/// One handle per record, in order, each sharing the kit's record.
jlongArray toHandles(JNIEnv* env, const OrbisgroveReportCategoriesList& list);

}  // namespace orbisgrove::jni
