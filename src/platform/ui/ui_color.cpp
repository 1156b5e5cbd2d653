#include "platform/ui/ui_color.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace {
double clamp01(double v) { return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0); }
}  // namespace

UIColor UIColor::colorWithRed(double red, double green, double blue, double alpha) {
  return UIColor(Model::RGB, red, green, blue, clamp01(alpha));
}

UIColor UIColor::colorWithWhite(double white, double alpha) {
  return UIColor(Model::Grey, white, white, white, clamp01(alpha));
}

UIColor UIColor::colorWithHue(double hue, double saturation, double brightness, double alpha) {
  double h = std::isfinite(hue) ? hue - std::floor(hue) : 0;
  double s = clamp01(saturation);
  double v = clamp01(brightness);
  if (s == 0) return colorWithRed(v, v, v, alpha);
  double sector = h * 6;
  int i = static_cast<int>(std::floor(sector)) % 6;
  double f = sector - std::floor(sector);
  double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  switch (i) {
    case 0: return colorWithRed(v, t, p, alpha);
    case 1: return colorWithRed(q, v, p, alpha);
    case 2: return colorWithRed(p, v, t, alpha);
    case 3: return colorWithRed(p, q, v, alpha);
    case 4: return colorWithRed(t, p, v, alpha);
    default: return colorWithRed(v, p, q, alpha);
  }
}

UIColor UIColor::clearColor() { return colorWithWhite(0, 0); }
UIColor UIColor::blackColor() { return colorWithWhite(0, 1); }
UIColor UIColor::whiteColor() { return colorWithWhite(1, 1); }
UIColor UIColor::grayColor() { return colorWithWhite(0.5, 1); }
UIColor UIColor::darkGrayColor() { return colorWithWhite(1.0 / 3, 1); }
UIColor UIColor::lightGrayColor() { return colorWithWhite(2.0 / 3, 1); }
UIColor UIColor::redColor() { return colorWithRed(1, 0, 0, 1); }
UIColor UIColor::greenColor() { return colorWithRed(0, 1, 0, 1); }
UIColor UIColor::blueColor() { return colorWithRed(0, 0, 1, 1); }
UIColor UIColor::yellowColor() { return colorWithRed(1, 1, 0, 1); }
UIColor UIColor::orangeColor() { return colorWithRed(1, 0.5, 0, 1); }
UIColor UIColor::systemTintColor() { return colorWithRed(0, 122.0 / 255, 1, 1); }

UIColor UIColor::colorWithAlphaComponent(double alpha) const {
  UIColor c = *this;
  c.a_ = clamp01(alpha);
  return c;
}

double UIColor::white() const { return model_ == Model::Grey ? r_ : (r_ + g_ + b_) / 3; }

bool UIColor::getRed(double* red, double* green, double* blue, double* alpha) const {
  if (red) *red = r_;
  if (green) *green = g_;
  if (blue) *blue = b_;
  if (alpha) *alpha = a_;
  return true;
}

bool UIColor::getHue(double* hue, double* saturation, double* brightness, double* alpha) const {
  double r = clamp01(r_), g = clamp01(g_), b = clamp01(b_);
  double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  double d = mx - mn;
  double h = 0;
  if (d > 0) {
    if (mx == r) {
      h = std::fmod((g - b) / d, 6.0);
    } else if (mx == g) {
      h = (b - r) / d + 2;
    } else {
      h = (r - g) / d + 4;
    }
    h /= 6;
    if (h < 0) h += 1;
  }
  if (hue) *hue = h;
  if (saturation) *saturation = mx == 0 ? 0 : d / mx;
  if (brightness) *brightness = mx;
  if (alpha) *alpha = a_;
  return true;
}

bool UIColor::getWhite(double* white, double* alpha) const {
  if (white) *white = this->white();
  if (alpha) *alpha = a_;
  return model_ == Model::Grey;
}

std::string UIColor::description() const {
  auto byte = [](double v) { return static_cast<int>(std::lround(clamp01(v) * 255)); };
  return fmt::format("#{:02X}{:02X}{:02X}{:02X}", byte(r_), byte(g_), byte(b_), byte(a_));
}
