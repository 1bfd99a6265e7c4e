// A borderless top-level window with a frame, a picture and timers, as the
// splash needs it; and the pictures and screen metrics that go with it.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

using WindowHandle = std::uint32_t;

// A loaded picture at its natural size. A picture made for a screen of twice
// the density has a density of 2: it is drawn in half as many pixels of the
// splash's design, one of its pixels to each pixel of such a screen.
class Picture {
 public:
  virtual ~Picture() = default;
  virtual int width() const = 0;   // pixels of the picture
  virtual int height() const = 0;  // pixels of the picture
  virtual int density() const { return 1; }
};

// The primary display: its size in pixels and the twips (1/1440 inch) per
// pixel, in the pixels a form is placed and drawn in (the screen's own pixels
// divided by `scale`, so that a splash looks the same size at any scale).
struct ScreenMetrics {
  int width_px = 0;
  int height_px = 0;
  float twips_per_pixel_x = 15;
  float twips_per_pixel_y = 15;
  // The screen's pixels per pixel of a form: 1 at 96 DPI, 2 at 200 %.
  float scale = 1;
};

// What a form reports to its owner. Events arrive on the one thread, from the
// event loop or from an explicit event pump.
class FormEvents {
 public:
  virtual ~FormEvents() = default;
  // The form became the launcher's active window (first when it is shown).
  virtual void OnActivate() = 0;
  // A click on the form's background or its picture.
  virtual void OnClick() = 0;
  // A tick of the timer `timer`.
  virtual void OnTimer(int timer) = 0;
};

// Created hidden, borderless, with a white background and no taskbar button.
// Closing destroys the window and its timers; the object itself stays valid,
// so a form may be closed from inside one of its own events.
class Form {
 public:
  virtual ~Form() = default;
  virtual WindowHandle Handle() = 0;
  virtual bool IsOpen() = 0;
  // Position and outer size in twips.
  virtual void SetBounds(float left, float top, float width, float height) = 0;
  // The frame rectangle in pixels, outlined in the system's 3-D shadow colour.
  virtual void SetFrame(int left, int top, int width, int height) = 0;
  // The picture at its natural size (divided by its density) with its
  // top-left corner at (left, top) pixels, drawn over the frame and cut off at
  // the window's edges.
  virtual void SetPicture(const Picture& picture, int left, int top) = 0;
  // What assistive technology reads for the window; its caption stays empty.
  virtual void SetAccessibleName(const std::string& name) = 0;
  // Shows the form modeless and activates it; OnActivate runs before it returns.
  virtual void Show() = 0;
  virtual void SetTopmost(bool topmost) = 0;
  // A timer ticks every `interval_ms` from the moment it is set while enabled.
  virtual void SetTimer(int timer, std::uint32_t interval_ms, bool enabled) = 0;
  virtual void Close() = 0;
};

}  // namespace launcher
