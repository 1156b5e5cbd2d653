#pragma once

#include <optional>
#include <string>

// A colour value: red, green, blue and alpha in 0...1, made either as RGB or as a grey level.
// Two colours are equal when their model and components are equal (as on the platform, grey
// white is not equal to RGB white).
class UIColor {
 public:
  enum class Model { RGB, Grey };

  UIColor() = default;  // opaque black, RGB

  static UIColor colorWithRed(double red, double green, double blue, double alpha);
  static UIColor colorWithWhite(double white, double alpha);
  static UIColor colorWithHue(double hue, double saturation, double brightness, double alpha);

  static UIColor clearColor();
  static UIColor blackColor();
  static UIColor whiteColor();
  static UIColor grayColor();
  static UIColor darkGrayColor();
  static UIColor lightGrayColor();
  static UIColor redColor();
  static UIColor greenColor();
  static UIColor blueColor();
  static UIColor yellowColor();
  static UIColor orangeColor();
  // The default tint of views that have none of their own.
  static UIColor systemTintColor();

  UIColor colorWithAlphaComponent(double alpha) const;
  // The layer's colour type is the same value here.
  UIColor CGColor() const { return *this; }

  Model model() const { return model_; }
  double red() const { return r_; }
  double green() const { return g_; }
  double blue() const { return b_; }
  double alpha() const { return a_; }
  // Grey level of a grey colour; for RGB the mean of the three components.
  double white() const;

  // False when the colour cannot be expressed in that model (as on the platform for grey RGB
  // questions it answers anyway: every colour converts).
  bool getRed(double* red, double* green, double* blue, double* alpha) const;
  bool getHue(double* hue, double* saturation, double* brightness, double* alpha) const;
  bool getWhite(double* white, double* alpha) const;

  // "#RRGGBBAA"-style text for rendering and test messages.
  std::string description() const;

  bool operator==(const UIColor&) const = default;

 private:
  UIColor(Model m, double r, double g, double b, double a) : model_(m), r_(r), g_(g), b_(b), a_(a) {}
  Model model_ = Model::RGB;
  double r_ = 0, g_ = 0, b_ = 0, a_ = 1;
};
