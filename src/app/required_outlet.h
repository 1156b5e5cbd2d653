#pragma once

#include <memory>
#include <string>

#include "platform/foundation/fatal_error.h"

// A weak outlet the screen cannot work without; an unconnected one is a programming error that
// stops the program with the outlet's name.
template <class T>
std::shared_ptr<T> requiredOutlet(const std::weak_ptr<T>& outlet, const char* name) {
  auto view = outlet.lock();
  if (!view) fatalError(std::string("Outlet ") + name + " is not connected");
  return view;
}
