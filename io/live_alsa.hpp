#pragma once
// The tools' live input: a capture device over ALSA, read until a stop request, that
// outlives its sound server. A lost input (read errors, or no sound for a few seconds) is
// said, closed and opened again after a pause that grows to a few seconds; its return is
// said too. The device is read on a capture thread of its own, so that a plugin call
// stuck on a hung sound server (closing the pulse plugin's PCM takes seconds then) never
// keeps the caller from ending.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tavrel {

/// What to record.
struct LiveChoice {
  std::string device = "default";  ///< an ALSA PCM name, or a part of a sound card's name
  int32_t channels = 2;            ///< channels the readers need: the highest one read + 1
  int32_t rate = 48000;            ///< samples per second asked for
  bool any_rate = true;            ///< the device's nearest rate will do; else only `rate`
};

/// Where the live input goes. All calls come on the thread that called read_live_alsa.
struct LiveSink {
  /// The rate and channel count the device gives, once, before the first samples.
  std::function<void(int32_t rate, int32_t channels)> start;
  /// The next `n` samples (at most 20 ms) of each channel, 8-bit unsigned (128 = middle):
  /// channel c at planes[c], for every channel that start gave.
  std::function<void(const uint8_t* const* planes, int32_t n)> take;
  /// A line for standard error: the input lost, waited for, or back. No line end.
  std::function<void(const std::string& line)> say;
};

/// Records `choice` and hands it to `sink` until `stop` is set, then returns within a
/// second. Returns "" then, or at once what is wrong with the choice itself: a device
/// name that names nothing, a card with fewer channels than asked for. A device that
/// cannot be opened, or is lost later, is waited for. `stop` may be set from a signal
/// handler.
std::string read_live_alsa(const LiveChoice& choice, const LiveSink& sink,
                           const std::atomic<bool>& stop);

/// A sound card as ALSA's control interface tells of it, with its capture devices.
struct CaptureCard {
  int32_t number;                 ///< card index: hw:N
  std::string id;                 ///< short name: hw:CARD=ID
  std::string name;               ///< "USB Audio Device"
  std::string long_name;          ///< with the bus and port it sits on
  std::vector<int32_t> devices;   ///< PCM devices that capture
  std::vector<std::string> pcms;  ///< their names: "USB Audio"
};

/// Which PCM `device` names: itself when ALSA's configuration defines it (`defined`, as
/// "default", "pulse", "hw:1,0" are), or else the first capture device of the one card in
/// `cards` whose id, name or long name holds it (any case), through the plug layer.
/// Returns "" and sets `pcm`, or says why not: no such card, or several.
std::string resolve_capture_device(const std::string& device, bool defined,
                                   const std::vector<CaptureCard>& cards, std::string& pcm);

/// A capture device, for --list-devices.
struct CaptureDevice {
  std::string name;         ///< what --device takes: "default", "hw:CARD=PCH,DEV=0"
  std::string description;  ///< ALSA's own words for it, one line
  int32_t channels_min;     ///< channels it records; 0 when it could not be asked
  int32_t channels_max;
  std::string problem;  ///< why it could not be asked (busy, no server), or ""
  int error = 0;        ///< that reason as a negative errno, or 0
};

/// The capture devices: ALSA's named PCMs that record (default, pulse, pipewire, ...) and
/// every capture device of every card, each asked for its channel counts.
std::vector<CaptureDevice> capture_devices();

}  // namespace tavrel
