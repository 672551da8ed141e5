// What the library does when the JVM loads it: hands the kit's main queue to
// the Java side's executor, routes the kit's console through the binding, and
// takes the process-wide settings.
#include <orbisgrove/kit/ServiceHost.hpp>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/platform/Settings.hpp>

#include <exception>
#include <memory>
#include <stdexcept>

#include "JniSupport.hpp"

using orbisgrove::platform::MainQueue;
namespace jni = orbisgrove::jni;

namespace {

// Each closure of the main queue crosses to Java as the address of a heap
// copy; Native.runClosure (or dropClosure) takes it back exactly once.
void handToExecutor(MainQueue::Closure closure) {
  JNIEnv* env = jni::currentEnv();
  // Once the JVM is shutting down no callback runs any more.
  if (env == nullptr) return;
  auto held = std::make_unique<MainQueue::Closure>(std::move(closure));
  env->CallStaticVoidMethod(jni::ids().native, jni::ids().post, reinterpret_cast<jlong>(held.get()));
  if (jni::clearException(env, "the callback executor refused a callback")) return;
  static_cast<void>(held.release());  // Java owns it now
}

}  // namespace

extern "C" {

JNIEXPORT jint JNI_OnLoad(JavaVM* vm, void* /*reserved*/) {
  void* env = nullptr;
  if (vm->GetEnv(&env, JNI_VERSION_10) != JNI_OK) return JNI_ERR;
  if (!jni::initialise(vm, static_cast<JNIEnv*>(env))) return JNI_ERR;
  orbisgrove::platform::setConsoleSink([](std::string_view line) { jni::consoleLine(line); });
  MainQueue::shared().setDispatcher(handToExecutor);
  return JNI_VERSION_10;
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_runClosure(JNIEnv* /*env*/, jclass /*type*/, jlong closure) {
  const std::unique_ptr<MainQueue::Closure> held(reinterpret_cast<MainQueue::Closure*>(closure));
  try {
    (*held)();
  } catch (const std::exception& failure) {
    jni::consoleLine(std::string("orbisgrove: a closure of the main queue failed: ") + failure.what());
  } catch (...) {
    jni::consoleLine("orbisgrove: a closure of the main queue failed");
  }
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_dropClosure(JNIEnv* /*env*/, jclass /*type*/,
                                                                       jlong closure) {
  delete reinterpret_cast<MainQueue::Closure*>(closure);
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_markShuttingDown(JNIEnv* /*env*/, jclass /*type*/) {
  jni::markShuttingDown();
}

JNIEXPORT jlong JNICALL Java_org_orbisgrove_feedback_Native_globalReferences(JNIEnv* /*env*/, jclass /*type*/) {
  return jni::liveGlobalReferences();
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_consoleLine(JNIEnv* env, jclass /*type*/, jstring line) {
  jni::consoleLine(jni::toStd(env, line));
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setServiceHost(JNIEnv* env, jclass /*type*/, jstring host) {
  try {
    orbisgrove::setServiceHost(jni::toStd(env, host));
  } catch (const std::invalid_argument& failure) {
    jni::throwJava(env, "java/lang/IllegalArgumentException", failure.what());
  }
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setDirectory(JNIEnv* env, jclass /*type*/, jboolean data,
                                                                        jstring directory) {
  if (data != JNI_FALSE) {
    orbisgrove::platform::setDataDirectory(jni::toStd(env, directory));
  } else {
    orbisgrove::platform::setTemporaryDirectory(jni::toStd(env, directory));
  }
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_setBundleIdentifier(JNIEnv* env, jclass /*type*/,
                                                                               jstring identifier) {
  orbisgrove::platform::setBundleIdentifier(jni::toOptional(env, identifier));
}

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_Native_addTrustedCertificates(JNIEnv* env, jclass /*type*/,
                                                                                  jstring pemFile) {
  orbisgrove::platform::addTrustedCertificates(jni::toStd(env, pemFile));
}

}  // extern "C"
