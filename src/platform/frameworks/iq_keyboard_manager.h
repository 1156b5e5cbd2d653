#pragma once

// The keyboard manager framework. There is no on-screen keyboard to move views away from, so only
// its switches exist. Main thread only.
class IQKeyboardManager {
 public:
  static IQKeyboardManager& sharedManager();

  // Automatic handling of the keyboard; off until the application switches it on.
  bool enable() const { return enable_; }
  void setEnable(bool enable) { enable_ = enable; }
  // The previous / next / done bar above the keyboard; on by default, as in the framework.
  bool enableAutoToolbar() const { return enableAutoToolbar_; }
  void setEnableAutoToolbar(bool enable) { enableAutoToolbar_ = enable; }

 private:
  IQKeyboardManager() = default;
  bool enable_ = false;
  bool enableAutoToolbar_ = true;
};
