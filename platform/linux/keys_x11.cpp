// Keys on the X display named by DISPLAY, through the XTest extension: X11
// sessions, and XWayland, where games run through Steam and Proton. Each key
// goes through its keysym to a keycode of the display's current keymap.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.hpp"

namespace platform {
namespace {

KeySym keysymOf(Key key) {
  if (key >= Key::A && key <= Key::Z) return XK_a + static_cast<KeySym>(keyOffset(key, Key::A));
  if (key >= Key::Digit0 && key <= Key::Digit9) return XK_0 + static_cast<KeySym>(keyOffset(key, Key::Digit0));
  if (key >= Key::Numpad0 && key <= Key::Numpad9) return XK_KP_0 + static_cast<KeySym>(keyOffset(key, Key::Numpad0));
  if (key >= Key::F1 && key <= Key::F24) return XK_F1 + static_cast<KeySym>(keyOffset(key, Key::F1));
  switch (key) {
    case Key::Space:
      return XK_space;
    case Key::Enter:
      return XK_Return;
    case Key::Tab:
      return XK_Tab;
    case Key::Escape:
      return XK_Escape;
    case Key::Backspace:
      return XK_BackSpace;
    case Key::Delete:
      return XK_Delete;
    case Key::Insert:
      return XK_Insert;
    case Key::Home:
      return XK_Home;
    case Key::End:
      return XK_End;
    case Key::PageUp:
      return XK_Prior;
    case Key::PageDown:
      return XK_Next;
    case Key::Up:
      return XK_Up;
    case Key::Down:
      return XK_Down;
    case Key::Left:
      return XK_Left;
    case Key::Right:
      return XK_Right;
    case Key::Ctrl:
      return XK_Control_L;
    case Key::Shift:
      return XK_Shift_L;
    case Key::Alt:
      return XK_Alt_L;
    case Key::Win:
      return XK_Super_L;
    default:
      return NoSymbol;
  }
}

// Set when the display's connection is lost; Xlib would otherwise end the
// program, and the gifts would go unserved.
std::atomic<bool> connectionLost{false};

int onIoError(Display*) { return 0; }
void onConnectionLost(Display*, void*) { connectionLost = true; }

class Keyboard {
 public:
  std::optional<std::string> open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return openLocked();
  }

  KeyResult press(std::span<const Key> chord, std::chrono::milliseconds hold) {
    std::vector<KeyCode> codes;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (const auto why = openLocked()) return {KeyResult::Outcome::Failed, *why};
      for (const Key key : chord) {
        codes.push_back(keycodeOf(keysymOf(key)));
        if (codes.back() == 0) return {KeyResult::Outcome::NoSuchKey, {}};
      }
      for (const KeyCode code : codes) send(code, true);
    }
    std::this_thread::sleep_for(hold);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) send(*code, false);
    if (connectionLost) return {KeyResult::Outcome::Failed, lostReason()};
    return {KeyResult::Outcome::Pressed, {}};
  }

 private:
  std::optional<std::string> openLocked() {
    if (connectionLost) return lostReason();
    if (display_ != nullptr) return std::nullopt;
    if (tried_) return unavailable_;
    tried_ = true;
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
      unavailable_ = "aucun affichage X (la variable DISPLAY est vide) ; il faut une session X11 ou XWayland";
      return unavailable_;
    }
    XSetIOErrorHandler(onIoError);
    display_ = XOpenDisplay(name);
    if (display_ == nullptr) {
      unavailable_ = std::string("impossible de joindre l'affichage X ") + name;
      return unavailable_;
    }
    int event, error, major, minor;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
      XCloseDisplay(display_);
      display_ = nullptr;
      unavailable_ =
          std::string("l'affichage X ") + name + " n'accepte pas les touches simulees (extension XTest absente)";
      return unavailable_;
    }
    XSetIOErrorExitHandler(display_, onConnectionLost, nullptr);
    return std::nullopt;
  }

  std::string lostReason() const { return "la connexion a l'affichage X est perdue"; }

  // The key of the current keymap that gives the keysym. A keysym that no key
  // gives (F13 to F24 on most keyboards) is given a keycode the keymap leaves
  // empty, for as long as the program runs.
  KeyCode keycodeOf(KeySym keysym) {
    if (keysym == NoSymbol) return 0;
    if (const KeyCode code = XKeysymToKeycode(display_, keysym); code != 0) return code;
    if (const auto given = spare_.find(keysym); given != spare_.end()) return given->second;
    int first = 0, last = 0;
    XDisplayKeycodes(display_, &first, &last);
    int perKeycode = 0;
    KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(first), last - first + 1, &perKeycode);
    if (map == nullptr) return 0;
    KeyCode spare = 0;
    for (int code = last; code >= first && spare == 0; --code) {
      bool empty = true;
      for (int i = 0; i < perKeycode; ++i) empty = empty && map[(code - first) * perKeycode + i] == NoSymbol;
      bool taken = false;
      for (const auto& [sym, used] : spare_) taken = taken || used == code;
      if (empty && !taken) spare = static_cast<KeyCode>(code);
    }
    XFree(map);
    if (spare == 0) return 0;
    std::vector<KeySym> syms(static_cast<std::size_t>(perKeycode), keysym);
    XChangeKeyboardMapping(display_, spare, perKeycode, syms.data(), 1);
    XSync(display_, False);
    spare_[keysym] = spare;
    return spare;
  }

  void send(KeyCode code, bool down) {
    if (connectionLost) return;
    XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
    XSync(display_, False);
  }

  std::mutex mutex_;
  Display* display_ = nullptr;
  bool tried_ = false;
  std::string unavailable_;
  std::map<KeySym, KeyCode> spare_;
};

// Never destroyed: a gift may be pressing a key while the program ends.
Keyboard& keyboard() {
  static Keyboard* k = new Keyboard;
  return *k;
}

}  // namespace

std::optional<std::string> openKeyboard() { return keyboard().open(); }

KeyResult pressKeys(std::span<const Key> chord, std::chrono::milliseconds hold) {
  return keyboard().press(chord, hold);
}

}  // namespace platform
