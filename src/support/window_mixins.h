// Features a window or dialog class takes in by deriving from them and chaining
// their message map:
//
//   class CTab : public support::CDialogImpl<CTab>,
//                public support::CDialogResize,
//                public support::CCustomDraw {
//     BEGIN_MSG_MAP(CTab)
//       ...
//       CHAIN_MSG_MAP(support::CDialogResize)
//       CHAIN_MSG_MAP(support::CCustomDraw)
//     END_MSG_MAP()
//   };
//
// CSubclassWindow takes over a control created by someone else (a dialog's
// button) through the common controls' subclassing, so several subclasses of
// one window stay independent.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <vector>

#include "support/window_base.h"

namespace support {

// --- Layout on resize ------------------------------------------------------------

enum resize_flags : unsigned {
  resize_move_x = 0x1,  // keeps its distance to the right edge
  resize_move_y = 0x2,  // keeps its distance to the bottom edge
  resize_size_x = 0x4,  // grows with the width
  resize_size_y = 0x8,  // grows with the height
};

struct resize_anchor_t {
  int id;
  unsigned flags;
};

class CDialogResize {
 public:
  // Records the controls' places against the dialog's client size now.
  void DlgResize_Init(HWND dialog, const resize_anchor_t* anchors, std::size_t count);
  // Moves and sizes the controls for a client area of cx × cy.
  void DlgResize_UpdateLayout(int cx, int cy);

  // WM_SIZE lays the controls out and is left to others too.
  BOOL ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM lparam, LRESULT&);

 private:
  struct control_t {
    int id;
    unsigned flags;
    RECT rect;
  };
  HWND m_dialog = nullptr;
  SIZE m_initial{};
  std::vector<control_t> m_controls;
};

// --- Custom draw (NM_CUSTOMDRAW) -----------------------------------------------------

class CCustomDraw {
 public:
  virtual ~CCustomDraw() = default;
  virtual DWORD OnPrePaint(int /*id*/, NMCUSTOMDRAW* /*draw*/) { return CDRF_DODEFAULT; }
  virtual DWORD OnPostPaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }
  virtual DWORD OnItemPrePaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }
  virtual DWORD OnItemPostPaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }
  virtual DWORD OnSubItemPrePaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }

  BOOL ProcessWindowMessage(HWND, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);
};

// --- Owner draw (WM_DRAWITEM, WM_MEASUREITEM) ----------------------------------------

class COwnerDraw {
 public:
  virtual ~COwnerDraw() = default;
  virtual void DrawItem(DRAWITEMSTRUCT* /*item*/) {}
  virtual void MeasureItem(MEASUREITEMSTRUCT* /*item*/) {}

  BOOL ProcessWindowMessage(HWND, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);
};

// --- Subclassing ---------------------------------------------------------------------

class CSubclassWindow {
 public:
  CSubclassWindow() = default;
  CSubclassWindow(const CSubclassWindow&) = delete;
  CSubclassWindow& operator=(const CSubclassWindow&) = delete;
  virtual ~CSubclassWindow();

  // The window's messages go through ProcessWindowMessage first, then on to
  // the window's own procedure.
  bool SubclassWindow(HWND window);
  void UnsubclassWindow();

  virtual BOOL ProcessWindowMessage(HWND window,
                                    UINT message,
                                    WPARAM wparam,
                                    LPARAM lparam,
                                    LRESULT& result) = 0;
  // The window's own handling of the message being processed.
  LRESULT DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam);

  HWND m_hWnd = nullptr;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window,
                                       UINT message,
                                       WPARAM wparam,
                                       LPARAM lparam,
                                       UINT_PTR id,
                                       DWORD_PTR self);
};

}  // namespace support
