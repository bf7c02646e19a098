// Keys on the X display named by DISPLAY, through the XTest extension: X11
// sessions, and XWayland, where games run through Steam and Proton. Each key
// goes through its keysym to a keycode of the display's keymap as it is at
// that moment (the streamer may switch layouts while the program runs).
//
// Spoken through XCB rather than Xlib: when the display goes away, Xlib ends
// the program (or, told not to, goes on with a broken state), where XCB only
// marks the connection as failed. The program then says why each key gift
// cannot be pressed, and connects again once the display is back.

#include <X11/keysym.h>
#include <pthread.h>
#include <signal.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.hpp"

namespace platform {
namespace {

xcb_keysym_t keysymOf(Key key) {
  if (key >= Key::A && key <= Key::Z) return XK_a + static_cast<xcb_keysym_t>(keyOffset(key, Key::A));
  if (key >= Key::Digit0 && key <= Key::Digit9) return XK_0 + static_cast<xcb_keysym_t>(keyOffset(key, Key::Digit0));
  if (key >= Key::Numpad0 && key <= Key::Numpad9) {
    return XK_KP_0 + static_cast<xcb_keysym_t>(keyOffset(key, Key::Numpad0));
  }
  if (key >= Key::F1 && key <= Key::F24) return XK_F1 + static_cast<xcb_keysym_t>(keyOffset(key, Key::F1));
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
      return XK_VoidSymbol;
  }
}

class Keyboard {
 public:
  Result<> open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connect();
  }

  Result<KeyPress> press(std::span<const Key> chord, std::chrono::milliseconds hold) {
    std::vector<xcb_keycode_t> codes;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (auto connected = connect(); !connected) return connected.failure();
      for (const Key key : chord) {
        codes.push_back(keycodeOf(keysymOf(key)));
        if (xcb_connection_has_error(connection_)) return lost();
        if (codes.back() == 0) return KeyPress::NoSuchKey;
      }
      if (ending_) return Failure{"le programme se ferme"};
      for (const xcb_keycode_t code : codes) {
        fake(XCB_KEY_PRESS, code);
        held_.push_back(code);
      }
      xcb_flush(connection_);
    }
    std::this_thread::sleep_for(hold);
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection_ == nullptr) return lost();
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
      const auto at = std::find(held_.begin(), held_.end(), *code);
      // Gone when the program's end has released it already.
      if (at == held_.end()) continue;
      held_.erase(at);
      fake(XCB_KEY_RELEASE, *code);
    }
    sync();
    if (xcb_connection_has_error(connection_)) return lost();
    return KeyPress::Pressed;
  }

  // Releases every key held down, and presses none from now on.
  void releaseAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    if (connection_ == nullptr) return;
    for (auto code = held_.rbegin(); code != held_.rend(); ++code) fake(XCB_KEY_RELEASE, *code);
    held_.clear();
    sync();
  }

 private:
  // Connects to a display that takes simulated keys, once.
  Result<> connect() {
    if (connection_ != nullptr) return {};
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
      return Failure{"aucun affichage X (la variable DISPLAY est vide) ; il faut une session X11 ou XWayland"};
    }
    name_ = name;
    // XCB writes to its socket without MSG_NOSIGNAL: a display that went
    // away would end the program with SIGPIPE at the next key.
    std::signal(SIGPIPE, SIG_IGN);
    xcb_connection_t* connection = xcb_connect(name, nullptr);
    if (xcb_connection_has_error(connection)) {
      xcb_disconnect(connection);
      return Failure{"impossible de joindre l'affichage X " + name_};
    }
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(connection, &xcb_test_id);
    if (xtest == nullptr || !xtest->present) {
      xcb_disconnect(connection);
      return Failure{"l'affichage X " + name_ + " n'accepte pas les touches simulees (extension XTest absente)"};
    }
    connection_ = connection;
    spare_.clear();
    return {};
  }

  // Forgets a connection that failed: the next key connects again.
  Failure lost() {
    if (connection_ != nullptr) xcb_disconnect(connection_);
    connection_ = nullptr;
    held_.clear();
    return Failure{"la connexion a l'affichage X " + name_ + " est perdue"};
  }

  // Returns once the display has taken every event sent before.
  void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

  void fake(std::uint8_t type, xcb_keycode_t code) {
    xcb_test_fake_input(connection_, type, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  }

  // The key of the current keymap that gives the keysym. A keysym that no key
  // gives (F13 to F24 on most keyboards) is given a keycode the keymap leaves
  // empty, for as long as the program runs.
  xcb_keycode_t keycodeOf(xcb_keysym_t keysym) {
    if (keysym == XK_VoidSymbol) return 0;
    const std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
        xcb_key_symbols_alloc(connection_), &xcb_key_symbols_free);
    const std::unique_ptr<xcb_keycode_t, decltype(&std::free)> found(xcb_key_symbols_get_keycode(symbols.get(), keysym),
                                                                     &std::free);
    const xcb_keycode_t code = found != nullptr ? found.get()[0] : 0;
    if (code != 0) return code;
    if (const auto given = spare_.find(keysym); given != spare_.end()) return given->second;
    return giveSpareKeycode(keysym);
  }

  xcb_keycode_t giveSpareKeycode(xcb_keysym_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int first = setup->min_keycode, last = setup->max_keycode;
    xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
        connection_,
        xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<std::uint8_t>(last - first + 1)),
        nullptr);
    if (map == nullptr) return 0;
    const int perKeycode = map->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    xcb_keycode_t spare = 0;
    for (int code = last; code >= first && spare == 0; --code) {
      bool empty = true;
      for (int i = 0; i < perKeycode; ++i) empty = empty && syms[(code - first) * perKeycode + i] == XCB_NO_SYMBOL;
      bool taken = false;
      for (const auto& [sym, used] : spare_) taken = taken || used == code;
      if (empty && !taken) spare = static_cast<xcb_keycode_t>(code);
    }
    std::free(map);
    if (spare == 0) return 0;
    const std::vector<xcb_keysym_t> mapping(static_cast<std::size_t>(perKeycode), keysym);
    xcb_change_keyboard_mapping(connection_, 1, spare, static_cast<std::uint8_t>(perKeycode), mapping.data());
    spare_[keysym] = spare;
    return spare;
  }

  std::mutex mutex_;
  xcb_connection_t* connection_ = nullptr;
  std::string name_;
  std::map<xcb_keysym_t, xcb_keycode_t> spare_;
  std::vector<xcb_keycode_t> held_;  // down at the moment, in the order pressed
  bool ending_ = false;
};

// Never destroyed: a gift may be pressing a key while the program ends.
Keyboard& keyboard() {
  static Keyboard* k = new Keyboard;
  return *k;
}

}  // namespace

void releaseKeysAtExit() {
  // The signals wait, blocked in every thread, for one thread of their own:
  // a signal handler could not speak to the display.
  sigset_t ending;
  sigemptyset(&ending);
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, number);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  std::thread([ending] {
    int received = 0;
    sigwait(&ending, &received);
    keyboard().releaseAll();
    // Then the end the signal would have brought.
    std::signal(received, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
    raise(received);
  }).detach();
}

Result<> openKeyboard() { return keyboard().open(); }

Result<KeyPress> pressKeys(std::span<const Key> chord, std::chrono::milliseconds hold) {
  return keyboard().press(chord, hold);
}

}  // namespace platform
