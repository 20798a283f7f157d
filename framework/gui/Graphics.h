// Colours and fonts of the window framework.
//
// A TColor is either an explicit RGB value (0x00BBGGRR) or one of the system
// colours (high bit set), which follow the platform's palette when a control
// shows them. A TFont describes a font the way the window resources state it:
// face name, character height in pixels, style, character set and colour; the
// controls turn it into the toolkit's font at their boundary. Font heights are
// pixels at 96 pixels per inch, so a character height of 11 pixels is 8 points;
// a display of another density shows the font at the same size in points
// (PixelsAt).
//
// Not thread-safe: fonts belong to controls, which live on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/core/Classes.h"

using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

// System colours: the platform's palette decides how they look.
constexpr TColor clWindow = static_cast<TColor>(0x80000005);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008);
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
constexpr TColor clBtnText = static_cast<TColor>(0x80000012);

constexpr bool IsSystemColor(TColor color) {
  return color < 0;
}
constexpr TColor RGBColor(int red, int green, int blue) {
  return static_cast<TColor>((blue & 0xFF) << 16 | (green & 0xFF) << 8 | (red & 0xFF));
}

// Character sets as the font descriptions name them. The toolkit renders
// Unicode, so the character set is carried along but changes nothing on screen.
using TFontCharset = std::uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;
constexpr TFontCharset TURKISH_CHARSET = 162;
constexpr TFontCharset GREEK_CHARSET = 161;
constexpr TFontCharset BALTIC_CHARSET = 186;
constexpr TFontCharset RUSSIAN_CHARSET = 204;
constexpr TFontCharset EASTEUROPE_CHARSET = 238;

// A set of font styles, as bit flags.
using TFontStyles = unsigned;
constexpr TFontStyles fsBold = 1;
constexpr TFontStyles fsItalic = 2;
constexpr TFontStyles fsUnderline = 4;
constexpr TFontStyles fsStrikeOut = 8;

// The layout density of every resource of the program.
constexpr int kScreenPixelsPerInch = 96;

class TFont : public TPersistent {
 public:
  TFont() = default;
  TFont(const TFont&) = delete;
  TFont& operator=(const TFont&) = delete;

  // The face name, 8-bit text. A face the system lacks is kept as given; the
  // toolkit's font matching shows the nearest one.
  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  // Character height in pixels (positive).
  int Height() const { return height_; }
  void SetHeight(int pixels);
  // The same height in points at 96 pixels per inch, rounded to the nearest.
  int Size() const;
  void SetSize(int points);
  // The character height in pixels on a display of pixels_per_inch. A height
  // that is a whole number of points at 96 (as every height of the resources
  // and of the font dialog is: 11 is 8 points, 13 is 10) is that many points
  // there, as the system makes a font of a size in points; any other height
  // scales with the density. At 96 it is Height().
  int PixelsAt(int pixels_per_inch) const;
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style);
  TFontCharset Charset() const { return charset_; }
  void SetCharset(TFontCharset charset);
  TColor Color() const { return color_; }
  void SetColor(TColor color);

  // Takes over face, height, style, character set and colour of another font,
  // with one change notification.
  void Assign(const TPersistent* source) override;
  bool SameAs(const TFont& other) const;

  // Raised after every change; the control that owns the font installs it.
  void SetOnChange(std::function<void()> handler) { on_change_ = std::move(handler); }

 private:
  void Changed();

  std::string name_ = "Tahoma";
  int height_ = 11;
  TFontStyles style_ = 0;
  TFontCharset charset_ = DEFAULT_CHARSET;
  TColor color_ = clWindowText;
  std::function<void()> on_change_;
};

// The rounding integer scale of the platform: number * numerator / denominator.
int MulDiv(int number, int numerator, int denominator);
