#include "platform/foundation/class_registry.h"

ClassRegistry& ClassRegistry::shared() {
  static auto* registry = new ClassRegistry;
  return *registry;
}
