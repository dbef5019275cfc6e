#pragma once

// The hidden log window, shown only by the developer distribution mode.
#include <windows.h>

#include <string>

namespace korbenit {

class TDebug {
 public:
  TDebug();
  ~TDebug();
  TDebug(const TDebug&) = delete;
  TDebug& operator=(const TDebug&) = delete;

  void Show();
  void AddLine(const std::string& text);
  void MemoDblClick();
  std::string Text() const;
  HWND Handle() const { return FWindow; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK MemoProc(HWND memo, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                   DWORD_PTR self);
  HWND FWindow = nullptr;
  HWND FMemo = nullptr;
  HFONT FFont = nullptr;
};

}  // namespace korbenit
