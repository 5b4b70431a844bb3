// A callable handed down for the length of one call: a pointer to it and one to a
// function that calls it. Unlike std::function nothing is copied or allocated, and a
// caller's lambda costs one small function instead of a manager, an invoker and the
// unwinding around a temporary. Never kept past the call it came in.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace nimbo {

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
  public:
    template <typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef> &&
                                          std::is_invocable_r_v<R, F&, Args...>>>
    FunctionRef(F&& f) noexcept  // implicit: a lambda is passed as it is
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(
                  std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

  private:
    void* object_;
    R (*call_)(void*, Args...);
};

}  // namespace nimbo
