#include "uAbout.h"

#include <shellapi.h>

#include "SafeFile.h"
#include "windows/WideText.h"

namespace korbenit {
namespace {

constexpr int FooterTop = 120;
constexpr COLORREF PanelColour = RGB(255, 233, 166);
constexpr COLORREF LinkColour = RGB(0, 0, 128);
constexpr int CloseId = 1;
const wchar_t* const LinkCaption = L"README.md";

HFONT Font(const wchar_t* face, int height, int weight, bool underline) {
  return ::CreateFontW(height, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face);
}

void DrawCentred(HDC dc, const wchar_t* text, RECT place, HFONT font) {
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT measured = place;
  ::DrawTextW(dc, text, -1, &measured, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
  int height = measured.bottom - measured.top;
  place.top += (place.bottom - place.top - height) / 2;
  ::DrawTextW(dc, text, -1, &place, DT_CENTER | DT_WORDBREAK);
  ::SelectObject(dc, old);
}

}  // namespace

TAbout::TAbout(HWND mainWindow) : FMainWindow(mainWindow) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"TAbout";
  ::RegisterClassExW(&windowClass);
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, ClientWidth, ClientHeight};
  ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_TOOLWINDOW);
  FWindow = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"TAbout", L"About", style, 0, 0,
                              frame.right - frame.left, frame.bottom - frame.top, mainWindow,
                              nullptr, ::GetModuleHandleW(nullptr), this);
  FFont = Font(L"MS Sans Serif", -11, FW_NORMAL, false);
  FTitleFont = Font(L"Tahoma", -19, FW_BOLD, false);
  FLinkFont = Font(L"MS Sans Serif", -11, FW_NORMAL, true);
  FLogo = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(2),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  FClose = ::CreateWindowExW(0, L"BUTTON", L"CLOSE", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 197,
                             FooterTop + 7, 74, 23, FWindow,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(CloseId)),
                             ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(FClose, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
}

TAbout::~TAbout() {
  if (FWindow) ::DestroyWindow(FWindow);
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(FFont), static_cast<HGDIOBJ>(FTitleFont),
                         static_cast<HGDIOBJ>(FLinkFont), static_cast<HGDIOBJ>(FLogo)})
    if (object) ::DeleteObject(object);
}

void TAbout::FormShow() {
  // Centred on the main window, wherever that stands.
  RECT main, own;
  ::GetWindowRect(FMainWindow, &main);
  ::GetWindowRect(FWindow, &own);
  int width = own.right - own.left, height = own.bottom - own.top;
  ::SetWindowPos(FWindow, nullptr, main.left + (main.right - main.left - width) / 2,
                 main.top + (main.bottom - main.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The window's own loop, the main window disabled meanwhile.
int TAbout::ShowModal(const std::string& appTitle) {
  FTitle = Widen(appTitle);
  FResult = 0;
  FormShow();
  ::EnableWindow(FMainWindow, FALSE);
  ::ShowWindow(FWindow, SW_SHOW);
  FShowing = true;
  MSG message{};
  while (FShowing && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(FWindow, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (message.message == WM_QUIT) ::PostQuitMessage(static_cast<int>(message.wParam));
  ::EnableWindow(FMainWindow, TRUE);
  ::ShowWindow(FWindow, SW_HIDE);
  ::SetActiveWindow(FMainWindow);
  return FResult;
}

void TAbout::Close(int result) {
  FResult = result;
  FShowing = false;
}

RECT TAbout::LinkPlace() const {
  HDC dc = ::GetDC(FWindow);
  HGDIOBJ old = ::SelectObject(dc, FLinkFont);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, LinkCaption, static_cast<int>(wcslen(LinkCaption)), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(FWindow, dc);
  return {8, FooterTop + 12, 8 + size.cx, FooterTop + 12 + size.cy};
}

std::string TAbout::GuidePath() {
  wchar_t folder[MAX_PATH];
  DWORD size = ::GetTempPathW(MAX_PATH, folder);
  return Narrow(std::wstring(folder, size)) + "korbenit-screenshot-guide\\README.md";
}

// The guide built into the program goes out whole, then the system opens it.
void TAbout::OpenLink() {
  HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(3), reinterpret_cast<LPCWSTR>(RT_RCDATA));
  HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
  if (!loaded) return;
  std::string path = GuidePath();
  ::CreateDirectoryW(Widen(path.substr(0, path.rfind('\\'))).c_str(), nullptr);
  try {
    TReplacingFile guide(path);
    guide.Write(::LockResource(loaded), ::SizeofResource(nullptr, found));
    guide.Commit();
  } catch (const std::exception&) {
    return;  // the link reports no failure
  }
  ::ShellExecuteW(FWindow, L"open", Widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CALLBACK TAbout::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE)
    ::SetWindowLongPtrW(
        window, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
  auto* self = reinterpret_cast<TAbout*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || !self->FWindow) return ::DefWindowProcW(window, message, w, l);
  return self->HandleMessage(message, w, l);
}

LRESULT TAbout::HandleMessage(UINT message, WPARAM w, LPARAM l) {
  POINT at{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
  RECT link = LinkPlace();
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(w) == CloseId || LOWORD(w) == IDCANCEL) Close(1);
      return 0;
    case WM_CLOSE:
      Close(2);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_SETCURSOR: {
      POINT cursor;
      ::GetCursorPos(&cursor);
      ::ScreenToClient(FWindow, &cursor);
      if (!::PtInRect(&link, cursor)) break;
      ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    }
    case WM_MOUSEMOVE:
      if (bool over = ::PtInRect(&link, at); over != FOverLink) {
        FOverLink = over;
        ::InvalidateRect(FWindow, &link, FALSE);
      }
      return 0;
    case WM_LBUTTONUP:
      if (::PtInRect(&link, at)) OpenLink();
      return 0;
  }
  return ::DefWindowProcW(FWindow, message, w, l);
}

void TAbout::Paint() {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(FWindow, &paint);
  RECT panel{0, 0, ClientWidth, FooterTop};
  HBRUSH panelBrush = ::CreateSolidBrush(PanelColour);
  ::FillRect(dc, &panel, panelBrush);
  ::DeleteObject(panelBrush);
  ::DrawEdge(dc, &panel, BDR_RAISEDINNER | BDR_SUNKENOUTER, BF_RECT);
  if (FLogo) {
    HDC source = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(source, FLogo);
    BITMAP logo{};
    ::GetObjectW(FLogo, sizeof logo, &logo);
    // Drawn transparent: the colour of its lower left corner is the background.
    COLORREF background = ::GetPixel(source, 0, logo.bmHeight - 1);
    ::TransparentBlt(dc, 16, 16, 65, 57, source, 0, 0, logo.bmWidth, logo.bmHeight, background);
    ::SelectObject(source, old);
    ::DeleteDC(source);
  }
  ::SetBkMode(dc, TRANSPARENT);
  DrawCentred(dc, FTitle.c_str(), {96, 8, 96 + 169, 8 + 57}, FTitleFont);
  DrawCentred(dc, L"USB must be activated in Korbenit setup-menu", {11, 80, 268, 93}, FFont);
  DrawCentred(dc, L"Bitte USB im Korbenit Einstellungsmen\u00fc aktivieren", {11, 96, 268, 109},
              FFont);
  RECT footer{0, FooterTop, ClientWidth, ClientHeight};
  ::FillRect(dc, &footer, ::GetSysColorBrush(COLOR_ACTIVECAPTION));
  RECT link = LinkPlace();
  HGDIOBJ old = ::SelectObject(dc, FLinkFont);
  ::SetTextColor(dc, FOverLink ? ::GetSysColor(COLOR_WINDOWTEXT) : LinkColour);
  ::DrawTextW(dc, LinkCaption, -1, &link, DT_LEFT | DT_SINGLELINE);
  ::SelectObject(dc, old);
  ::EndPaint(FWindow, &paint);
}

}  // namespace korbenit
