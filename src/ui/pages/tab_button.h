// The main page's tab buttons: owner-drawn push buttons that draw an optional
// bitmap and their text on the page's background, look hot while the mouse is
// over them (tracked with mouse capture and a timer) and, as tab buttons, look
// selected while their tab is shown. Clicks reach the page as the button's
// ordinary WM_COMMAND; the page hands the button its WM_DRAWITEM.
#pragma once

#include <windows.h>

#include "support/window_mixins.h"

namespace ui {

class CTransparentBitmapButton : public support::CSubclassWindow {
 public:
  // Takes over a BS_OWNERDRAW button; `tooltips` (may be null) gets a tool
  // showing the button's text.
  bool Attach(HWND button, HWND tooltips);
  // Not owned; the caller keeps it alive while the button shows it.
  void SetBitmap(HBITMAP bitmap) noexcept { m_bitmap = bitmap; }

  // WM_DRAWITEM of the button.
  void Draw(const DRAWITEMSTRUCT& item) const;
  bool hot() const noexcept { return m_hot; }

  BEGIN_MSG_MAP(CTransparentBitmapButton)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
  END_MSG_MAP()

 protected:
  // What the selected tab adds to the drawing.
  virtual bool selected() const noexcept { return false; }

 private:
  LRESULT OnMouseMove(UINT, WPARAM, LPARAM, BOOL& handled);
  LRESULT OnTimer(UINT, WPARAM wparam, LPARAM, BOOL& handled);
  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&) { return 1; }
  void SetHot(bool hot);

  HBITMAP m_bitmap = nullptr;
  bool m_hot = false;
};

class CTabButton : public CTransparentBitmapButton {
 public:
  void SetPressed(bool pressed);
  bool pressed() const noexcept { return m_pressed; }

 protected:
  bool selected() const noexcept override { return m_pressed; }

 private:
  bool m_pressed = false;
};

}  // namespace ui
