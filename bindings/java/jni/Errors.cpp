// The kit's error values as FeedbackError objects.
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include <type_traits>
#include <variant>

#include "Conversions.hpp"

namespace orbisgrove::jni {
namespace {

jobject toJavaValue(JNIEnv* env, const platform::UserInfoValue& value) {
  return std::visit(
      [env](const auto& held) -> jobject {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::string>) {
          return toJava(env, held);
        } else if constexpr (std::is_same_v<Held, std::int64_t>) {
          return boxLong(env, static_cast<jlong>(held));
        } else if constexpr (std::is_same_v<Held, double>) {
          return boxDouble(env, held);
        } else {
          return toJavaError(env, held);
        }
      },
      value);
}

}  // namespace

jobject toJavaError(JNIEnv* env, const std::shared_ptr<const platform::Error>& error) {
  if (!error) return nullptr;
  if (env->PushLocalFrame(16) != 0) return nullptr;
  const auto& info = error->userInfo();
  const auto count = static_cast<jsize>(info.size());
  jobjectArray keys = env->NewObjectArray(count, ids().string, nullptr);
  jobjectArray values = env->NewObjectArray(count, ids().object, nullptr);
  if (keys == nullptr || values == nullptr) return env->PopLocalFrame(nullptr);
  jsize index = 0;
  for (const auto& [key, value] : info) {
    jstring javaKey = toJava(env, key);
    jobject javaValue = toJavaValue(env, value);
    env->SetObjectArrayElement(keys, index, javaKey);
    env->SetObjectArrayElement(values, index, javaValue);
    env->DeleteLocalRef(javaKey);
    env->DeleteLocalRef(javaValue);
    ++index;
  }
  const auto& status = error->deliveryFacts().httpStatusCode;
  jstring domain = toJava(env, error->domain());
  jstring failure = toJava(env, submissionFailureName(classifySubmissionFailure(*error)));
  jobject result =
      env->NewObject(ids().feedbackError, ids().feedbackErrorInit, domain, static_cast<jlong>(error->code()), keys,
                     values, static_cast<jlong>(status.value_or(0)), status ? JNI_TRUE : JNI_FALSE, failure);
  return env->PopLocalFrame(result);
}

}  // namespace orbisgrove::jni
