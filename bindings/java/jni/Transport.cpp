// A host transport written in Java, through the kit's transport seam: each
// request crosses to HttpTransport.start with handles to its completion and
// its sendStarting call, which the Java side releases once it is done.
#include <orbisgrove/platform/HTTPTransport.hpp>

#include <functional>
#include <vector>

#include "Conversions.hpp"

using orbisgrove::platform::HTTPTransportCompletion;
using orbisgrove::platform::HTTPTransportOutcome;
using orbisgrove::platform::HTTPTransportRequest;
using orbisgrove::platform::URLErrorCode;
namespace jni = orbisgrove::jni;

namespace {

using SendStarting = std::function<bool()>;

jobjectArray toJavaHeaders(JNIEnv* env, const orbisgrove::platform::HTTPHeaderFields& fields) {
  jobjectArray array = env->NewObjectArray(static_cast<jsize>(fields.size() * 2), jni::ids().string, nullptr);
  if (array == nullptr) return nullptr;
  jsize index = 0;
  for (const auto& [name, value] : fields) {
    for (const std::string* text : {&name, &value}) {
      jstring javaText = jni::toJava(env, *text);
      env->SetObjectArrayElement(array, index++, javaText);
      env->DeleteLocalRef(javaText);
    }
  }
  return array;
}

void start(const jni::SharedRef& transport, HTTPTransportRequest request, HTTPTransportCompletion completion) {
  JNIEnv* env = jni::currentEnv();
  if (env == nullptr || env->PushLocalFrame(16) != 0) {
    completion(HTTPTransportOutcome::failure(URLErrorCode::cannotLoadFromNetwork, false, "the JVM is shutting down"));
    return;
  }
  jstring method = jni::toJava(env, request.method);
  jstring url = jni::toJava(env, request.url);
  jobjectArray headers = toJavaHeaders(env, request.headerFields);
  jbyteArray body = env->NewByteArray(static_cast<jsize>(request.body.size()));
  if (body != nullptr) {
    env->SetByteArrayRegion(body, 0, static_cast<jsize>(request.body.size()),
                            reinterpret_cast<const jbyte*>(request.body.data()));
  }
  const jlong sendStarting =
      request.sendStarting ? reinterpret_cast<jlong>(new SendStarting(std::move(request.sendStarting))) : 0;
  const auto held = reinterpret_cast<jlong>(new HTTPTransportCompletion(std::move(completion)));
  // Native.transportStart owns both handles from here on, even when it fails.
  env->CallStaticVoidMethod(jni::ids().native, jni::ids().transportStart, transport->get(),
                            static_cast<jlong>(request.identifier), method, url, headers, body, request.timeoutSeconds,
                            request.allowsResend ? JNI_TRUE : JNI_FALSE, sendStarting, held);
  jni::clearException(env, "the host's transport threw");
  env->PopLocalFrame(nullptr);
}

HTTPTransportCompletion& completion(jlong handle) { return *reinterpret_cast<HTTPTransportCompletion*>(handle); }

}  // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_org_orbisgrove_feedback_Native_installTransport(JNIEnv* env, jclass, jobject transport,
                                                                               jboolean reportsSendStart) {
  // Installed for the life of the process: its reference is never released.
  const jni::SharedRef ref = jni::makeRef(env, transport);
  orbisgrove::platform::HTTPTransport table;
  table.start = [ref](HTTPTransportRequest request, HTTPTransportCompletion done) {
    start(ref, std::move(request), std::move(done));
  };
  table.cancel = [ref](std::uint64_t identifier) {
    if (JNIEnv* current = jni::currentEnv()) {
      current->CallStaticVoidMethod(jni::ids().native, jni::ids().transportCancel, ref->get(),
                                    static_cast<jlong>(identifier));
      jni::clearException(current, "the host's transport threw");
    }
  };
  table.reportsSendStart = reportsSendStart != JNI_FALSE;
  return jni::toJavaError(env, orbisgrove::platform::installHTTPTransport(std::move(table)));
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_completeReply(JNIEnv* env, jclass, jlong handle, jint status,
                                                                         jobjectArray headers, jbyteArray body,
                                                                         jint httpMajorVersion) {
  orbisgrove::platform::HTTPHeaderFieldList fields;
  const jsize count = headers == nullptr ? 0 : env->GetArrayLength(headers);
  for (jsize index = 0; index + 1 < count; index += 2) {
    auto* name = static_cast<jstring>(env->GetObjectArrayElement(headers, index));
    auto* value = static_cast<jstring>(env->GetObjectArrayElement(headers, index + 1));
    fields.emplace_back(jni::toStd(env, name), jni::toStd(env, value));
    env->DeleteLocalRef(name);
    env->DeleteLocalRef(value);
  }
  std::string bytes(body == nullptr ? 0 : static_cast<std::size_t>(env->GetArrayLength(body)), '\0');
  if (!bytes.empty()) {
    env->GetByteArrayRegion(body, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<jbyte*>(bytes.data()));
  }
  completion(handle)(HTTPTransportOutcome::reply(status, std::move(fields), std::move(bytes), httpMajorVersion));
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_completeFailure(JNIEnv* env, jclass, jlong handle,
                                                                           jlong code, jboolean mayHaveReachedServer,
                                                                           jstring reason) {
  completion(handle)(HTTPTransportOutcome::failure(static_cast<URLErrorCode>(code), mayHaveReachedServer != JNI_FALSE,
                                                   jni::toStd(env, reason)));
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_releaseCompletion(JNIEnv*, jclass, jlong handle) {
  delete reinterpret_cast<HTTPTransportCompletion*>(handle);
}

JNIEXPORT jboolean JNICALL Java_org_orbisgrove_feedback_Native_sendStarting(JNIEnv*, jclass, jlong handle) {
  return (*reinterpret_cast<SendStarting*>(handle))() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_releaseSendStarting(JNIEnv*, jclass, jlong handle) {
  delete reinterpret_cast<SendStarting*>(handle);
}

}  // extern "C"
