// Keys on the X display named by DISPLAY, through the XTest extension: X11
// sessions, and XWayland, where games run through Steam and Proton. Each key
// goes through its keysym to a keycode of the display's keymap as it is at
// that moment (the streamer may switch layouts while the program runs).
//
// The streamer's own keys are read from XInput 2's raw events, which name
// the device each comes from: this program's come from the XTest device of
// its own keyboard, every other device's are the streamer's hands (or
// another program's, which the program leaves alone as well).
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
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "common/thread_safety.hpp"
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

// The keysyms that count as the key held: a modifier has a key on each side.
std::vector<xcb_keysym_t> keysymsHeldAs(Key key) {
  switch (key) {
    case Key::Ctrl:
      return {XK_Control_L, XK_Control_R};
    case Key::Shift:
      return {XK_Shift_L, XK_Shift_R};
    case Key::Alt:
      return {XK_Alt_L, XK_Alt_R, XK_Meta_L};
    case Key::Win:
      return {XK_Super_L, XK_Super_R};
    default:
      return {keysymOf(key)};
  }
}

template <typename Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;
template <typename Reply>
Owned<Reply> owned(Reply* reply) {
  return Owned<Reply>(reply, &std::free);
}

// The streamer's keys down at the moment, from the raw events of every
// device but the program's own, read on a connection and a thread of their
// own.
class StreamerKeys {
 public:
  // Starts listening, once, on the display; `own` is the XTest device the
  // program's keys come from.
  void listen(const std::string& display, xcb_input_device_id_t own) {
    MutexLock lock(mutex_);
    if (listening_) return;
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection) || !selectRawKeys(connection)) {
      xcb_disconnect(connection);
      return;
    }
    listening_ = true;
    std::thread([this, connection, own] { follow(connection, own); }).detach();
  }

  bool down(xcb_keycode_t code) {
    MutexLock lock(mutex_);
    return std::ranges::any_of(down_, [&](const auto& held) { return held.second == code; });
  }

 private:
  static bool selectRawKeys(xcb_connection_t* connection) {
    const auto version =
        owned(xcb_input_xi_query_version_reply(connection, xcb_input_xi_query_version(connection, 2, 0), nullptr));
    if (version == nullptr || version->major_version < 2) return false;
    struct {
      xcb_input_event_mask_t head;
      std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    return xcb_request_check(connection, xcb_input_xi_select_events_checked(connection, root, 1, &mask.head)) ==
           nullptr;
  }

  void follow(xcb_connection_t* connection, xcb_input_device_id_t own) {
    const std::uint8_t opcode = xcb_get_extension_data(connection, &xcb_input_id)->major_opcode;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
      const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
      if ((event->response_type & 0x7F) == XCB_GE_GENERIC && raw->extension == opcode && raw->sourceid != own) {
        MutexLock lock(mutex_);
        const std::pair held{raw->sourceid, static_cast<xcb_keycode_t>(raw->detail)};
        if (raw->event_type == XCB_INPUT_RAW_KEY_PRESS) down_.insert(held);
        if (raw->event_type == XCB_INPUT_RAW_KEY_RELEASE) down_.erase(held);
      }
      std::free(event);
    }
    // The display went away: the next connection listens again.
    MutexLock lock(mutex_);
    listening_ = false;
    down_.clear();
    xcb_disconnect(connection);
  }

  Mutex mutex_;
  bool listening_ GUARDED_BY(mutex_) = false;
  std::set<std::pair<xcb_input_device_id_t, xcb_keycode_t>> down_ GUARDED_BY(mutex_);  // by device
};

class Keyboard {
 public:
  Result<> open() {
    MutexLock lock(mutex_);
    return connect();
  }

  Result<KeyPress> down(std::span<const Key> keys) {
    MutexLock lock(mutex_);
    if (auto connected = connect(); !connected) return connected.failure();
    std::vector<xcb_keycode_t> codes;
    for (const Key key : keys) {
      codes.push_back(keycodeOf(keysymOf(key)));
      if (xcb_connection_has_error(connection_)) return lost();
      if (codes.back() == 0) return KeyPress::NoSuchKey;
    }
    if (ending_) return Failure{"le programme se ferme"};
    for (std::size_t i = 0; i < keys.size(); ++i) {
      fake(XCB_KEY_PRESS, codes[i]);
      held_.emplace_back(keys[i], codes[i]);
    }
    xcb_flush(connection_);
    return KeyPress::Pressed;
  }

  Result<> up(std::span<const Key> keys) {
    MutexLock lock(mutex_);
    if (connection_ == nullptr) return lost();
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
      const auto at = std::ranges::find_if(held_, [&](const auto& held) { return held.first == *key; });
      // Gone when the program's end has released it already.
      if (at == held_.end()) continue;
      fake(XCB_KEY_RELEASE, at->second);
      held_.erase(at);
    }
    sync();
    if (xcb_connection_has_error(connection_)) return lost();
    return {};
  }

  std::vector<Key> heldByStreamer(std::span<const Key> keys) {
    std::vector<Key> held;
    MutexLock lock(mutex_);
    if (!connect()) return held;
    const std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
        xcb_key_symbols_alloc(connection_), &xcb_key_symbols_free);
    for (const Key key : keys) {
      bool down = false;
      for (const xcb_keysym_t keysym : keysymsHeldAs(key)) {
        const auto codes = owned(xcb_key_symbols_get_keycode(symbols.get(), keysym));
        for (const xcb_keycode_t* code = codes.get(); code != nullptr && *code != 0; ++code) {
          down = down || streamer_.down(*code);
        }
      }
      if (down) held.push_back(key);
    }
    return held;
  }

  std::optional<FocusedWindow> focused() {
    MutexLock lock(mutex_);
    if (!connect()) return std::nullopt;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    // The window manager names the active window; without one, the window
    // with the input focus, or the top window holding it, is the one.
    xcb_window_t window = 0;
    if (const auto active = property(root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW); active.size() >= 4) {
      std::memcpy(&window, active.data(), 4);
    }
    if (window == 0) {
      const auto focus = owned(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
      window = focus != nullptr ? focus->focus : 0;
      while (window > XCB_INPUT_FOCUS_POINTER_ROOT && window != root &&
             property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).empty()) {
        const auto tree = owned(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
        window = tree != nullptr ? tree->parent : 0;
      }
    }
    // No window (none, or the pointer's root), or one the window manager
    // still names but that is gone.
    const auto gone = [&]() REQUIRES(mutex_) {
      return owned(xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window),
                                                   nullptr)) == nullptr;
    };
    if (window == root || gone()) return std::nullopt;
    FocusedWindow found;
    found.title = property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"));
    if (found.title.empty()) found.title = property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    // WM_CLASS holds two texts: the instance, then the class.
    const std::string names = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    found.kind = names.substr(std::min(names.find('\0'), names.size() - 1) + 1);
    if (!found.kind.empty() && found.kind.back() == '\0') found.kind.pop_back();
    if (const auto pid = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL); pid.size() >= 4) {
      std::uint32_t number = 0;
      std::memcpy(&number, pid.data(), 4);
      std::error_code error;
      const auto program = std::filesystem::read_symlink("/proc/" + std::to_string(number) + "/exe", error);
      if (!error) found.program = program.filename().string();
    }
    return found;
  }

  // Releases every key held down, and presses none from now on.
  void releaseAll() {
    MutexLock lock(mutex_);
    ending_ = true;
    if (connection_ == nullptr) return;
    for (auto held = held_.rbegin(); held != held_.rend(); ++held) fake(XCB_KEY_RELEASE, held->second);
    held_.clear();
    sync();
  }

 private:
  // Connects to a display that takes simulated keys, once.
  Result<> connect() REQUIRES(mutex_) {
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
    atoms_.clear();
    streamer_.listen(name_, ownDevice());
    return {};
  }

  // Forgets a connection that failed: the next key connects again.
  Failure lost() REQUIRES(mutex_) {
    if (connection_ != nullptr) xcb_disconnect(connection_);
    connection_ = nullptr;
    held_.clear();
    return Failure{"la connexion a l'affichage X " + name_ + " est perdue"};
  }

  // The XTest device this connection's keys come from: the one of the
  // keyboard paired with its pointer. 0 when the display has no XInput 2.
  xcb_input_device_id_t ownDevice() REQUIRES(mutex_) {
    const auto version =
        owned(xcb_input_xi_query_version_reply(connection_, xcb_input_xi_query_version(connection_, 2, 0), nullptr));
    if (version == nullptr || version->major_version < 2) return 0;
    const auto pointer = owned(xcb_input_xi_get_client_pointer_reply(
        connection_, xcb_input_xi_get_client_pointer(connection_, XCB_NONE), nullptr));
    const auto devices = owned(xcb_input_xi_query_device_reply(
        connection_, xcb_input_xi_query_device(connection_, XCB_INPUT_DEVICE_ALL), nullptr));
    if (pointer == nullptr || devices == nullptr) return 0;
    // The first device of a type attached to `to` (any when 0) whose name
    // holds `part`.
    const auto find = [&](std::uint16_t type, xcb_input_device_id_t to, std::string_view part) {
      for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem > 0;
           xcb_input_xi_device_info_next(&it)) {
        const std::string_view name(xcb_input_xi_device_info_name(it.data),
                                    static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
        if (it.data->type == type && (to == 0 || it.data->attachment == to) && name.find(part) != name.npos) {
          return it.data->deviceid;
        }
      }
      return xcb_input_device_id_t{0};
    };
    // A client that never chose a pointer has the server's first one.
    const xcb_input_device_id_t chosen =
        pointer->set ? pointer->deviceid : find(XCB_INPUT_DEVICE_TYPE_MASTER_POINTER, 0, "");
    const xcb_input_device_id_t keyboard = find(XCB_INPUT_DEVICE_TYPE_MASTER_KEYBOARD, chosen, "");
    return keyboard == 0 ? 0 : find(XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD, keyboard, "XTEST");
  }

  xcb_atom_t atom(const char* name) REQUIRES(mutex_) {
    if (const auto known = atoms_.find(name); known != atoms_.end()) return known->second;
    const auto reply = owned(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 1, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    const xcb_atom_t found = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    atoms_[name] = found;
    return found;
  }

  // A window's property, its bytes; empty when it has none of that type.
  std::string property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) REQUIRES(mutex_) {
    if (name == XCB_ATOM_NONE) return {};
    const auto reply = owned(
        xcb_get_property_reply(connection_, xcb_get_property(connection_, 0, window, name, type, 0, 1024), nullptr));
    if (reply == nullptr || reply->type != type) return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  }

  // Returns once the display has taken every event sent before.
  void sync() REQUIRES(mutex_) {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }

  void fake(std::uint8_t type, xcb_keycode_t code) REQUIRES(mutex_) {
    xcb_test_fake_input(connection_, type, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  }

  // The key of the current keymap that gives the keysym. A keysym that no key
  // gives (F13 to F24 on most keyboards) is given a keycode the keymap leaves
  // empty, for as long as the program runs.
  xcb_keycode_t keycodeOf(xcb_keysym_t keysym) REQUIRES(mutex_) {
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

  xcb_keycode_t giveSpareKeycode(xcb_keysym_t keysym) REQUIRES(mutex_) {
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

  Mutex mutex_;
  xcb_connection_t* connection_ GUARDED_BY(mutex_) = nullptr;
  std::string name_ GUARDED_BY(mutex_);
  std::map<xcb_keysym_t, xcb_keycode_t> spare_ GUARDED_BY(mutex_);
  std::vector<std::pair<Key, xcb_keycode_t>> held_ GUARDED_BY(mutex_);  // down at the moment, in the order pressed
  std::map<std::string, xcb_atom_t> atoms_ GUARDED_BY(mutex_);
  StreamerKeys streamer_;  // has its own lock
  bool ending_ GUARDED_BY(mutex_) = false;
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

Result<KeyPress> keysDown(std::span<const Key> keys) { return keyboard().down(keys); }
Result<> keysUp(std::span<const Key> keys) { return keyboard().up(keys); }
std::vector<Key> heldByStreamer(std::span<const Key> keys) { return keyboard().heldByStreamer(keys); }
std::optional<FocusedWindow> focusedWindow() { return keyboard().focused(); }

}  // namespace platform
