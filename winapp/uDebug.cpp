#include "uDebug.h"

#include <commctrl.h>

#include "windows/WideText.h"

namespace korbenit {

TDebug::TDebug() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = L"TDebug";
  ::RegisterClassExW(&windowClass);
  FWindow = ::CreateWindowExW(0, L"TDebug", L"Debug", WS_OVERLAPPEDWINDOW, 1165, 59, 594, 554,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  RECT client;
  ::GetClientRect(FWindow, &client);
  FMemo = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, L"EDIT", L"",
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0,
      client.right, client.bottom, FWindow, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  FFont = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        FIXED_PITCH | FF_MODERN, L"Courier New");
  ::SendMessageW(FMemo, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
  ::SetWindowSubclass(FMemo, MemoProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

TDebug::~TDebug() {
  if (FMemo) ::RemoveWindowSubclass(FMemo, MemoProc, 1);
  if (FWindow) ::DestroyWindow(FWindow);
  if (FFont) ::DeleteObject(FFont);
}

void TDebug::Show() {
  ::ShowWindow(FWindow, SW_SHOWNOACTIVATE);
}

void TDebug::AddLine(const std::string& text) {
  std::string lines = Text();
  lines += (lines.empty() ? "" : "\r\n") + text;
  ::SetWindowTextW(FMemo, Widen(lines).c_str());
}

void TDebug::MemoDblClick() {
  ::SetWindowTextW(FMemo, L"");
}

std::string TDebug::Text() const {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(FMemo)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(FMemo, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

// The memo fills the window; its close box only hides it.
LRESULT CALLBACK TDebug::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE)
    ::SetWindowLongPtrW(
        window, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
  auto* self = reinterpret_cast<TDebug*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && message == WM_SIZE && self->FMemo)
    ::MoveWindow(self->FMemo, 0, 0, LOWORD(l), HIWORD(l), TRUE);
  if (message == WM_CLOSE) {
    ::ShowWindow(window, SW_HIDE);
    return 0;
  }
  return ::DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK TDebug::MemoProc(HWND memo, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                  DWORD_PTR self) {
  if (message == WM_LBUTTONDBLCLK) {
    reinterpret_cast<TDebug*>(self)->MemoDblClick();
    return 0;
  }
  return ::DefSubclassProc(memo, message, w, l);
}

}  // namespace korbenit
