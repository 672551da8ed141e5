// The records behind ReportCategories, UserDataInfo and SaveUserDataOptions:
// each Java object keeps a handle to the kit's shared record, so two Java
// objects of one record see each other's changes.
#include <orbisgrove/model/OrbisgroveReportCategories.hpp>
#include <orbisgrove/model/OrbisgroveSaveUserDataOptions.hpp>
#include <orbisgrove/model/OrbisgroveUserDataInfo.hpp>

#include <vector>

#include "Conversions.hpp"

using orbisgrove::OrbisgroveReportCategories;
using orbisgrove::OrbisgroveSaveUserDataOptions;
using orbisgrove::OrbisgroveUserDataInfo;
using orbisgrove::platform::Number;
namespace jni = orbisgrove::jni;

namespace {

using Text = std::optional<std::string>;
using NumberPtr = std::shared_ptr<const Number>;

// What the Java side passes for a number: none, a long or a double.
enum NumberKind : jint { kNone = 0, kLong = 1, kDouble = 2 };

jobject toJavaNumber(JNIEnv* env, const NumberPtr& number) {
  if (!number) return nullptr;
  if (number->kind() == Number::Kind::floatingPoint) {
    return jni::boxDouble(env, number->doubleValue());
  }
  if (const auto exact = number->int64ValueIfExact()) {
    return jni::boxLong(env, static_cast<jlong>(*exact));
  }
  // An unsigned value past Long.MAX_VALUE: the nearest double.
  return jni::boxDouble(env, number->doubleValue());
}

NumberPtr fromJavaNumber(jint kind, jlong bits, jdouble value) {
  if (kind == kLong) return Number::withInt64(bits);
  if (kind == kDouble) return Number::withDouble(value);
  return nullptr;
}

OrbisgroveReportCategories& category(jlong handle) { return *jni::fromHandle<OrbisgroveReportCategories>(handle); }
OrbisgroveUserDataInfo& info(jlong handle) { return *jni::fromHandle<OrbisgroveUserDataInfo>(handle); }
OrbisgroveSaveUserDataOptions& options(jlong handle) { return *jni::fromHandle<OrbisgroveSaveUserDataOptions>(handle); }
std::shared_ptr<OrbisgroveReportCategories> categoryOrNull(jlong handle) {
  return handle == 0 ? nullptr : jni::fromHandle<OrbisgroveReportCategories>(handle);
}

}  // namespace

namespace orbisgrove::jni {

jlongArray toHandles(JNIEnv* env, const OrbisgroveReportCategoriesList& list) {
  std::vector<jlong> handles;
  handles.reserve(list.size());
  for (const auto& record : list) handles.push_back(record ? toHandle(record) : 0);
  jlongArray array = env->NewLongArray(static_cast<jsize>(handles.size()));
  if (array == nullptr) {
    for (const jlong handle : handles) releaseHandle<OrbisgroveReportCategories>(handle);
    return nullptr;
  }
  env->SetLongArrayRegion(array, 0, static_cast<jsize>(handles.size()), handles.data());
  return array;
}

}  // namespace orbisgrove::jni

extern "C" {

JNIEXPORT jstring JNICALL Java_org_orbisgrove_feedback_Native_categoryText(JNIEnv* env, jclass, jlong handle,
                                                                           jint field) {
  const auto& record = category(handle);
  return jni::toJavaOrNull(env, field == 0 ? record.reportId() : field == 1 ? record.reportName() : record.parentId());
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setCategoryText(JNIEnv* env, jclass, jlong handle,
                                                                           jint field, jstring text) {
  auto& record = category(handle);
  Text value = jni::toOptional(env, text);
  if (field == 0) {
    record.setReportId(std::move(value));
  } else if (field == 1) {
    record.setReportName(std::move(value));
  } else {
    record.setParentId(std::move(value));
  }
}

JNIEXPORT jobject JNICALL Java_org_orbisgrove_feedback_Native_categoryCreated(JNIEnv* env, jclass, jlong handle) {
  return toJavaNumber(env, category(handle).created());
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setCategoryCreated(JNIEnv*, jclass, jlong handle, jint kind,
                                                                              jlong bits, jdouble value) {
  category(handle).setCreated(fromJavaNumber(kind, bits, value));
}

JNIEXPORT jlong JNICALL Java_org_orbisgrove_feedback_Native_categoryIdentity(JNIEnv*, jclass, jlong handle) {
  return reinterpret_cast<jlong>(&category(handle));
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_releaseCategory(JNIEnv*, jclass, jlong handle) {
  jni::releaseHandle<OrbisgroveReportCategories>(handle);
}

JNIEXPORT jstring JNICALL Java_org_orbisgrove_feedback_Native_infoText(JNIEnv* env, jclass, jlong handle, jint field) {
  const auto& record = info(handle);
  switch (field) {
    case 0:
      return jni::toJavaOrNull(env, record.name());
    case 1:
      return jni::toJavaOrNull(env, record.id());
    case 2:
      return jni::toJavaOrNull(env, record.time());
    default:
      return jni::toJavaOrNull(env, record.url());
  }
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setInfoText(JNIEnv* env, jclass, jlong handle, jint field,
                                                                       jstring text) {
  auto& record = info(handle);
  Text value = jni::toOptional(env, text);
  switch (field) {
    case 0:
      return record.setName(std::move(value));
    case 1:
      return record.setId(std::move(value));
    case 2:
      return record.setTime(std::move(value));
    default:
      return record.setUrl(std::move(value));
  }
}

JNIEXPORT jobject JNICALL Java_org_orbisgrove_feedback_Native_infoNumber(JNIEnv* env, jclass, jlong handle,
                                                                         jint field) {
  const auto& record = info(handle);
  return toJavaNumber(env, field == 0 ? record.dataCount() : field == 1 ? record.exist() : record.listId());
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setInfoNumber(JNIEnv*, jclass, jlong handle, jint field,
                                                                         jint kind, jlong bits, jdouble value) {
  auto& record = info(handle);
  NumberPtr number = fromJavaNumber(kind, bits, value);
  if (field == 0) {
    record.setDataCount(std::move(number));
  } else if (field == 1) {
    record.setExist(std::move(number));
  } else {
    record.setListId(std::move(number));
  }
}

JNIEXPORT jlong JNICALL Java_org_orbisgrove_feedback_Native_infoIdentity(JNIEnv*, jclass, jlong handle) {
  return reinterpret_cast<jlong>(&info(handle));
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_releaseInfo(JNIEnv*, jclass, jlong handle) {
  jni::releaseHandle<OrbisgroveUserDataInfo>(handle);
}

JNIEXPORT jlong JNICALL Java_org_orbisgrove_feedback_Native_newOptions(JNIEnv* env, jclass, jdouble latitude,
                                                                       jdouble longitude, jlong parent, jlong child,
                                                                       jstring description, jstring moduleId) {
  return jni::toHandle(OrbisgroveSaveUserDataOptions::initWithCoordinate(
      {latitude, longitude}, categoryOrNull(parent), categoryOrNull(child), jni::toStd(env, description),
      jni::toOptional(env, moduleId)));
}

JNIEXPORT jdoubleArray JNICALL Java_org_orbisgrove_feedback_Native_optionsCoordinate(JNIEnv* env, jclass,
                                                                                     jlong handle) {
  const auto coordinate = options(handle).coordinate();
  const jdouble degrees[2] = {coordinate.latitude, coordinate.longitude};
  jdoubleArray array = env->NewDoubleArray(2);
  if (array != nullptr) env->SetDoubleArrayRegion(array, 0, 2, degrees);
  return array;
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setOptionsCoordinate(JNIEnv*, jclass, jlong handle,
                                                                                jdouble latitude, jdouble longitude) {
  options(handle).setCoordinate({latitude, longitude});
}

JNIEXPORT jstring JNICALL Java_org_orbisgrove_feedback_Native_optionsText(JNIEnv* env, jclass, jlong handle,
                                                                          jint field) {
  const auto& record = options(handle);
  return field == 0 ? jni::toJava(env, record.feedbackDescription()) : jni::toJavaOrNull(env, record.moduleId());
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setOptionsText(JNIEnv* env, jclass, jlong handle, jint field,
                                                                          jstring text) {
  auto& record = options(handle);
  if (field == 0) {
    record.setFeedbackDescription(jni::toStd(env, text));
  } else {
    record.setModuleId(jni::toOptional(env, text));
  }
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setOptionsCategory(JNIEnv*, jclass, jlong handle,
                                                                              jboolean child, jlong category) {
  if (child != JNI_FALSE) {
    options(handle).setChildCategory(categoryOrNull(category));
  } else {
    options(handle).setParentCategory(categoryOrNull(category));
  }
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_releaseOptions(JNIEnv*, jclass, jlong handle) {
  jni::releaseHandle<OrbisgroveSaveUserDataOptions>(handle);
}

}  // extern "C"
