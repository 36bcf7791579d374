// Receiver of one method call's outcome. Exactly one of the three operations is called at most
// once, on whichever thread delivers the reply; the pointers live only for the call.
#ifndef KESTRO_ENGINE_CLIENT_CODEC_METHOD_RESULT_H_
#define KESTRO_ENGINE_CLIENT_CODEC_METHOD_RESULT_H_

#include <string>

namespace flutter {

template <typename T>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // result is null when the call succeeded without a value.
  virtual void Success(const T* result = nullptr) = 0;
  // details is null when the error carries none; message is empty when it carries none.
  virtual void Error(const std::string& code, const std::string& message = "",
                     const T* details = nullptr) = 0;
  virtual void NotImplemented() = 0;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_METHOD_RESULT_H_
