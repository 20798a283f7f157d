#include "framework/gui/Graphics.h"

#include <cstdint>

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  std::int64_t product = static_cast<std::int64_t>(number) * numerator;
  std::int64_t half = (denominator < 0 ? -denominator : denominator) / 2;
  // Round half away from zero, as the platform's helper does.
  bool negative = (product < 0) != (denominator < 0);
  std::int64_t magnitude = (product < 0 ? -product : product) + half;
  std::int64_t result = magnitude / (denominator < 0 ? -denominator : denominator);
  return static_cast<int>(negative ? -result : result);
}

void TFont::SetName(std::string name) {
  if (name == name_) return;
  name_ = std::move(name);
  Changed();
}

void TFont::SetHeight(int pixels) {
  if (pixels < 0) pixels = -pixels;
  if (pixels == height_) return;
  height_ = pixels;
  Changed();
}

int TFont::Size() const {
  return MulDiv(height_, 72, kScreenPixelsPerInch);
}

void TFont::SetSize(int points) {
  SetHeight(MulDiv(points, kScreenPixelsPerInch, 72));
}

int TFont::PixelsAt(int pixels_per_inch) const {
  const int points = Size();
  if (MulDiv(points, kScreenPixelsPerInch, 72) == height_) {
    return MulDiv(points, pixels_per_inch, 72);
  }
  return MulDiv(height_, pixels_per_inch, kScreenPixelsPerInch);
}

void TFont::SetStyle(TFontStyles style) {
  if (style == style_) return;
  style_ = style;
  Changed();
}

void TFont::SetCharset(TFontCharset charset) {
  if (charset == charset_) return;
  charset_ = charset;
  Changed();
}

void TFont::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  Changed();
}

void TFont::Assign(const TPersistent* source) {
  const TFont* font = dynamic_cast<const TFont*>(source);
  if (font == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  name_ = font->name_;
  height_ = font->height_;
  style_ = font->style_;
  charset_ = font->charset_;
  color_ = font->color_;
  Changed();
}

bool TFont::SameAs(const TFont& other) const {
  return name_ == other.name_ && height_ == other.height_ && style_ == other.style_ &&
         charset_ == other.charset_ && color_ == other.color_;
}

void TFont::Changed() {
  if (on_change_) on_change_();
}
