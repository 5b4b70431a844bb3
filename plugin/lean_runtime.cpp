// The C++ runtime's error throwers, built without the message strings they normally
// carry. Those strings are the old reference-counted kind, and the library's own
// thrower object drags in a whole second string implementation (about 50 KB) for
// them. The plugin catches every exception with catch (...) and reads no message, so
// a small exception type with the thrower's literal text serves the same purpose.
#include <exception>
#include <functional>
#include <new>
#include <typeinfo>

namespace {

class RuntimeError : public std::exception {
  public:
    explicit RuntimeError(const char* what) : what_(what ? what : "runtime error") {}
    const char* what() const noexcept override { return what_; }

  private:
    const char* what_;
};

}  // namespace

namespace std {

void __throw_bad_exception() {
    throw bad_exception();
}
void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
void __throw_bad_cast() {
    throw bad_cast();
}
void __throw_bad_typeid() {
    throw bad_typeid();
}
void __throw_logic_error(const char* what) {
    throw RuntimeError(what);
}
void __throw_domain_error(const char* what) {
    throw RuntimeError(what);
}
void __throw_invalid_argument(const char* what) {
    throw RuntimeError(what);
}
void __throw_length_error(const char* what) {
    throw RuntimeError(what);
}
void __throw_out_of_range(const char* what) {
    throw RuntimeError(what);
}
void __throw_out_of_range_fmt(const char* format, ...) {
    throw RuntimeError(format);
}
void __throw_runtime_error(const char* what) {
    throw RuntimeError(what);
}
void __throw_range_error(const char* what) {
    throw RuntimeError(what);
}
void __throw_overflow_error(const char* what) {
    throw RuntimeError(what);
}
void __throw_underflow_error(const char* what) {
    throw RuntimeError(what);
}

}  // namespace std
