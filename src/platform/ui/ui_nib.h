#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/ui/ui_view.h"

class UINibLoader;

// A nib written in code and registered by name: a function that makes its top-level views. Each
// instantiation makes fresh views; once the function has returned (outlets connected),
// awakeFromNib runs once on every view it made through the loader, in the order they were made.
class UINib {
 public:
  using Contents = std::function<std::vector<std::shared_ptr<UIView>>(UINibLoader&)>;

  // Replaces a nib of the same name.
  static void registerNib(std::string name, Contents contents);
  static void unregisterNib(const std::string& name);
  static bool isNibRegistered(const std::string& name);
  // An unknown name stops the program (the bundle has no such nib).
  static std::shared_ptr<UINib> nibWithNibName(const std::string& name);

  UINib(std::string name, Contents contents) : name_(std::move(name)), contents_(std::move(contents)) {}

  const std::string& name() const { return name_; }
  // The top-level views, in order. `owner` is what the nib's owner outlets connect to.
  std::vector<std::shared_ptr<UIView>> instantiateWithOwner(const std::shared_ptr<void>& owner) const;

 private:
  std::string name_;
  Contents contents_;
};

// The main bundle's loadNibNamed: the top-level views of the registered nib `name`.
std::vector<std::shared_ptr<UIView>> loadNibNamed(const std::string& name,
                                                  const std::shared_ptr<void>& owner = nullptr);

// What a nib's contents function works with.
class UINibLoader {
 public:
  explicit UINibLoader(std::shared_ptr<void> owner) : owner_(std::move(owner)) {}

  const std::shared_ptr<void>& owner() const { return owner_; }
  // A view of class V made through its archive constructor, added to `parent` when given.
  template <class V>
  std::shared_ptr<V> make(const std::shared_ptr<UIView>& parent = nullptr, CGRect frame = {}) {
    auto v = makeFromArchive<V>();
    v->setFrame(frame);
    if (parent) parent->addSubview(v);
    made_.push_back(v);
    return v;
  }
  // Runs awakeFromNib on the views made here.
  void finish();

 private:
  std::shared_ptr<void> owner_;
  std::vector<std::shared_ptr<UIView>> made_;
};
