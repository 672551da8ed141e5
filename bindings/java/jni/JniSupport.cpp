#include "JniSupport.hpp"

#include <atomic>
#include <iostream>
#include <vector>

namespace orbisgrove::jni {
namespace {

JavaVM* theVm = nullptr;
JavaIds theIds;
std::atomic<bool> exiting{false};
std::atomic<std::int64_t> globalReferences{0};

// Detaches a thread this layer attached when that thread ends.
struct Attachment {
  bool attached = false;
  Attachment() = default;
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
  ~Attachment() {
    if (attached && !exiting.load()) theVm->DetachCurrentThread();
  }
};

jclass globalClass(JNIEnv* env, const char* name) {
  jclass local = env->FindClass(name);
  if (local == nullptr) return nullptr;
  auto* global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  return global;
}

constexpr const char* kNative = "org/orbisgrove/feedback/Native";

}  // namespace

bool initialise(JavaVM* vm, JNIEnv* env) {
  theVm = vm;
  auto& i = theIds;
  i.native = globalClass(env, kNative);
  i.feedbackError = globalClass(env, "org/orbisgrove/feedback/FeedbackError");
  i.outboxEntry = globalClass(env, "org/orbisgrove/feedback/OutboxEntry");
  i.object = globalClass(env, "java/lang/Object");
  i.string = globalClass(env, "java/lang/String");
  i.longClass = globalClass(env, "java/lang/Long");
  i.doubleClass = globalClass(env, "java/lang/Double");
  if (i.native == nullptr || i.feedbackError == nullptr || i.outboxEntry == nullptr || i.object == nullptr ||
      i.string == nullptr || i.longClass == nullptr || i.doubleClass == nullptr) {
    return false;
  }
  const auto method = [&](const char* name, const char* signature) {
    return env->GetStaticMethodID(i.native, name, signature);
  };
  i.utf8 = method("utf8", "([B)Ljava/lang/String;");
  i.bytes = method("bytes", "(Ljava/lang/String;)[B");
  i.post = method("post", "(J)V");
  i.console = method("console", "(Ljava/lang/String;)Z");
  i.describe = method("describe", "(Ljava/lang/Throwable;)Ljava/lang/String;");
  i.categoriesDone = method(
      "categoriesDone", "(Lorg/orbisgrove/feedback/CategoriesCallback;[JZLorg/orbisgrove/feedback/FeedbackError;)V");
  i.savedDone =
      method("savedDone", "(Lorg/orbisgrove/feedback/SaveCallback;JLorg/orbisgrove/feedback/FeedbackError;)V");
  i.runnableDone = method("runnableDone", "(Ljava/lang/Runnable;)V");
  i.changed =
      method("changed", "(Lorg/orbisgrove/feedback/OutboxChangeListener;Lorg/orbisgrove/feedback/OutboxEntry;)V");
  i.enqueued = method("enqueued", "(Lorg/orbisgrove/feedback/EnqueueCallback;Ljava/lang/Object;)V");
  i.formatText = method("formatText", "(Ljava/lang/Object;ZJD)Ljava/lang/String;");
  i.daysBetween = method("daysBetween", "(Lorg/orbisgrove/feedback/TextFormatter$DaysBetween;DD)Ljava/lang/Long;");
  i.transportStart = method("transportStart",
                            "(Lorg/orbisgrove/feedback/HttpTransport;JLjava/lang/String;Ljava/lang/String;"
                            "[Ljava/lang/String;[BDZJJ)V");
  i.transportCancel = method("transportCancel", "(Lorg/orbisgrove/feedback/HttpTransport;J)V");
  i.feedbackErrorInit = env->GetMethodID(
      i.feedbackError, "<init>", "(Ljava/lang/String;J[Ljava/lang/String;[Ljava/lang/Object;JZLjava/lang/String;)V");
  i.outboxEntryInit = env->GetMethodID(
      i.outboxEntry, "<init>", "(Ljava/lang/String;Ljava/lang/String;JJJZLorg/orbisgrove/feedback/FeedbackError;JZ)V");
  i.longValueOf = env->GetStaticMethodID(i.longClass, "valueOf", "(J)Ljava/lang/Long;");
  i.doubleValueOf = env->GetStaticMethodID(i.doubleClass, "valueOf", "(D)Ljava/lang/Double;");
  i.longValue = env->GetMethodID(i.longClass, "longValue", "()J");
  return env->ExceptionCheck() == JNI_FALSE;
}

const JavaIds& ids() noexcept { return theIds; }

JNIEnv* currentEnv() {
  if (theVm == nullptr || exiting.load()) return nullptr;
  void* env = nullptr;
  const jint got = theVm->GetEnv(&env, JNI_VERSION_10);
  if (got == JNI_OK) return static_cast<JNIEnv*>(env);
  if (got != JNI_EDETACHED) return nullptr;
  thread_local Attachment attachment;
  static char threadName[] = "orbisgrove-feedback";
  JavaVMAttachArgs args{JNI_VERSION_10, threadName, nullptr};
  if (theVm->AttachCurrentThreadAsDaemon(&env, &args) != JNI_OK) return nullptr;
  attachment.attached = true;
  return static_cast<JNIEnv*>(env);
}

void markShuttingDown() noexcept { exiting.store(true); }
bool shuttingDown() noexcept { return exiting.load(); }

GlobalRef::GlobalRef(JNIEnv* env, jobject object) : ref_(env->NewGlobalRef(object)) {
  if (ref_ != nullptr) globalReferences.fetch_add(1);
}

GlobalRef::~GlobalRef() {
  if (ref_ == nullptr) return;
  globalReferences.fetch_sub(1);
  // During the JVM's exit the reference goes with the JVM.
  if (JNIEnv* env = currentEnv()) env->DeleteGlobalRef(ref_);
}

SharedRef makeRef(JNIEnv* env, jobject object) {
  if (object == nullptr) return nullptr;
  return std::make_shared<const GlobalRef>(env, object);
}

std::int64_t liveGlobalReferences() noexcept { return globalReferences.load(); }

jstring toJava(JNIEnv* env, std::string_view text) {
  const auto size = static_cast<jsize>(text.size());
  jbyteArray bytes = env->NewByteArray(size);
  if (bytes == nullptr) return nullptr;
  env->SetByteArrayRegion(bytes, 0, size, reinterpret_cast<const jbyte*>(text.data()));
  auto* string = static_cast<jstring>(env->CallStaticObjectMethod(theIds.native, theIds.utf8, bytes));
  // Only an OutOfMemoryError can be pending here; the caller's next check sees it.
  static_cast<void>(env->ExceptionCheck());
  env->DeleteLocalRef(bytes);
  return string;
}

jstring toJavaOrNull(JNIEnv* env, const std::optional<std::string>& text) {
  return text ? toJava(env, *text) : nullptr;
}

std::string toStd(JNIEnv* env, jstring text) {
  if (text == nullptr) return {};
  auto* bytes = static_cast<jbyteArray>(env->CallStaticObjectMethod(theIds.native, theIds.bytes, text));
  if (env->ExceptionCheck() != JNI_FALSE || bytes == nullptr) return {};
  std::string result(static_cast<std::size_t>(env->GetArrayLength(bytes)), '\0');
  env->GetByteArrayRegion(bytes, 0, static_cast<jsize>(result.size()), reinterpret_cast<jbyte*>(result.data()));
  env->DeleteLocalRef(bytes);
  return result;
}

std::optional<std::string> toOptional(JNIEnv* env, jstring text) {
  if (text == nullptr) return std::nullopt;
  return toStd(env, text);
}

jobject boxLong(JNIEnv* env, jlong value) {
  jobject boxed = env->CallStaticObjectMethod(theIds.longClass, theIds.longValueOf, value);
  static_cast<void>(env->ExceptionCheck());  // only OutOfMemoryError, which the caller's next check sees
  return boxed;
}

jobject boxDouble(JNIEnv* env, jdouble value) {
  jobject boxed = env->CallStaticObjectMethod(theIds.doubleClass, theIds.doubleValueOf, value);
  static_cast<void>(env->ExceptionCheck());
  return boxed;
}

void consoleLine(std::string_view line) {
  if (JNIEnv* env = currentEnv()) {
    jstring text = toJava(env, line);
    const bool taken =
        text != nullptr && env->CallStaticBooleanMethod(theIds.native, theIds.console, text) != JNI_FALSE;
    if (env->ExceptionCheck() != JNI_FALSE) env->ExceptionClear();
    if (text != nullptr) env->DeleteLocalRef(text);
    if (taken) return;
  }
  std::string copy(line);
  copy += '\n';
  std::cerr.write(copy.data(), static_cast<std::streamsize>(copy.size()));
  std::cerr.flush();
}

std::optional<std::string> takeException(JNIEnv* env) {
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return std::nullopt;
  env->ExceptionClear();
  std::string text;
  auto* description = static_cast<jstring>(env->CallStaticObjectMethod(theIds.native, theIds.describe, thrown));
  if (env->ExceptionCheck() != JNI_FALSE) env->ExceptionClear();
  if (description != nullptr) {
    text = toStd(env, description);
    env->DeleteLocalRef(description);
  }
  env->DeleteLocalRef(thrown);
  return text;
}

bool clearException(JNIEnv* env, std::string_view what) {
  const auto thrown = takeException(env);
  if (!thrown) return false;
  std::string line = "orbisgrove: ";
  line += what;
  if (!thrown->empty()) line += ": " + *thrown;
  consoleLine(line);
  return true;
}

void throwJava(JNIEnv* env, const char* className, std::string_view message) {
  if (env->ExceptionCheck() != JNI_FALSE) return;
  jclass type = env->FindClass(className);
  if (type == nullptr) return;
  env->ThrowNew(type, std::string(message).c_str());
  env->DeleteLocalRef(type);
}

}  // namespace orbisgrove::jni
