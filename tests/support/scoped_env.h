#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

// Sets an environment variable (nullptr: unsets it) for one scope and puts the old value back.
// tzset() follows each change, so a change of TZ is seen at once.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void set(const char* value) {
    value ? ::setenv(name_, value, 1) : ::unsetenv(name_);
    ::tzset();
  }
  const char* name_;
  std::optional<std::string> old_;
};
