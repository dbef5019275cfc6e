#include "uMain.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstring>

#include <shellapi.h>

#include "AsciiCase.h"
#include "DistributionMode.h"
#include "FailureHints.h"
#include "FileNameRules.h"
#include "Frame.h"
#include "ImageFiles.h"
#include "PortList.h"
#include "ProgramPlaces.h"
#include "VersionText.h"
#include "uAbout.h"
#include "uDebug.h"
#include "windows/WideText.h"

namespace korbenit {
namespace {

const char* const SaveFilter = "Bitmap (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg";
constexpr COLORREF LampOpenColour = RGB(255, 0, 0);
constexpr COLORREF LampClosedColour = RGB(0, 0, 0);

// The controls' command identifiers are their places in the layout.
int IdOf(TMainControl control) {
  return 100 + control;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The Windows filter: each "|" a terminating zero, and one more at the end.
std::wstring SystemFilter(const std::string& filter) {
  std::wstring wide = Widen(filter);
  std::replace(wide.begin(), wide.end(), L'|', L'\0');
  return wide + L'\0' + L'\0';
}

// The type list's change renames the typed name's extension at once.
UINT_PTR CALLBACK SaveDialogHook(HWND dialog, UINT message, WPARAM, LPARAM l) {
  if (message != WM_NOTIFY) return 0;
  auto* notify = reinterpret_cast<OFNOTIFYW*>(l);
  if (notify->hdr.code != CDN_TYPECHANGE) return 0;
  HWND explorer = ::GetParent(dialog);
  wchar_t typed[MAX_PATH] = {};
  if (CommDlg_OpenSave_GetSpec(explorer, typed, MAX_PATH) <= 0) return 0;
  std::string name = Narrow(typed);
  if (name.empty()) return 0;
  std::string renamed = ReplaceExtension(
      name, FilterExtensionOf(SaveFilter, static_cast<int>(notify->lpOFN->nFilterIndex), ""));
  CommDlg_OpenSave_SetControlText(explorer, cmb13, Widen(renamed).c_str());
  CommDlg_OpenSave_SetControlText(explorer, edt1, Widen(renamed).c_str());
  return 0;
}

// The window's dots per inch: its monitor's where the system knows per-monitor values
// (Windows 10), else the screen's.
int WindowDpi(HWND window) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  auto getDpi = reinterpret_cast<TGetDpiForWindow>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  int dpi = getDpi ? static_cast<int>(getDpi(window)) : 0;
  if (dpi <= 0) {
    HDC screen = ::GetDC(nullptr);
    dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? dpi : DesignDpi;
}

}  // namespace

TMain::TMain(std::unique_ptr<TSerialPortInterface> port, std::string settingsFolder)
    : FPort(std::move(port)), FSettingsFolder(std::move(settingsFolder)) {
  FPort->OnAfterOpen = [this](TSerialPortInterface&) { SetLampOpen(true); };
  FPort->OnAfterClose = [this](TSerialPortInterface&) { SetLampOpen(false); };
  FormStorage1.AppStorage = &IniFile;
  FormStorage1.AppStoragePath = "Main\\";
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hIcon = ::LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(1));
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = ClassName;
  ::RegisterClassExW(&windowClass);
  FormCreate();
}

TMain::~TMain() {
  FEnding = true;
  FPort->OnAfterOpen = nullptr;
  FPort->OnAfterClose = nullptr;
  if (FWindow) ::DestroyWindow(FWindow);
  if (FFont) ::DeleteObject(FFont);
  if (FFooterBrush) ::DeleteObject(FFooterBrush);
}

void TMain::FormCreate() {
  AppVersion = 10;
  std::setlocale(LC_NUMERIC, "C");
  AppTitle = "Korbenit - Screenshot v" + FormatVersion(AppVersion);
  TProgramPlaces places = ThisProgramsPlaces();
  ExePath = places.ExePath;
  BmpPath = places.BmpPath;
  std::string settings = FSettingsFolder.empty() ? places.SettingsFolder : FSettingsFolder + "\\";
  ::CreateDirectoryW(Widen(settings).c_str(), nullptr);
  IniFile.SetFileName(settings + "Vantor_Screenshot.ini");
  FInitialDir = ExePath;
  // The window: a fixed single border, a system menu and a minimize box.
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  FWindow = ::CreateWindowExW(0, ClassName, Widen(AppTitle).c_str(), style, 745, 337, 100, 100,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  FDpi = WindowDpi(FWindow);
  RECT frame{0, 0, Scaled(MainClientWidth, FDpi), Scaled(MainClientHeight, FDpi)};
  ::AdjustWindowRectEx(&frame, style, FALSE, 0);
  ::SetWindowPos(FWindow, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  CreateControls();
}

HWND TMain::AddControl(TMainControl control, const wchar_t* windowClass, const wchar_t* caption,
                       DWORD style, int id) {
  RECT r = PlaceOf(control, FDpi);
  HWND handle = ::CreateWindowExW(0, windowClass, caption, WS_CHILD | WS_VISIBLE | style, r.left,
                                  r.top, r.right - r.left, r.bottom - r.top, FWindow,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
  FControls[control] = handle;
  return handle;
}

void TMain::CreateControls() {
  FFont = ::CreateFontW(-::MulDiv(8, FDpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                        DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  FFooterBrush = ::CreateSolidBrush(::GetSysColor(COLOR_ACTIVECAPTION));
  AddControl(ButGetScreen, L"BUTTON", L"GET SCREEN", BS_PUSHBUTTON | WS_TABSTOP,
             IdOf(ButGetScreen));
  AddControl(ButSaveAs, L"BUTTON", L"SAVE AS...", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED,
             IdOf(ButSaveAs));
  AddControl(Label1, L"STATIC", L"COM-Port:", SS_RIGHT, IdOf(Label1));
  // A drop-down list's height includes its open list.
  HWND ports = AddControl(cbPorts, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                          IdOf(cbPorts));
  RECT r = PlaceOf(cbPorts, FDpi);
  ::SetWindowPos(ports, nullptr, 0, 0, r.right - r.left, Scaled(200, FDpi),
                 SWP_NOMOVE | SWP_NOZORDER);
  AddControl(ButAbout, L"BUTTON", L"?", BS_PUSHBUTTON | WS_TABSTOP, IdOf(ButAbout));
  AddControl(ButExit, L"BUTTON", L"EXIT", BS_PUSHBUTTON | WS_TABSTOP, IdOf(ButExit));
  HWND status =
      AddControl(sBar, STATUSCLASSNAMEW, L"", CCS_NOPARENTALIGN | CCS_NORESIZE, IdOf(sBar));
  ::SendMessageW(status, SB_SIMPLE, TRUE, 0);
}

// The stored placement is restored as the window is first shown, before FormShow.
void TMain::Show(int showCommand) {
  ::ShowWindow(FWindow, showCommand);
  FormStorage1.WindowShown();
  ::UpdateWindow(FWindow);
  FormShow();
}

static std::string ExecutablePath() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return Narrow(path);
}

void TMain::FormShow() {
  if (Debug)
    RunDistributionMode(
        ProgramArguments(), AppVersion, ExecutablePath(), ".exe",
        {[] { return ::FindWindowW(L"TAPPBUILDER", nullptr) != nullptr; },
         [this] { Debug->Show(); }, [this](const std::string& line) { Debug->AddLine(line); }});
  ::CreateDirectoryW(Widen(BmpPath).c_str(), nullptr);  // failure is ignored
  ReadSettings();
  DisableSaveAs();
  RefreshPortList(FStoredPort);
}

void TMain::ReadSettings() {
  IniFile.SetDefaultSection("CONFIG");
  FStoredPort = IniFile.ReadStr("COMPORT", "");
  int format = IniFile.ReadInt("FILEFORMAT", 1);
  FFilterIndex = format == 1 || format == 2 ? format : 1;
  FInitialDir = IniFile.ReadStr("FILEDIR", ExePath);
}

void TMain::FormClose() {
  IniFile.SetDefaultSection("CONFIG");
  std::string port =
      ::SendMessageW(FControls[cbPorts], CB_GETCOUNT, 0, 0) > 0 ? SelectedPort() : FStoredPort;
  IniFile.WriteStr("COMPORT", port);
  IniFile.WriteInt("FILEFORMAT", FFilterIndex);
  if (!FFileName.empty())
    IniFile.WriteStr("FILEDIR", FFileName.substr(0, FFileName.find_last_of("\\/") + 1));
}

int TMain::Run() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (HandleKey(message)) continue;
    if (::IsDialogMessageW(FWindow, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return FExitCode;
}

// F5, Ctrl+S and Ctrl+C, each only when its button would work.
bool TMain::HandleKey(const MSG& message) {
  // With no control focused (the one that had it was disabled), keys come as system keys.
  if ((message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN) || !FWindow) return false;
  bool control = ::GetKeyState(VK_CONTROL) < 0;
  if (message.wParam == VK_F5 && ::IsWindowEnabled(FControls[ButGetScreen])) {
    ButGetScreenClick();
    return true;
  }
  if (control && message.wParam == 'S' && SaveAsEnabled()) {
    ButSaveAsClick();
    return true;
  }
  if (control && message.wParam == 'C') {
    CopyPicture();
    return true;
  }
  return false;
}

LRESULT CALLBACK TMain::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<TMain*>(create->lpCreateParams)->FWindow = window;
  }
  auto* self = reinterpret_cast<TMain*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, w, l);
  // An error that leaves a handler is shown in a message box; the window stays open.
  try {
    return self->HandleMessage(message, w, l);
  } catch (const std::exception& e) {
    std::string text = e.what();
    if (!text.empty() && text.back() > '.') text += '.';
    ::MessageBoxW(window, Widen(text).c_str(), Widen(self->AppTitle).c_str(), MB_OK | MB_ICONERROR);
    return 0;
  }
}

LRESULT TMain::HandleMessage(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case 100 + ButGetScreen:
          ButGetScreenClick();
          return 0;
        case 100 + ButSaveAs:
          ButSaveAsClick();
          return 0;
        case 100 + ButExit:
          ButExitClick();
          return 0;
        case 100 + ButAbout:
          ButAboutClick();
          return 0;
        case 100 + cbPorts:
          if (HIWORD(w) == CBN_DROPDOWN) cbPortsDropDown();
          if (HIWORD(w) == CBN_SELCHANGE) DescribeSelectedPort();
          return 0;
      }
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_CTLCOLORSTATIC:
      ::SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
      return reinterpret_cast<LRESULT>(FFooterBrush);
    case WM_CLOSE:
      FormStorage1.CloseAllowed();
      FormClose();
      FEnding = true;
      ::DestroyWindow(FWindow);
      return 0;
    case WM_DESTROY:
      // Both ways out come here: the close box, and "EXIT" once the loop has ended.
      FormStorage1.WindowDestroyed();
      FWindow = nullptr;
      ::PostQuitMessage(FExitCode);
      return 0;
  }
  return ::DefWindowProcW(FWindow, message, w, l);
}

// The form's colour, the footer's, the picture in its lowered frame and the lamp.
void TMain::Paint() {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(FWindow, &paint);
  RECT client;
  ::GetClientRect(FWindow, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_INACTIVECAPTION));
  RECT footer = PlaceOf(Footer1, FDpi);
  ::FillRect(dc, &footer, FFooterBrush);
  ::DrawEdge(dc, &footer, BDR_RAISEDINNER, BF_RECT);
  RECT panel = PlaceOf(Panel1, FDpi);
  ::DrawEdge(dc, &panel, EDGE_SUNKEN, BF_RECT);
  RECT screen = PlaceOf(Screen, FDpi);
  int zoom = PictureZoom(FDpi);
  BITMAPINFO info{};
  info.bmiHeader = {
      sizeof(BITMAPINFOHEADER), ScreenWidth, -ScreenHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  ::StretchDIBits(dc, screen.left, screen.top, ScreenWidth * zoom, ScreenHeight * zoom, 0, 0,
                  ScreenWidth, ScreenHeight, FPixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  RECT lamp = PlaceOf(LedPanel, FDpi);
  HBRUSH lampBrush = ::CreateSolidBrush(FLampOpen ? LampOpenColour : LampClosedColour);
  ::FillRect(dc, &lamp, lampBrush);
  ::DeleteObject(lampBrush);
  ::DrawEdge(dc, &lamp, EDGE_SUNKEN, BF_RECT);
  ::EndPaint(FWindow, &paint);
}

void TMain::DisableSaveAs() {
  ::EnableWindow(FControls[ButSaveAs], FALSE);
  ProcessMessages();
}

bool TMain::SaveAsEnabled() const {
  return ::IsWindowEnabled(FControls[ButSaveAs]);
}

void TMain::ButGetScreenClick() {
  // A nested transfer on the same open port would corrupt both.
  if (FTransferRunning) return;
  FTransferRunning = true;
  ::EnableWindow(FControls[ButGetScreen], FALSE);
  TScreenTransfer(*FPort, *this).Run();
  if (FWindow) {
    ::EnableWindow(FControls[ButGetScreen], TRUE);
    // The button lost the focus when it was disabled; the keys need a focused control.
    if (!::GetFocus()) ::SetFocus(FControls[ButGetScreen]);
  }
  FTransferRunning = false;
}

// Ends the message loop without closing the window, so FormClose does not run.
void TMain::ButExitClick() {
  FEnding = true;
  ::PostQuitMessage(0);
}

void TMain::ButAboutClick() {
  if (About) About->ShowModal(AppTitle);
}

void TMain::cbPortsDropDown() {
  RefreshPortList(SelectedPort());
}

void TMain::RefreshPortList(const std::string& name) {
  HWND list = FControls[cbPorts];
  TStringList ports = ListPortsInNaturalOrder();
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  int found = 0;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(ports[i]).c_str()));
    if (found == 0 && SameTextIgnoringCase(ports[i], name)) found = static_cast<int>(i);
  }
  ::SendMessageW(list, CB_SETCURSEL,
                 ports.empty() ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(found), 0);
  DescribeSelectedPort();
}

// What the machine knows of the chosen port, in its tooltip.
void TMain::DescribeSelectedPort() {
  std::string port = SelectedPort();
  std::string what = port.empty() ? "" : DescribePort(port);
  SetTip(FControls[cbPorts], what.empty() ? port : port + ": " + what);
}

std::string TMain::SelectedPort() const {
  return Narrow(WindowText(FControls[cbPorts]));
}

void TMain::ButSaveAsClick() {
  SetStatusText({});
  FFileName =
      DefaultPictureName(std::time(nullptr)) + FilterExtensionOf(SaveFilter, FFilterIndex, "");
  std::string chosen = FFileName;
  if (!PromptForName(chosen)) return;
  FFileName = chosen;
  try {
    SavePicture(chosen);
  } catch (const std::exception& e) {
    ShowFailure(TFailure::Of(e));
  }
}

bool TMain::PromptForName(std::string& name) {
  std::wstring filter = SystemFilter(SaveFilter);
  std::wstring title = L"Save as...";
  std::wstring folder = Widen(FInitialDir);
  wchar_t file[32768] = {};
  std::wstring wide = Widen(name);
  std::copy_n(wide.c_str(), std::min<std::size_t>(wide.size(), 32767), file);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = FWindow;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = static_cast<DWORD>(FFilterIndex);
  dialog.lpstrFile = file;
  dialog.nMaxFile = 32768;
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_HIDEREADONLY | OFN_ENABLESIZING |
                 OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
  dialog.lpfnHook = SaveDialogHook;
  bool chosen = ::GetSaveFileNameW(&dialog);
  FFilterIndex = static_cast<int>(dialog.nFilterIndex);
  if (!chosen) return false;
  name = Narrow(file);
  FInitialDir = name.substr(0, name.find_last_of("\\/") + 1);
  return true;
}

// The writer follows the chosen file type, never the name's extension.
void TMain::SavePicture(const std::string& path) {
  if (FFilterIndex == 1) SaveBitmapFile(Picture(), path);
  if (FFilterIndex == 2) SaveJpegFile(Picture(), path);
  if (FFilterIndex != 1 && FFilterIndex != 2) return;
  SetStatusText("Saved as: " + path.substr(path.find_last_of("\\/") + 1));
}

TPicture TMain::Picture() const {
  TPicture picture = TPicture::Blank(ScreenWidth, ScreenHeight, 32);
  for (int y = 0; y < ScreenHeight; ++y)
    std::memcpy(picture.MutableRow(y), FPixels.data() + y * ScreenWidth, ScreenWidth * 4);
  return picture;
}

// The picture on the clipboard as a device-independent bitmap, once it is complete.
void TMain::CopyPicture() {
  if (!SaveAsEnabled() || !::OpenClipboard(FWindow)) return;
  ::EmptyClipboard();
  std::size_t bytes = sizeof(BITMAPINFOHEADER) + FPixels.size() * 4;
  if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    auto* header = static_cast<BITMAPINFOHEADER*>(::GlobalLock(memory));
    *header = {sizeof(BITMAPINFOHEADER), ScreenWidth, ScreenHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    auto* rows = reinterpret_cast<uint32_t*>(header + 1);
    for (int y = 0; y < ScreenHeight; ++y)  // bottom-up, as every reader takes it
      std::memcpy(rows + (ScreenHeight - 1 - y) * ScreenWidth, FPixels.data() + y * ScreenWidth,
                  ScreenWidth * 4);
    ::GlobalUnlock(memory);
    if (!::SetClipboardData(CF_DIB, memory)) ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

void TMain::ClearPicture() {
  FPixels.fill(0xFF000000u);
  if (!FWindow) return;
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

// A transfer that outlives the window (closed meanwhile) paints nowhere.
void TMain::PaintLine(int line, const TLineColours& colours) {
  if (!FWindow || line < 0 || line >= ScreenHeight) return;
  uint32_t* row = FPixels.data() + line * ScreenWidth;
  for (int x = 0; x < ScreenWidth; ++x) {
    TColor c = colours[static_cast<std::size_t>(x)];
    row[x] = 0xFF000000u | (uint32_t{RedOf(c)} << 16) | (uint32_t{GreenOf(c)} << 8) | BlueOf(c);
  }
  RECT screen = PlaceOf(Screen, FDpi);
  int zoom = PictureZoom(FDpi);
  RECT changed{screen.left, screen.top + line * zoom, screen.left + ScreenWidth * zoom,
               screen.top + (line + 1) * zoom};
  ::InvalidateRect(FWindow, &changed, FALSE);
}

void TMain::SetSaveAsEnabled(bool enabled) {
  ::EnableWindow(FControls[ButSaveAs], enabled);
}

void TMain::SetStatusText(const std::string& text) {
  ShowStatus(text, TFailureKind::Other);
}

void TMain::ShowStatus(const std::string& text, TFailureKind kind) {
  FStatusText = text;
  ::SendMessageW(FControls[sBar], SB_SETTEXTW, SB_SIMPLEID,
                 reinterpret_cast<LPARAM>(Widen(text).c_str()));
  std::string hint = FailureHint(kind, PortGroup(SelectedPort()));
  FStatusTip = hint.empty() ? text : text + "\r\n" + hint;
  SetTip(FControls[sBar], FStatusTip);
}

// A control's tooltip, made on first use.
void TMain::SetTip(HWND control, const std::string& text) {
  std::wstring wide = Widen(text);
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = FWindow;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = wide.data();
  TOOLINFOW found = tool;
  found.lpszText = nullptr;
  if (::SendMessageW(FTips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&found)))
    ::SendMessageW(FTips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  else
    ::SendMessageW(FTips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

// The stop sound, the message, and in its tooltip a hint for the failures people meet most.
void TMain::ShowFailure(const TFailure& failure) {
  Beep();
  ShowStatus(failure.Message, failure.Kind);
}

void TMain::SetLampOpen(bool open) {
  FLampOpen = open;
  if (!FWindow) return;
  RECT lamp = PlaceOf(LedPanel, FDpi);
  ::InvalidateRect(FWindow, &lamp, FALSE);
  ::UpdateWindow(FWindow);
}

// Lets pending window messages run, as a transfer does between its lines.
void TMain::ProcessMessages() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      FEnding = true;
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

void TMain::Beep() {
  ::MessageBeep(MB_ICONHAND);
}

void TMain::Pause(int milliseconds) {
  ::Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace korbenit
