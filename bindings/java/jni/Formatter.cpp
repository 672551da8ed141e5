// The app's TextFormatter, written in Java, through the kit's formatter seam.
// A Java function that throws, or returns null where the kit needs a text,
// becomes a C++ exception: the kit then writes one console line and uses its
// own text for that call.
#include <orbisgrove/platform/TextFormatter.hpp>

#include <stdexcept>

#include "Conversions.hpp"

namespace jni = orbisgrove::jni;

namespace {

JNIEnv* envOrThrow() {
  JNIEnv* env = jni::currentEnv();
  if (env == nullptr) throw std::runtime_error("the JVM is shutting down");
  return env;
}

void throwIfJavaThrew(JNIEnv* env) {
  if (auto thrown = jni::takeException(env)) throw std::runtime_error("the app's formatter threw: " + *thrown);
}

std::optional<std::string> text(const jni::SharedRef& function, bool takesLong, jlong integer, jdouble real) {
  JNIEnv* env = envOrThrow();
  auto* result = static_cast<jstring>(env->CallStaticObjectMethod(
      jni::ids().native, jni::ids().formatText, function->get(), takesLong ? JNI_TRUE : JNI_FALSE, integer, real));
  throwIfJavaThrew(env);
  if (result == nullptr) return std::nullopt;
  std::string converted = jni::toStd(env, result);
  env->DeleteLocalRef(result);
  return converted;
}

std::string required(std::optional<std::string> formatted) {
  if (!formatted) throw std::runtime_error("the app's formatter gave no text");
  return std::move(*formatted);
}

}  // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_org_orbisgrove_feedback_Native_installFormatter(JNIEnv* env, jclass,
                                                                               jobject reasonPhrase,
                                                                               jobject longDateTime,
                                                                               jobject fullDuration, jobject decimal,
                                                                               jobject wholeDaysBetween) {
  // Installed for the life of the process: these references are never released.
  orbisgrove::platform::TextFormatter formatter;
  if (auto ref = jni::makeRef(env, reasonPhrase)) {
    formatter.reasonPhrase = [ref](std::int64_t status) { return required(text(ref, true, status, 0)); };
  }
  if (auto ref = jni::makeRef(env, longDateTime)) {
    formatter.longDateTime = [ref](double seconds) { return required(text(ref, false, 0, seconds)); };
  }
  if (auto ref = jni::makeRef(env, fullDuration)) {
    formatter.fullDuration = [ref](double seconds) { return text(ref, false, 0, seconds); };
  }
  if (auto ref = jni::makeRef(env, decimal)) {
    formatter.decimal = [ref](std::uint64_t value) { return required(text(ref, true, static_cast<jlong>(value), 0)); };
  }
  if (auto ref = jni::makeRef(env, wholeDaysBetween)) {
    formatter.wholeDaysBetween = [ref](double from, double to) -> std::optional<std::int64_t> {
      JNIEnv* current = envOrThrow();
      jobject days = current->CallStaticObjectMethod(jni::ids().native, jni::ids().daysBetween, ref->get(), from, to);
      throwIfJavaThrew(current);
      if (days == nullptr) return std::nullopt;
      const jlong count = current->CallLongMethod(days, jni::ids().longValue);
      throwIfJavaThrew(current);
      current->DeleteLocalRef(days);
      return count;
    };
  }
  return jni::toJavaError(env, orbisgrove::platform::installTextFormatter(std::move(formatter)));
}

}  // extern "C"
