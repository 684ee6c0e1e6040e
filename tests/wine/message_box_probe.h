// Finds a message box captioned "Quillane", reads what it shows and presses OK,
// as a user would. Used by the box_clicker program (boxes of another process)
// and by the Windows unit tests (boxes of their own process, from a second
// thread). Texts are read through the wide interfaces and given in UTF-8.
// Windows only.
#ifndef QUILLANE_TESTS_WINE_MESSAGE_BOX_PROBE_H_
#define QUILLANE_TESTS_WINE_MESSAGE_BOX_PROBE_H_

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/win32_util.h"

namespace quillane::test {

struct ShownBox {
  std::string text;     // the message as shown, in UTF-8
  std::string buttons;  // button texts, comma-separated ("OK")
  // "error", "warning", "information", "question" for a system icon; "none"
  // without one; "shown" for an icon that cannot be identified from this
  // process (wine keeps icons private to the process that loaded them).
  std::string icon;
  bool owned = false;  // the box has an owner window
};

namespace box_probe_internal {

constexpr DWORD kPollMilliseconds = 20;

struct Controls {
  std::string text;
  std::string buttons;
  HWND icon = nullptr;
  HWND ok = nullptr;
};

inline std::string WindowText(HWND window) {
  wchar_t buffer[4096];
  const int length = GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
  return platform::win32::ToUtf8(
      std::wstring_view(buffer, static_cast<std::size_t>(std::max(length, 0))));
}

inline BOOL CALLBACK CollectChild(HWND child, LPARAM context) {
  auto& controls = *reinterpret_cast<Controls*>(context);
  wchar_t className[64] = {};
  GetClassNameW(child, className, static_cast<int>(std::size(className)));
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
  if (lstrcmpiW(className, L"Static") == 0) {
    if ((style & SS_TYPEMASK) == SS_ICON) {
      if (IsWindowVisible(child)) controls.icon = child;
    } else if (std::string text = WindowText(child); !text.empty()) {
      controls.text = std::move(text);
    }
  } else if (lstrcmpiW(className, L"Button") == 0 && IsWindowVisible(child)) {
    if (!controls.buttons.empty()) controls.buttons += ',';
    controls.buttons += WindowText(child);
    if (GetDlgCtrlID(child) == IDOK) controls.ok = child;
  }
  return TRUE;
}

// System icons are user32 resources; their resource ids tell them apart.
inline std::string IconName(HWND iconControl) {
  if (iconControl == nullptr) return "none";
  const auto icon = reinterpret_cast<HICON>(SendMessageW(iconControl, STM_GETICON, 0, 0));
  if (icon == nullptr) return "none";
  ICONINFOEXW info{};
  info.cbSize = sizeof info;
  if (!GetIconInfoExW(icon, &info)) return "shown";
  if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  // The ids behind IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION and IDI_ASTERISK.
  switch (info.wResID) {
    case 32513:
      return "error";
    case 32515:
      return "warning";
    case 32516:
      return "information";
    case 32514:
      return "question";
    default:
      return "shown";
  }
}

}  // namespace box_probe_internal

// A box found on the screen: what it shows, and where to press OK.
struct FoundBox {
  ShownBox shown;
  HWND window = nullptr;
  HWND okButton = nullptr;
};

// Waits until `deadline` (GetTickCount64) for a top-level window captioned
// "Quillane" whose OK button is in place. Empty when none came in time.
inline std::optional<FoundBox> WaitForQuillaneBox(ULONGLONG deadline) {
  using namespace box_probe_internal;
  for (;;) {
    const HWND box = FindWindowW(nullptr, L"Quillane");
    Controls controls;
    // A dialog becomes visible once it has set up its controls; the caption
    // may be there before.
    if (box != nullptr && IsWindowVisible(box)) {
      EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&controls));
    }
    if (controls.ok != nullptr) {
      return FoundBox{{controls.text, controls.buttons, IconName(controls.icon),
                       GetWindow(box, GW_OWNER) != nullptr},
                      box,
                      controls.ok};
    }
    if (GetTickCount64() >= deadline) return std::nullopt;
    Sleep(kPollMilliseconds);
  }
}

// Presses OK on `box` and waits (until `deadline`) for it to close, so that a
// next box with the same caption is not mistaken for this one.
inline void PressOk(const FoundBox& box, ULONGLONG deadline) {
  PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(box.okButton));
  while (IsWindow(box.window) && GetTickCount64() < deadline) {
    Sleep(box_probe_internal::kPollMilliseconds);
  }
}

// WaitForQuillaneBox and PressOk in one: what the box showed, or empty.
inline std::optional<ShownBox> AnswerQuillaneBox(ULONGLONG deadline) {
  const auto box = WaitForQuillaneBox(deadline);
  if (!box) return std::nullopt;
  PressOk(*box, deadline);
  return box->shown;
}

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_WINE_MESSAGE_BOX_PROBE_H_
