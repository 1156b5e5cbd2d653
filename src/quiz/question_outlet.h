#pragma once

#include <memory>
#include <string>

#include "platform/foundation/fatal_error.h"

// An outlet the scene must have connected; a missing one stops the program.
template <class T>
std::shared_ptr<T> requiredQuestionOutlet(const std::weak_ptr<T>& outlet, const char* name) {
  auto view = outlet.lock();
  if (!view) fatalError(std::string("Outlet ") + name + " is not connected");
  return view;
}
