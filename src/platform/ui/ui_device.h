#pragma once

#include <memory>
#include <string>

enum class UIUserInterfaceIdiom { Unspecified = -1, Phone = 0, Pad = 1 };

enum class UIDeviceOrientation {
  Unknown = 0,
  Portrait = 1,
  PortraitUpsideDown = 2,
  LandscapeLeft = 3,
  LandscapeRight = 4,
  FaceUp = 5,
  FaceDown = 6
};

inline constexpr const char* UIDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";

// The device the application runs on. Its kind, system version and orientation are settings,
// so tests can play any device.
class UIDevice : public std::enable_shared_from_this<UIDevice> {
 public:
  static std::shared_ptr<UIDevice> currentDevice();
  // Puts the current device back to its defaults (a phone in portrait, system 9.3).
  static void resetCurrentDevice();

  UIUserInterfaceIdiom userInterfaceIdiom() const { return idiom_; }
  void setUserInterfaceIdiom(UIUserInterfaceIdiom idiom) { idiom_ = idiom; }
  const std::string& systemVersion() const { return systemVersion_; }
  void setSystemVersion(std::string version) { systemVersion_ = std::move(version); }

  UIDeviceOrientation orientation() const { return orientation_; }
  // A change posts UIDeviceOrientationDidChangeNotification (object: the device) on the default
  // notification center.
  void setOrientation(UIDeviceOrientation orientation);

  // Turns the device, as a hand would: the orientation (with its notification), then, for a
  // portrait or landscape orientation, the interface: the status bar orientation, the screen's
  // bounds (width and height swap between portrait and landscape) and the key window. The
  // controllers on screen hear willRotateToInterfaceOrientation, viewWillTransitionToSize, a
  // layout pass, then didRotateFromInterfaceOrientation.
  void rotate(UIDeviceOrientation orientation);

 private:
  UIUserInterfaceIdiom idiom_ = UIUserInterfaceIdiom::Phone;
  std::string systemVersion_ = "9.3";
  UIDeviceOrientation orientation_ = UIDeviceOrientation::Portrait;
};
