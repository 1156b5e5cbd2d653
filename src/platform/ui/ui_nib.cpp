#include "platform/ui/ui_nib.h"

#include <map>

#include "platform/foundation/fatal_error.h"

namespace {

std::map<std::string, UINib::Contents>& registry() {
  static std::map<std::string, UINib::Contents> nibs;
  return nibs;
}

}  // namespace

void UINib::registerNib(std::string name, Contents contents) { registry()[std::move(name)] = std::move(contents); }

void UINib::unregisterNib(const std::string& name) { registry().erase(name); }

bool UINib::isNibRegistered(const std::string& name) { return registry().count(name) > 0; }

std::shared_ptr<UINib> UINib::nibWithNibName(const std::string& name) {
  auto it = registry().find(name);
  if (it == registry().end()) fatalError("Could not load NIB in bundle with name '" + name + "'");
  return std::make_shared<UINib>(name, it->second);
}

std::vector<std::shared_ptr<UIView>> UINib::instantiateWithOwner(const std::shared_ptr<void>& owner) const {
  UINibLoader loader(owner);
  auto views = contents_ ? contents_(loader) : std::vector<std::shared_ptr<UIView>>{};
  loader.finish();
  return views;
}

std::vector<std::shared_ptr<UIView>> loadNibNamed(const std::string& name, const std::shared_ptr<void>& owner) {
  return UINib::nibWithNibName(name)->instantiateWithOwner(owner);
}

void UINibLoader::finish() {
  auto views = std::move(made_);
  made_.clear();
  for (const auto& v : views) v->awakeFromNib();
}
