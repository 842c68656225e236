// JNI side of com.omnifral.quorvelaudioeffects.test.RegistryProbe: lets the
// JVM client test read the host's process-wide extension registry. It links
// only the host library, so the effects library's `load` entry point can only
// bind to the effects library itself.
#include <jni.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "com_omnifral_quorvelaudioeffects_test_RegistryProbe.h"
#include "quorvel/Extension.hpp"
#include "quorvel/ExtensionManager.hpp"
#include "quorvel/NodeFactory.hpp"
#include "quorvel/NodeTypeInfo.hpp"

namespace {

// Leaves a pending java.lang.RuntimeException; the caller returns at once.
void throwRuntimeException(JNIEnv* env, const char* message) {
  jclass exceptionClass = env->FindClass("java/lang/RuntimeException");
  if (exceptionClass != nullptr) env->ThrowNew(exceptionClass, message);
}

// A new String[] holding `values`; nullptr with a pending exception when the
// JVM runs out of memory.
jobjectArray toJavaStrings(JNIEnv* env, const std::vector<std::string>& values) {
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) return nullptr;
  jobjectArray array = env->NewObjectArray(static_cast<jsize>(values.size()), stringClass, nullptr);
  if (array == nullptr) return nullptr;
  for (std::size_t i = 0; i < values.size(); ++i) {
    jstring element = env->NewStringUTF(values[i].c_str());
    if (element == nullptr) return nullptr;
    env->SetObjectArrayElement(array, static_cast<jsize>(i), element);
    env->DeleteLocalRef(element);
  }
  return array;
}

// Runs `body`, turning a C++ exception into a Java one: unwinding through the
// JVM's native frame would abort the whole virtual machine.
template <typename Body>
auto guarded(JNIEnv* env, Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::exception& error) {
    throwRuntimeException(env, error.what());
  } catch (...) {
    throwRuntimeException(env, "unknown C++ exception");
  }
  return nullptr;
}

}  // namespace

extern "C" {

JNIEXPORT jobjectArray JNICALL
Java_com_omnifral_quorvelaudioeffects_test_RegistryProbe_extensionNames(JNIEnv* env, jclass) {
  return guarded(env, [env] {
    std::vector<std::string> names;
    for (const auto& extension : quorvel::ExtensionManager::getInstance().getExtensions()) {
      names.push_back(extension->getName());
    }
    return toJavaStrings(env, names);
  });
}

JNIEXPORT jstring JNICALL Java_com_omnifral_quorvelaudioeffects_test_RegistryProbe_description(
    JNIEnv* env, jclass, jstring name) {
  return guarded(env, [env, name]() -> jstring {
    const char* chars = env->GetStringUTFChars(name, nullptr);
    if (chars == nullptr) return nullptr;
    const std::string key(chars);
    env->ReleaseStringUTFChars(name, chars);
    auto extension = quorvel::ExtensionManager::getInstance().getExtension(key);
    if (!extension) return nullptr;
    return env->NewStringUTF(extension->getDescription().c_str());
  });
}

JNIEXPORT jobjectArray JNICALL Java_com_omnifral_quorvelaudioeffects_test_RegistryProbe_nodeTypes(
    JNIEnv* env, jclass, jint index) {
  return guarded(env, [env, index]() -> jobjectArray {
    const auto extensions = quorvel::ExtensionManager::getInstance().getExtensions();
    if (index < 0 || static_cast<std::size_t>(index) >= extensions.size()) return nullptr;
    const std::shared_ptr<quorvel::NodeFactory> factory = extensions[index]->getNodeFactory();
    if (!factory) return nullptr;
    std::vector<std::string> names;
    for (const quorvel::NodeTypeInfo& info : factory->getNodeTypes()) {
      names.push_back(info.getFQTypeName());
    }
    return toJavaStrings(env, names);
  });
}

}  // extern "C"
