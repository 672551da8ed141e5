// The two service requests: the categories through the facade, and a
// submission through a save client, with its task. Each request keeps its
// Java callback by a global reference until the callback has run.
#include <orbisgrove/kit/OrbisgroveFeedbackKit.hpp>
#include <orbisgrove/platform/DataTask.hpp>
#include <orbisgrove/platform/URL.hpp>
#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>

#include <stdexcept>

#include "Conversions.hpp"

using orbisgrove::OrbisgroveFeedbackKit;
using orbisgrove::OrbisgroveReportCategoriesList;
using orbisgrove::OrbisgroveSaveUserDataAPIManager;
using orbisgrove::OrbisgroveSaveUserDataOptions;
using orbisgrove::OrbisgroveUserDataInfo;
using orbisgrove::platform::DataTask;
using orbisgrove::platform::Error;
namespace jni = orbisgrove::jni;

namespace {

constexpr std::string_view kCallbackThrew = "a Java callback threw";

OrbisgroveSaveUserDataAPIManager& manager(jlong handle) {
  return handle == 0 ? OrbisgroveSaveUserDataAPIManager::shared()
                     : *jni::fromHandle<OrbisgroveSaveUserDataAPIManager>(handle);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_getReportCategories(JNIEnv* env, jclass, jobject callback) {
  // Released as soon as the callback has run, whatever becomes of the closure.
  OrbisgroveFeedbackKit::shared().getReportCategories(
      [ref = jni::makeRef(env, callback)](std::optional<OrbisgroveReportCategoriesList> categories,
                                          std::shared_ptr<const Error> error) mutable {
        JNIEnv* current = jni::currentEnv();
        if (current == nullptr || current->PushLocalFrame(8) != 0) return;
        jlongArray handles = categories ? jni::toHandles(current, *categories) : nullptr;
        jobject javaError = jni::toJavaError(current, error);
        current->CallStaticVoidMethod(jni::ids().native, jni::ids().categoriesDone, ref->get(), handles,
                                      categories ? JNI_TRUE : JNI_FALSE, javaError);
        jni::clearException(current, kCallbackThrew);
        current->PopLocalFrame(nullptr);
        ref.reset();
      });
}

JNIEXPORT jlong JNICALL Java_org_orbisgrove_feedback_Native_newManager(JNIEnv* env, jclass, jstring host) {
  try {
    return jni::toHandle(std::make_shared<OrbisgroveSaveUserDataAPIManager>(jni::toOptional(env, host)));
  } catch (const std::invalid_argument& failure) {
    jni::throwJava(env, "java/lang/IllegalArgumentException", failure.what());
    return 0;
  }
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_releaseManager(JNIEnv*, jclass, jlong handle) {
  jni::releaseHandle<OrbisgroveSaveUserDataAPIManager>(handle);
}

JNIEXPORT jstring JNICALL Java_org_orbisgrove_feedback_Native_apiEndpoint(JNIEnv* env, jclass, jlong handle) {
  return jni::toJava(env, manager(handle).apiEndpoint().absoluteString());
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setApiEndpoint(JNIEnv* env, jclass, jlong handle,
                                                                          jstring url) {
  const std::string text = jni::toStd(env, url);
  auto parsed = orbisgrove::platform::URL::fromString(text);
  if (!parsed) {
    jni::throwJava(env, "java/lang/IllegalArgumentException", "not an absolute URL: " + text);
    return;
  }
  manager(handle).setApiEndpoint(std::move(*parsed));
}

JNIEXPORT jlong JNICALL Java_org_orbisgrove_feedback_Native_saveUserData(JNIEnv* env, jclass, jlong handle,
                                                                         jlong options, jobject callback) {
  auto task = manager(handle).saveUserData(
      *jni::fromHandle<OrbisgroveSaveUserDataOptions>(options),
      [ref = jni::makeRef(env, callback)](std::shared_ptr<OrbisgroveUserDataInfo> record,
                                          std::shared_ptr<const Error> error) mutable {
        JNIEnv* current = jni::currentEnv();
        if (current == nullptr || current->PushLocalFrame(8) != 0) return;
        const jlong recordHandle = record ? jni::toHandle(std::move(record)) : 0;
        jobject javaError = jni::toJavaError(current, error);
        current->CallStaticVoidMethod(jni::ids().native, jni::ids().savedDone, ref->get(), recordHandle, javaError);
        jni::clearException(current, kCallbackThrew);
        current->PopLocalFrame(nullptr);
        ref.reset();
      });
  return task ? jni::toHandle(std::move(task)) : 0;
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_cancelTask(JNIEnv*, jclass, jlong handle) {
  jni::fromHandle<DataTask>(handle)->cancel();
}

JNIEXPORT jint JNICALL Java_org_orbisgrove_feedback_Native_taskState(JNIEnv*, jclass, jlong handle) {
  return static_cast<jint>(jni::fromHandle<DataTask>(handle)->state());
}

JNIEXPORT jlong JNICALL Java_org_orbisgrove_feedback_Native_taskIdentifier(JNIEnv*, jclass, jlong handle) {
  return static_cast<jlong>(jni::fromHandle<DataTask>(handle)->taskIdentifier());
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_releaseTask(JNIEnv*, jclass, jlong handle) {
  jni::releaseHandle<DataTask>(handle);
}

}  // extern "C"
