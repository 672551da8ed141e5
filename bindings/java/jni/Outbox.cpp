// The outbox: every call, its entries as OutboxEntry snapshots, and the
// host's done and change callbacks, each kept by a global reference only as
// long as the outbox may still call it.
#include <orbisgrove/kit/OrbisgroveFeedbackOutbox.hpp>

#include <chrono>

#include "Conversions.hpp"

using orbisgrove::OrbisgroveFeedbackOutbox;
using orbisgrove::OrbisgroveOutboxEntry;
using orbisgrove::OrbisgroveSaveUserDataOptions;
namespace jni = orbisgrove::jni;

namespace {

jlong microsecondsSince1970(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
}

// `done` once, on the main queue, then the reference goes.
OrbisgroveFeedbackOutbox::DeliveryHandler doneHandler(JNIEnv* env, jobject done) {
  if (done == nullptr) return nullptr;
  return [ref = jni::makeRef(env, done)]() mutable {
    if (JNIEnv* current = jni::currentEnv()) {
      current->CallStaticVoidMethod(jni::ids().native, jni::ids().runnableDone, ref->get());
      jni::clearException(current, "a Java callback threw");
    }
    ref.reset();
  };
}

}  // namespace

namespace orbisgrove::jni {

jobject toJavaEntry(JNIEnv* env, const OrbisgroveOutboxEntry& entry) {
  if (env->PushLocalFrame(8) != 0) return nullptr;
  jstring id = toJava(env, entry.id);
  jstring state = toJava(env, outboxEntryStateName(entry.state));
  jobject lastError = toJavaError(env, entry.lastError);
  const jlong record = entry.record ? toHandle(entry.record) : 0;
  jobject result = env->NewObject(
      ids().outboxEntry, ids().outboxEntryInit, id, state, static_cast<jlong>(entry.attempts),
      microsecondsSince1970(entry.createdAt), entry.nextAttemptAt ? microsecondsSince1970(*entry.nextAttemptAt) : 0,
      entry.nextAttemptAt ? JNI_TRUE : JNI_FALSE, lastError, record, entry.sending ? JNI_TRUE : JNI_FALSE);
  return env->PopLocalFrame(result);
}

}  // namespace orbisgrove::jni

extern "C" {

JNIEXPORT jobject JNICALL Java_org_orbisgrove_feedback_Native_enqueue(JNIEnv* env, jclass, jlong options) {
  const auto result =
      OrbisgroveFeedbackOutbox::shared().enqueue(*jni::fromHandle<OrbisgroveSaveUserDataOptions>(options));
  return result.id ? jni::toJava(env, *result.id) : jni::toJavaError(env, result.error);
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_enqueueAsync(JNIEnv* env, jclass, jlong options,
                                                                        jobject callback) {
  OrbisgroveFeedbackOutbox::shared().enqueue(
      *jni::fromHandle<OrbisgroveSaveUserDataOptions>(options),
      [ref = jni::makeRef(env, callback)](orbisgrove::OrbisgroveOutboxEnqueueResult result) mutable {
        JNIEnv* current = jni::currentEnv();
        if (current == nullptr || current->PushLocalFrame(4) != 0) return;
        jobject idOrError = result.id ? jni::toJava(current, *result.id) : jni::toJavaError(current, result.error);
        current->CallStaticVoidMethod(jni::ids().native, jni::ids().enqueued, ref->get(), idOrError);
        jni::clearException(current, "a Java callback threw");
        current->PopLocalFrame(nullptr);
        ref.reset();
      });
}

JNIEXPORT jobjectArray JNICALL Java_org_orbisgrove_feedback_Native_entries(JNIEnv* env, jclass, jobjectArray errorOut) {
  std::shared_ptr<const orbisgrove::platform::Error> error;
  const auto entries = OrbisgroveFeedbackOutbox::shared().entries(&error);
  jobjectArray array = env->NewObjectArray(static_cast<jsize>(entries.size()), jni::ids().outboxEntry, nullptr);
  if (array == nullptr) return nullptr;
  jsize index = 0;
  for (const auto& entry : entries) {
    jobject javaEntry = jni::toJavaEntry(env, entry);
    env->SetObjectArrayElement(array, index++, javaEntry);
    env->DeleteLocalRef(javaEntry);
  }
  if (error) {
    jobject javaError = jni::toJavaError(env, error);
    env->SetObjectArrayElement(errorOut, 0, javaError);
    env->DeleteLocalRef(javaError);
  }
  return array;
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_deliverNow(JNIEnv* env, jclass, jobject done) {
  OrbisgroveFeedbackOutbox::shared().deliverNow(doneHandler(env, done));
}

JNIEXPORT jobject JNICALL Java_org_orbisgrove_feedback_Native_deliver(JNIEnv* env, jclass, jstring id, jobject done) {
  return jni::toJavaError(env, OrbisgroveFeedbackOutbox::shared().deliver(jni::toStd(env, id), doneHandler(env, done)));
}

JNIEXPORT jobject JNICALL Java_org_orbisgrove_feedback_Native_resend(JNIEnv* env, jclass, jstring id,
                                                                     jboolean startDelivery) {
  return jni::toJavaError(env,
                          OrbisgroveFeedbackOutbox::shared().resend(jni::toStd(env, id), startDelivery != JNI_FALSE));
}

JNIEXPORT jobject JNICALL Java_org_orbisgrove_feedback_Native_discard(JNIEnv* env, jclass, jstring id) {
  return jni::toJavaError(env, OrbisgroveFeedbackOutbox::shared().discard(jni::toStd(env, id)));
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setChangeListener(JNIEnv* env, jclass, jobject listener) {
  if (listener == nullptr) {
    OrbisgroveFeedbackOutbox::shared().setChangeHandler(nullptr);
    return;
  }
  // Held while this listener is set, and by changes already posted to it.
  OrbisgroveFeedbackOutbox::shared().setChangeHandler(
      [ref = jni::makeRef(env, listener)](const OrbisgroveOutboxEntry& entry) {
        JNIEnv* current = jni::currentEnv();
        if (current == nullptr) return;
        jobject javaEntry = jni::toJavaEntry(current, entry);
        current->CallStaticVoidMethod(jni::ids().native, jni::ids().changed, ref->get(), javaEntry);
        jni::clearException(current, "a Java callback threw");
        current->DeleteLocalRef(javaEntry);
      });
}

}  // extern "C"
