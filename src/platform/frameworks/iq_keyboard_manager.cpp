#include "platform/frameworks/iq_keyboard_manager.h"

IQKeyboardManager& IQKeyboardManager::sharedManager() {
  static IQKeyboardManager manager;
  return manager;
}
