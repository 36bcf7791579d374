// A decoded or outgoing method call: the method name and the arguments it owns (or none).
#ifndef KESTRO_ENGINE_CLIENT_CODEC_METHOD_CALL_H_
#define KESTRO_ENGINE_CLIENT_CODEC_METHOD_CALL_H_

#include <memory>
#include <string>
#include <utility>

namespace flutter {

template <typename T>
class MethodCall {
 public:
  MethodCall(std::string name, std::unique_ptr<T> arguments)
      : name_(std::move(name)), arguments_(std::move(arguments)) {}
  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& MethodName() const { return name_; }
  // Null when the call carries no arguments; a decoded call always has them (maybe a null value).
  const T* Arguments() const { return arguments_.get(); }

 private:
  std::string name_;
  std::unique_ptr<T> arguments_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_METHOD_CALL_H_
