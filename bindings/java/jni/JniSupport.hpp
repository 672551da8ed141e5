// What every part of the JNI layer shares: the JVM and the calling thread's
// environment, counted global references, text both ways, handles to shared
// native objects, the console, and Java exceptions kept out of C++.
#pragma once

#include <jni.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::jni {

/// Records the JVM and looks up the classes and methods the layer calls; false
/// (with a Java exception pending) when one is missing.
bool initialise(JavaVM* vm, JNIEnv* env);

/// The calling thread's environment. A thread the JVM does not know is
/// attached once, as a daemon (so the JVM's exit never waits for it), and
/// detached when it ends. Null once the JVM has begun to shut down, or when
/// attaching fails: the caller then leaves Java alone.
JNIEnv* currentEnv();

/// Set by the binding's shutdown hook: from then on no kit thread calls into
/// the JVM (a daemon thread that does may block for ever in its exit).
void markShuttingDown() noexcept;
[[nodiscard]] bool shuttingDown() noexcept;

/// A global reference held only as long as a request needs it. Counted, so
/// that a test can see every one released.
class GlobalRef {
 public:
  GlobalRef(JNIEnv* env, jobject object);
  ~GlobalRef();
  GlobalRef(const GlobalRef&) = delete;
  GlobalRef& operator=(const GlobalRef&) = delete;
  [[nodiscard]] jobject get() const noexcept { return ref_; }

 private:
  jobject ref_;
};
using SharedRef = std::shared_ptr<const GlobalRef>;
/// Null for a null object.
SharedRef makeRef(JNIEnv* env, jobject object);
/// Global references the binding holds right now.
std::int64_t liveGlobalReferences() noexcept;

/// UTF-8 text to a Java string and back (through String's own coder, as JNI's
/// "modified UTF-8" differs for characters outside the BMP).
jstring toJava(JNIEnv* env, std::string_view text);
jstring toJavaOrNull(JNIEnv* env, const std::optional<std::string>& text);
std::string toStd(JNIEnv* env, jstring text);
std::optional<std::string> toOptional(JNIEnv* env, jstring text);

/// A java.lang.Long or java.lang.Double (null only when out of memory).
jobject boxLong(JNIEnv* env, jlong value);
jobject boxDouble(JNIEnv* env, jdouble value);

/// One console line: to the sink the host set through the binding, else to
/// standard error, as the kit's own console.
void consoleLine(std::string_view line);
/// After a call into Java: clears a pending exception and writes it as one
/// console line "orbisgrove: <what>: <exception>". True when there was one.
bool clearException(JNIEnv* env, std::string_view what);

/// Clears a pending exception and says what it was; nullopt when none was.
std::optional<std::string> takeException(JNIEnv* env);

/// Throws a Java exception of `className` (a JNI class name) with `message`.
void throwJava(JNIEnv* env, const char* className, std::string_view message);

/// A native object shared with the kit, as the handle a Java object keeps.
template <class T>
jlong toHandle(std::shared_ptr<T> object) {
  return reinterpret_cast<jlong>(new std::shared_ptr<T>(std::move(object)));
}
template <class T>
std::shared_ptr<T>& fromHandle(jlong handle) {
  return *reinterpret_cast<std::shared_ptr<T>*>(handle);
}
template <class T>
void releaseHandle(jlong handle) {
  delete reinterpret_cast<std::shared_ptr<T>*>(handle);
}

/// Classes and methods looked up once when the library loads.
struct JavaIds {
  jclass native = nullptr;
  jmethodID utf8 = nullptr;      // static String utf8(byte[])
  jmethodID bytes = nullptr;     // static byte[] bytes(String)
  jmethodID post = nullptr;      // static void post(long closure)
  jmethodID console = nullptr;   // static boolean console(String)
  jmethodID describe = nullptr;  // static String describe(Throwable)
  jmethodID categoriesDone = nullptr;
  jmethodID savedDone = nullptr;
  jmethodID runnableDone = nullptr;
  jmethodID changed = nullptr;
  jmethodID enqueued = nullptr;
  jmethodID formatText = nullptr;
  jmethodID daysBetween = nullptr;
  jmethodID longValue = nullptr;
  jmethodID transportStart = nullptr;
  jmethodID transportCancel = nullptr;
  jclass feedbackError = nullptr;
  jmethodID feedbackErrorInit = nullptr;
  jclass outboxEntry = nullptr;
  jmethodID outboxEntryInit = nullptr;
  jclass object = nullptr;
  jclass string = nullptr;
  jclass longClass = nullptr;
  jmethodID longValueOf = nullptr;
  jclass doubleClass = nullptr;
  jmethodID doubleValueOf = nullptr;
};
const JavaIds& ids() noexcept;

}  // namespace orbisgrove::jni
