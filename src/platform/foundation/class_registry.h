#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <typeindex>
#include <utility>

// What a class name stands for at run time: a factory of instances of `Base`, made from `Args`.
template <class Base, class... Args>
using ClassFactory = std::function<std::shared_ptr<Base>(Args...)>;

// Classes that code looks up by name at run time (optional collaborators). A registration is
// keyed by its name and its factory type, so a lookup never hands out a factory of another type.
class ClassRegistry {
 public:
  static ClassRegistry& shared();

  // Replaces an earlier registration of the same name and type.
  template <class Base, class... Args>
  void registerClass(const std::string& name, std::type_identity_t<ClassFactory<Base, Args...>> factory) {
    std::unique_lock lock(mutex_);
    factories_[{typeid(ClassFactory<Base, Args...>), name}] = std::move(factory);
  }

  template <class Base, class... Args>
  void unregisterClass(const std::string& name) {
    std::unique_lock lock(mutex_);
    factories_.erase({typeid(ClassFactory<Base, Args...>), name});
  }

  // The factory registered under exactly `name`; empty when there is none.
  template <class Base, class... Args>
  ClassFactory<Base, Args...> factory(const std::string& name) const {
    std::shared_lock lock(mutex_);
    auto it = factories_.find({typeid(ClassFactory<Base, Args...>), name});
    if (it == factories_.end()) return {};
    return std::any_cast<ClassFactory<Base, Args...>>(it->second);
  }

  // `prefix` + `name` first, then the bare name; empty when neither is registered.
  template <class Base, class... Args>
  ClassFactory<Base, Args...> lookup(const std::string& name, const std::string& prefix) const {
    if (auto prefixed = factory<Base, Args...>(prefix + name)) return prefixed;
    return factory<Base, Args...>(name);
  }

  // A new instance of the class registered under `name` (no arguments), or nullptr.
  template <class Base>
  std::shared_ptr<Base> make(const std::string& name) const {
    auto f = factory<Base>(name);
    return f ? f() : nullptr;
  }

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::pair<std::type_index, std::string>, std::any> factories_;
};
