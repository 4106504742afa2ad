#pragma once
// What tavrel-decode needs to serve as an unattended reader: the live input's device
// (and the list of them), and reads to an MQTT broker. Options, checks and the glue to
// the decoding run, kept apart from tavrel_decode.cpp.

#include <atomic>
#include <memory>
#include <string>

#include "cli/cli.hpp"
#include "io/sound_in.hpp"
#include "lf/read.hpp"
#include "report/mqtt_sink.hpp"

namespace tavrel {

struct UnattendedOptions {
  std::string device = "default";  ///< --device
  bool list_devices = false;       ///< --list-devices
  std::string mqtt;                ///< --mqtt URL, or ""
  bool discovery = true;           ///< not --no-discovery
  MqttUrl url;                     ///< parsed from mqtt
};

/// Declares --device, --list-devices, --mqtt and --no-discovery.
void unattended_declare(Cli& cli, UnattendedOptions& o);

/// After parsing: refuses what does not fit together, parses the URL, and runs
/// --list-devices (which exits).
void unattended_check(const Cli& cli, UnattendedOptions& o, bool live, int jobs);

/// Reads channel `channel` (0 the first) of the live input into `sink`, and each channel of
/// `more` into its own sink, until `stop`, as read_sound reads a file; at sample_rate only
/// unless `any_rate`. Says a lost input on standard error and waits for it. Returns "" or
/// why the device cannot be used.
std::string unattended_read_live(const UnattendedOptions& o, int channel, bool any_rate,
                                 const SampleSink& sink, const std::vector<ChannelSink>& more,
                                 const std::atomic<bool>& stop, SoundFacts& facts);

/// The broker link for --mqtt, with a scan topic for each of `readers`, started; exits 2
/// when it cannot be made at all.
std::unique_ptr<MqttSink> unattended_mqtt(const Cli& cli, const UnattendedOptions& o,
                                          const std::vector<std::string>& readers);

/// Sends one presentation of a tag: `json` is the read's JSON object.
void unattended_publish(MqttSink& sink, const std::string& reader, const std::string& json,
                        const TagRead& read);

/// Ends the link: what is queued is sent, for up to 5 s, or 0.5 s once a stop was asked
/// for. False when scans were lost.
bool unattended_mqtt_end(MqttSink& sink, bool stopped);

}  // namespace tavrel
