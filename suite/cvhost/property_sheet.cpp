#include "property_sheet.h"

#include <windows.h>

#include <commctrl.h>

#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "drive_runner.h"
#include "output.h"
#include "png_file.h"
#include "support/unique_any.h"

namespace cvhost {

namespace {

constexpr wchar_t kCaption[] = L"Security Console";
constexpr UINT_PTR kCloseTimer = 1;
// When a page vetoes the cancel, the sheet is taken down this much later.
constexpr UINT_PTR kForceCloseTimer = 2;
constexpr UINT kForceCloseDelayMs = 2000;
// The sheet's Apply button (the common controls' own id).
constexpr int kApplyButton = 0x3021;
// What the sheet tells its pages (WM_NOTIFY from the sheet): save the changes,
// or forget them.
constexpr UINT kNotifySave = 11;
constexpr UINT kNotifyDiscard = 8;
// A page's request to the console (WM_USER + 2001), lParam a class identifier text.
constexpr UINT kConsoleRequest = WM_USER + 2001;
// Posted to the sheet once it runs: start the script.
constexpr UINT kRunScript = WM_APP + 0x51;
constexpr UINT_PTR kSheetSubclass = 1;

// What the sheet's subclass needs.
struct sheet_context_t {
  std::string prefix;  // the verb, for the result lines
  CDriveRunner* runner = nullptr;
  bool script_done = false;
  bool script_failed = false;
};

using unique_window = support::unique_any<HWND, decltype(&::DestroyWindow), ::DestroyWindow>;
using unique_dc = support::unique_any<HDC, decltype(&::DeleteDC), ::DeleteDC>;
using unique_bitmap = support::unique_any<HBITMAP, decltype(&::DeleteObject), ::DeleteObject>;

// Offset of a window's client area from the picture's origin (the top-left
// corner of the top-level window).
POINT client_origin(HWND window, const RECT& top) {
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  return {origin.x - top.left, origin.y - top.top};
}

// The frame of the top-level window: its border and caption.
void paint_frame(HWND window, const RECT& top, HDC dc) {
  RECT frame{0, 0, top.right - top.left, top.bottom - top.top};
  ::FillRect(dc, &frame, ::GetSysColorBrush(COLOR_BTNFACE));
  ::DrawEdge(dc, &frame, EDGE_RAISED, BF_RECT);
  const POINT client = client_origin(window, top);
  RECT caption{client.x, client.x, frame.right - client.x,
               client.y - ::GetSystemMetrics(SM_CYEDGE)};
  if (caption.bottom > caption.top)
    ::DrawCaption(window, dc, &caption, DC_ACTIVE | DC_TEXT | DC_GRADIENT);
}

// Paints the client area of a window, then its visible children, into dc.
// Every window paints itself (WM_PRINTCLIENT) into a bitmap of its own at the
// origin, which is then copied to its place: controls paint correctly only
// into a device context whose origin is theirs, and no screen is needed.
void paint_tree(HWND window, const RECT& top, HDC dc) {
  RECT client{};
  ::GetClientRect(window, &client);
  const POINT at = client_origin(window, top);
  if (client.right > 0 && client.bottom > 0) {
    const unique_dc own(::CreateCompatibleDC(dc));
    const unique_bitmap bitmap(::CreateCompatibleBitmap(dc, client.right, client.bottom));
    if (own && bitmap) {
      const HGDIOBJ previous = ::SelectObject(own.get(), bitmap.get());
      ::FillRect(own.get(), &client, ::GetSysColorBrush(COLOR_BTNFACE));
      ::SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(own.get()), 0);
      ::SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(own.get()),
                     PRF_CLIENT | PRF_ERASEBKGND);
      ::BitBlt(dc, at.x, at.y, client.right, client.bottom, own.get(), 0, 0, SRCCOPY);
      ::SelectObject(own.get(), previous);
    }
  }
  // Borders of the children, which their own painting leaves out.
  const LONG_PTR ex_style = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
  if (::GetParent(window) != nullptr && (ex_style & WS_EX_CLIENTEDGE)) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::OffsetRect(&rect, -top.left, -top.top);
    ::DrawEdge(dc, &rect, EDGE_SUNKEN, BF_RECT);
  }
  // Children from the bottom of the z-order up, so the top ones end up in front.
  for (HWND child = ::GetWindow(::GetWindow(window, GW_CHILD), GW_HWNDLAST); child != nullptr;
       child = ::GetWindow(child, GW_HWNDPREV)) {
    if (::IsWindowVisible(child))
      paint_tree(child, top, dc);
  }
}

}  // namespace

SIZE save_screenshot(HWND window, const std::wstring& path) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0)
    throw host_error(kExitFile, "the sheet has no size to take a picture of");

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD image_size = stride * static_cast<DWORD>(height);

  const HDC screen = ::GetDC(nullptr);
  const support::scope_exit release_screen([screen] { ::ReleaseDC(nullptr, screen); });
  const unique_dc memory(::CreateCompatibleDC(screen));
  void* bits = nullptr;
  const unique_bitmap bitmap(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !bitmap || bits == nullptr)
    throw host_error(kExitFile, "cannot make a bitmap for the picture");
  const HGDIOBJ previous = ::SelectObject(memory.get(), bitmap.get());
  paint_frame(window, rect, memory.get());
  paint_tree(window, rect, memory.get());
  ::GdiFlush();
  ::SelectObject(memory.get(), previous);

  // A name ending in ".png" gets a PNG file, any other a .bmp file.
  if (path.size() > 4 &&
      ::CompareStringOrdinal(path.c_str() + path.size() - 4, 4, L".png", 4, TRUE) == CSTR_EQUAL) {
    const HRESULT hr = write_png(path, width, height, stride, static_cast<const BYTE*>(bits));
    if (FAILED(hr))
      throw host_error(kExitFile,
                       "cannot write " + utf8(path) + ": " + hex(hr) + " " + hresult_text(hr));
    return {width, height};
  }

  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = header.bfOffBits + image_size;
  const support::unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  const bool ok =
      file && ::WriteFile(file.get(), &header, sizeof header, &written, nullptr) &&
      ::WriteFile(file.get(), &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
      ::WriteFile(file.get(), bits, image_size, &written, nullptr);
  if (!ok) {
    const DWORD error = ::GetLastError();
    throw host_error(kExitFile, "cannot write " + utf8(path) + ": error " + std::to_string(error) +
                                    " " + error_text(error));
  }
  return {width, height};
}

namespace {

std::wstring window_text(HWND window) {
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  return text;
}

INT_PTR CALLBACK overview_procedure(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// An in-memory dialog template: one page with one line of static text.
class overview_template_t {
 public:
  explicit overview_template_t(const std::wstring& text) {
    DLGTEMPLATE dialog{};
    dialog.style = DS_SETFONT | WS_CHILD | WS_CAPTION;
    dialog.cdit = 1;
    dialog.cx = 260;
    dialog.cy = 120;
    put(&dialog, sizeof dialog);
    put_words({0, 0});  // no menu, the default class
    put_text(L"Console");
    put_words({8});
    put_text(L"MS Shell Dlg");
    align();
    DLGITEMTEMPLATE item{};
    item.style = WS_CHILD | WS_VISIBLE | SS_LEFT;
    item.x = 10;
    item.y = 10;
    item.cx = 240;
    item.cy = 40;
    item.id = 1000;
    put(&item, sizeof item);
    put_words({0xFFFF, 0x0082});  // the static class
    put_text(text);
    put_words({0});  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

 private:
  void put(const void* bytes, std::size_t size) {
    const auto* words = static_cast<const WORD*>(bytes);
    m_words.insert(m_words.end(), words, words + size / sizeof(WORD));
  }
  void put_words(std::initializer_list<WORD> words) { m_words.insert(m_words.end(), words); }
  void put_text(const std::wstring& text) {
    m_words.insert(m_words.end(), text.begin(), text.end());
    m_words.push_back(0);
  }
  void align() {  // items start on a DWORD boundary
    if (m_words.size() % 2 != 0)
      m_words.push_back(0);
  }
  std::vector<WORD> m_words;
};

// Sends code to every page that has a window (a page never shown has nothing to
// save or forget).
void notify_pages(HWND sheet, UINT code, const sheet_context_t& context) {
  int count = 0;
  for (int i = 0;; ++i) {
    const HWND page = PropSheet_IndexToHwnd(sheet, i);
    if (page == nullptr) {
      const HWND tabs = PropSheet_GetTabControl(sheet);
      if (tabs == nullptr || i >= TabCtrl_GetItemCount(tabs))
        break;
      continue;
    }
    NMHDR header{};
    header.hwndFrom = sheet;
    header.idFrom = 0;
    header.code = code;
    ::SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
    ++count;
  }
  print_result(context.prefix + ": notify code=" + std::to_string(code) +
               " pages=" + std::to_string(count));
}

// The console's own handling around the sheet: its pages hear about OK, Apply and
// Cancel, their requests to the console are listed, and the script runs.
LRESULT CALLBACK
sheet_subclass(HWND sheet, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  auto& context = *reinterpret_cast<sheet_context_t*>(data);
  try {
    switch (message) {
      case WM_COMMAND:
        if (HIWORD(wparam) == BN_CLICKED) {
          if (LOWORD(wparam) == IDOK || LOWORD(wparam) == kApplyButton)
            notify_pages(sheet, kNotifySave, context);
          else if (LOWORD(wparam) == IDCANCEL)
            notify_pages(sheet, kNotifyDiscard, context);
        }
        break;
      case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_CLOSE)
          notify_pages(sheet, kNotifyDiscard, context);
        break;
      case kConsoleRequest: {
        const auto* text = reinterpret_cast<const wchar_t*>(lparam);
        print_result(context.prefix + ": request 0xBD1 wparam=" + std::to_string(wparam) +
                     " lparam=" + (text != nullptr ? utf8(text) : std::string("(null)")));
        return 0;
      }
      case kRunScript:
        if (context.runner != nullptr && !context.script_done) {
          // Done either way, failed unless it runs to its end.
          context.script_done = true;
          context.script_failed = true;
          context.script_failed = !context.runner->run(sheet);
        }
        return 0;
      case WM_NCDESTROY:
        ::RemoveWindowSubclass(sheet, sheet_subclass, kSheetSubclass);
        break;
    }
  } catch (const std::exception& error) {
    print_message(std::string("error in the sheet: ") + error.what());
  } catch (...) {
    print_message("error in the sheet");
  }
  return ::DefSubclassProc(sheet, message, wparam, lparam);
}

// Presses Cancel as a user would; a page that keeps the sheet open gets some time.
void press_cancel(HWND sheet) {
  ::SetTimer(sheet, kForceCloseTimer, kForceCloseDelayMs, nullptr);
  ::SendMessageW(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(sheet, IDCANCEL)));
}

}  // namespace

int show_console_overview(const std::wstring& text,
                          const options_t& options,
                          CDriveRunner* runner) {
  const overview_template_t dialog(text);
  PROPSHEETPAGEW page{};
  page.dwSize = sizeof page;
  page.dwFlags = PSP_DLGINDIRECT;
  page.hInstance = ::GetModuleHandleW(nullptr);
  page.pResource = dialog.get();
  page.pfnDlgProc = overview_procedure;
  std::vector<received_page_t> pages(1);
  pages[0].page.reset(::CreatePropertySheetPageW(&page));
  if (!pages[0].page) {
    print_message("cannot create the console's own page: error " +
                  std::to_string(::GetLastError()));
    return kExitCallFailed;
  }
  return show_property_sheet(pages, options, runner);
}

int show_property_sheet(std::vector<received_page_t>& pages,
                        const options_t& options,
                        CDriveRunner* runner) {
  std::vector<HPROPSHEETPAGE> handles;
  handles.reserve(pages.size());
  for (received_page_t& page : pages)
    handles.push_back(page.page.get());

  PROPSHEETHEADERW header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS;
  header.hwndParent = nullptr;
  header.hInstance = ::GetModuleHandleW(nullptr);
  header.pszCaption = kCaption;
  header.nPages = static_cast<UINT>(handles.size());
  header.nStartPage = 0;
  header.phpage = handles.data();

  // From here on the sheet owns the pages.
  for (received_page_t& page : pages)
    page.page.release();
  const INT_PTR created = ::PropertySheetW(&header);
  if (created == 0 || created == -1) {
    const DWORD error = ::GetLastError();
    print_message("cannot create the property sheet: error " + std::to_string(error) + " " +
                  error_text(error));
    return kExitCallFailed;
  }
  unique_window sheet(reinterpret_cast<HWND>(created));
  const HWND tabs = PropSheet_GetTabControl(sheet.get());
  sheet_context_t context;
  context.prefix = options.verb_name;
  context.runner = runner;
  ::SetWindowSubclass(sheet.get(), sheet_subclass, kSheetSubclass,
                      reinterpret_cast<DWORD_PTR>(&context));
  print_result(context.prefix +
               ": shown pages=" + std::to_string(tabs ? TabCtrl_GetItemCount(tabs) : 0) +
               " caption=" + utf8(window_text(sheet.get())));

  if (options.close_after_ms)
    ::SetTimer(sheet.get(), kCloseTimer, *options.close_after_ms, nullptr);
  if (runner != nullptr)
    ::PostMessageW(sheet.get(), kRunScript, 0, 0);
  bool script_closing = false;

  int exit_code = kExitOk;
  MSG message{};
  while (PropSheet_GetCurrentPageHwnd(sheet.get()) != nullptr) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got == -1)
      break;
    if (message.message == WM_TIMER && message.hwnd == sheet.get()) {
      if (message.wParam == kCloseTimer) {
        ::KillTimer(sheet.get(), kCloseTimer);
        if (options.screenshot) {
          try {
            const SIZE size = save_screenshot(sheet.get(), *options.screenshot);
            print_result(context.prefix + ": screenshot width=" + std::to_string(size.cx) +
                         " height=" + std::to_string(size.cy));
          } catch (const host_error& error) {
            print_message(error.message());
            exit_code = error.exit_code();
          }
        }
        press_cancel(sheet.get());
        continue;
      }
      if (message.wParam == kForceCloseTimer) {
        print_message("note: a page kept the sheet open; closing it anyway");
        break;
      }
    }
    if (!PropSheet_IsDialogMessage(sheet.get(), &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    // A script that ends without closing the sheet leaves it as Cancel would.
    if (context.script_done && !script_closing &&
        PropSheet_GetCurrentPageHwnd(sheet.get()) != nullptr) {
      script_closing = true;
      press_cancel(sheet.get());
    }
  }
  sheet.reset();
  print_result(context.prefix + ": closed");
  if (context.script_failed)
    return kExitStepFailed;
  return exit_code;
}

}  // namespace cvhost
