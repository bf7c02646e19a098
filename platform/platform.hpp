#pragma once

// What the program asks of the operating system, in its own terms: press
// these keys, play this file at this volume. One backend per system is linked
// in (platform/windows, platform/linux); the tests link a recording backend of
// their own, which shows the whole interface at a glance.
//
//   backend   keys                         sounds
//   windows   SendInput, the layout's      SDL2_mixer, linked in, through
//             virtual keys; the streamer's WASAPI
//             from a low-level hook; the
//             foreground window's process
//             and its integrity level
//   linux     XTest on the X display       SDL2_mixer, loaded when sounds
//             named by DISPLAY; the        start, through PulseAudio or
//             streamer's from XInput 2's   PipeWire
//             raw events; the active
//             window's properties

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.hpp"

namespace platform {

// Console: UTF-8 for output and, where the system has one, for input.
void useUtf8Console();

// From now on, a fault that ends the program (an exception nothing caught,
// a fatal signal, an unhandled system exception) says so on the console, one
// line with its kind and address, before the program goes: a streamer who
// sees the window close can tell what ended it.
void tellFatalFaults();

// The stack reserved for each thread started from now on. Starting a thread
// costs more the larger its stack (Linux maps, guards and caches it whole);
// a storm of gifts starts hundreds of workers at once.
void setThreadStackSize(std::size_t bytes);

// True when this process is the only one attached to its console and its
// standard input is that console: the window was opened for this program
// alone (a double-click) and closes as soon as it ends.
bool aloneOnConsole();

// The program looks for its file and its sounds in the working folder, which
// a double-click makes the program's own. Two other ways of starting it on
// Windows go wrong; Linux has neither, and answers nothing to both.
//
// When the working folder is the system's (where Windows starts a program
// run as administrator from Explorer), makes the program's own folder the
// working folder and answers the two, system's first.
std::optional<std::pair<std::string, std::string>> leaveSystemFolder();
// The program's folder when it lies in the user's temporary folder, where
// Explorer puts a program opened inside a zip; everything written there is
// soon lost.
std::optional<std::string> programInTemporaryFolder();

// Makes `text` the whole content of the file at `path`, or leaves the file as
// it was: the text goes to "<file>.tmp" beside it, made new (never through a
// link found there), with the file's permissions (a new file, which holds the
// account token, its owner's alone where the system has owners); it reaches
// the disk, then takes the file's name. A link is followed: the file it names
// gets the text. A file its owner made read-only is not replaced: the reason
// says so, and how to change it. On Windows, each line ends as Notepad
// expects (CR LF).
Result<> replaceFile(const std::string& path, std::string_view text);

// Opens the address in the streamer's default browser, and returns at once;
// does nothing where there is no desktop to show it (Linux without a
// display).
void openInBrowser(const std::string& address);

// From now on, calls `changed` with an entry's name, from a thread of its own,
// whenever an entry of the folder is written, made, renamed or removed (an
// empty name when the system lost count of what changed). The system tells
// the program; nothing looks at the folder in the meantime.
Result<> watchFolder(const std::string& folder, std::function<void(const std::string& name)> changed);

// A key as the program knows it. Letters are the keys that type them in the
// keyboard's current layout; the others are the same keys on every layout.
enum class Key : std::uint8_t {
  A,
  Z = A + 25,
  Digit0,
  Digit9 = Digit0 + 9,
  Numpad0,
  Numpad9 = Numpad0 + 9,
  F1,
  F24 = F1 + 23,
  Space,
  Enter,
  Tab,
  Escape,
  Backspace,
  Delete,
  Insert,
  Home,
  End,
  PageUp,
  PageDown,
  Up,
  Down,
  Left,
  Right,
  Ctrl,
  Shift,
  Alt,
  Win,
};

// The key `offset` places after `first`: Key::A + 6 is G.
constexpr Key keyAfter(Key first, int offset) { return static_cast<Key>(static_cast<int>(first) + offset); }
constexpr int keyOffset(Key key, Key first) { return static_cast<int>(key) - static_cast<int>(first); }

// Gets ready to press keys; fails, saying why in plain words, when keys
// cannot be pressed. Asked once at start-up; a press made without it opens
// the keyboard all the same.
Result<> openKeyboard();

enum class KeyPress {
  Pressed,
  NoSuchKey,  // the keyboard has no key for it (a letter the layout lacks)
};

// Presses the keys down, in order, as one event for the system; fails when
// keys cannot be pressed, and then holds none of them. NoSuchKey presses
// nothing.
Result<KeyPress> keysDown(std::span<const Key> keys);
// Releases those of the keys this program holds, in the reverse order; fails
// when the system did not take the release, and then still holds the keys it
// did not take (for the program's end to release).
Result<> keysUp(std::span<const Key> keys);

// Of `keys`, those the streamer holds down on a keyboard at this moment;
// this program's own presses never count. (A key held since before the
// program started counts once it is pressed again.)
std::vector<Key> heldByStreamer(std::span<const Key> keys);

// The window that has the keyboard's focus: the window the keys go to.
struct FocusedWindow {
  std::string program = {};  // its program's file name ("javaw.exe", "firefox"); empty when unknown
  std::string title = {};    // its title, in UTF-8
  std::string kind = {};     // what else names it: its class on X ("Minecraft"), empty on Windows
  // Its program runs with more rights than this one (on Windows, a higher
  // integrity level: a game started as administrator); the system drops,
  // without a word, the keys this program sends it.
  bool aboveThisProgram = false;
};
// Nothing when no window has the focus or the system cannot tell.
std::optional<FocusedWindow> focusedWindow();

// From now on, when the program is ended (Ctrl+C, its console window closed,
// SIGINT or SIGTERM), every key it holds down is released first. Called
// before any other thread starts.
void releaseKeysAtExit();

// Gets ready to play sounds; fails, saying why, when they cannot be played.
// The output is then tried again now and then, and when a sound comes.
Result<> openSoundOutput();
// Why sounds cannot be played now; empty when they can.
std::string soundOutputProblem();

// The output devices the system lists, by their names, in its order.
std::vector<std::string> soundDevices();

// Where sounds went by themselves: the chosen device is absent, or went away,
// and sounds go to the system's default device; or it is back, and they go
// to it again. Or the output itself: it opened after failing to, or closed
// and does not open again (`device` then says why).
struct SoundDeviceChange {
  enum class Kind { Absent, Back, Open, Closed } kind;
  std::string device;
};
using SoundDeviceChanged = std::function<void(const SoundDeviceChange&)>;
// From now on sounds go to the named device (empty: the system's default),
// and each change of where they go by themselves is told, from the sound
// thread. A device that is absent now is used as soon as it comes, once no
// sound plays.
void useSoundDevice(const std::string& device, SoundDeviceChanged changed);

// Plays a short tone on the named device itself, whichever device sounds go
// to, so that the streamer hears which one it is; fails when the device does
// not open.
Result<> playTone(const std::string& device);

struct SoundStart {
  enum class Outcome {
    Playing,
    NotFound,    // no such file, or none the system can name
    CannotOpen,  // the file cannot be read as sound: `reason` says why
    CannotPlay,  // opened, but the system would not play it
    TooLate,     // it could not start by the time given
    Stopped,     // stopped before it started
    Ended,       // after Playing: it played out, was cut or was stopped
  };
  Outcome outcome;
  std::string reason;
  // Sounds found too late together are told together: the first of them
  // says how many they are, the others 0.
  std::size_t lateTogether = 0;
};

// Starts the file (MP3, WAV or OGG) at `volume` percent, from 0 to 100; a
// volume outside that range plays at full volume. The sound overlaps any
// others and is stopped after `lifetime`, however long it is; one that
// cannot start by `startBy` is not played. A file is decoded once while it is
// unchanged, and kept while the sounds kept stay within a bound.
// Returns at once with the sound's number: the file is opened elsewhere, and
// `told` is called from another thread once when the sound plays or has
// failed, and once more, after it played, when it has ended.
using SoundId = std::uint64_t;
using SoundTold = std::function<void(const SoundStart&)>;
SoundId playSound(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime,
                  std::chrono::steady_clock::time_point startBy, SoundTold told);
// Stops the sound, whether it plays or waits to start; nothing when it has
// ended.
void stopSound(SoundId sound);

}  // namespace platform
