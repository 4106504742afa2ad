#include "cli/unattended.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "capture/wave_capture.hpp"
#include "decode/half_bit_ring.hpp"
#include "io/live_alsa.hpp"
#include "tavrel_version.hpp"

namespace tavrel {

constexpr size_t mqtt_queue_limit = 1000;   ///< scans held while the broker is away
constexpr double mqtt_end_s = 5;            ///< longest wait to send the rest at the end
constexpr double mqtt_stopped_end_s = 0.5;  ///< the same after Ctrl-C or SIGTERM

static void say(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "tavrel-decode: %s\n", line.c_str());
}

void unattended_declare(Cli& cli, UnattendedOptions& o) {
  CLI::App& app = cli.app;
  app.add_option("--device", o.device,
                 R"(The sound input --live reads (default: default, ALSA's default device, which on
desktops is the sound server's default input). NAME is an ALSA device name (pulse,
pipewire, hw:1,0, plughw:CARD=Device,DEV=0) or a part of a sound card's name as
--list-devices and arecord -l show it (USB, "Audio Device"), which reads that card's
first capture device through ALSA's plug layer.

A lost input (a sound server restarting, a card pulled out, no sound for 2 s) is said on
standard error, opened again after a pause that grows from 0.5 to 5 s, and said again
when it is back; a name that fits no device ends the command at once.)")
      ->type_name("NAME");
  app.add_flag("--list-devices", o.list_devices,
               R"(List the capture devices with the channels they record, and exit: ALSA's named
devices that record (default, pulse, pipewire, ...) and the capture devices of every sound
card.)");
  app.add_option(
         "--mqtt", o.mqtt,
         R"(Also send each presentation of a tag (the reads --first writes) to an MQTT broker,
for home automation; from live input, streams and files alike. URL is
mqtt://[USER[:PASSWORD]@]HOST[:PORT][/PREFIX], or mqtts:// for TLS checked against the
system's certificate authorities (port 8883 unless given; 1883 without TLS). %XX escapes
write an @ or : in USER or PASSWORD. The password may come from the environment variable
TAVREL_MQTT_PASSWORD instead, out of sight of ps. Topics:
  PREFIX/READER/scan   the read's JSON object, as --json
                       writes it; not retained. READER is
                       the channel: right or left
  PREFIX/availability  online (retained) from the start;
                       offline at the end, and as the will
                       the broker sends when the link dies
  homeassistant/tag/OBJECT/config
                       Home Assistant's tag discovery, one
                       per reader (retained): a scan fires
                       its tag_scanned event, unconfigured
PREFIX is tavrel/HOSTNAME unless given. Home Assistant is given the tag ID: the 10 hex
digits of an EM4100 tag (JSON's id). While the broker is away, up to 1000 scans wait and go
out in order when it is back (a full queue drops its oldest and says so); the link is tried
again after a pause growing from 1 to 5 s. At the end what waits is sent, for up to 5 s
(0.5 s after Ctrl-C or SIGTERM); scans that could not be sent are counted on standard
error and make the exit status 2. Not with --jobs.)")
      ->type_name("URL");
  app.add_flag(
      "--no-discovery", [&o](int64_t) { o.discovery = false; },
      "With --mqtt: no Home Assistant discovery, only scans and availability.");
}

static int list_devices() {
  const std::vector<CaptureDevice> devices = capture_devices();
  if (devices.empty()) {
    std::fprintf(stderr,
                 "tavrel-decode: no capture device: ALSA knows no sound card and no sound "
                 "server (is libasound2-plugins installed?)\n");
    return 1;
  }
  size_t width = 0;
  for (const CaptureDevice& d : devices) width = std::max(width, d.name.size());
  for (const CaptureDevice& d : devices) {
    std::string channels;
    if (!d.problem.empty()) {
      channels = "?";
    } else if (d.channels_min == d.channels_max) {
      channels = std::to_string(d.channels_min);
    } else {
      channels = std::to_string(d.channels_min) + "-" + std::to_string(d.channels_max);
    }
    std::printf("%-*s  %5s channels  %s%s\n", static_cast<int>(width), d.name.c_str(),
                channels.c_str(), d.description.c_str(),
                d.problem.empty() ? "" : (" (not asked: " + d.problem + ")").c_str());
  }
  return 0;
}

static std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "localhost";
  return name;
}

void unattended_check(const Cli& cli, UnattendedOptions& o, bool live, int jobs) {
  if (o.list_devices) std::exit(list_devices());
  if (cli.app.count("--device") > 0 && !live) cli_usage_error(cli, "--device goes with --live");
  if (o.device.empty()) cli_usage_error(cli, "--device takes a name, not an empty one");
  if (!o.discovery && o.mqtt.empty()) cli_usage_error(cli, "--no-discovery goes with --mqtt");
  if (o.mqtt.empty()) return;
  if (jobs > 1) cli_usage_error(cli, "--mqtt takes no --jobs: one link sends the reads in order");
  const std::string problem =
      mqtt_parse_url(o.mqtt, host_name(), std::getenv(mqtt_password_variable), o.url);
  if (!problem.empty()) cli_usage_error(cli, "--mqtt: " + problem);
}

std::string unattended_read_live(const UnattendedOptions& o, int channel, bool any_rate,
                                 const SampleSink& sink, const std::vector<ChannelSink>& more,
                                 const std::atomic<bool>& stop, SoundFacts& facts) {
  LiveChoice choice;
  choice.device = o.device;
  choice.channels = channel + 1;
  for (const ChannelSink& c : more) choice.channels = std::max(choice.channels, c.channel + 1);
  choice.rate = sample_rate;
  choice.any_rate = any_rate;
  int32_t channels = 0;
  LiveSink live;
  live.say = say;
  live.start = [&](int32_t rate, int32_t n) {
    channels = n;
    facts.opened = true;
    facts.file_rate = rate;
    facts.channels = n;
    facts.other_peak = n > 1 ? 0 : -1;
    if (sink.start) sink.start(rate);
    for (const ChannelSink& c : more)
      if (c.sink.start) c.sink.start(rate);
  };
  live.take = [&](const uint8_t* const* planes, int32_t n) {
    const uint8_t* mine = planes[channel];
    const auto [low, high] = std::minmax_element(mine, mine + n);
    facts.peak = std::max({facts.peak, *high - 128, 128 - *low});
    if (channels > 1) {
      const uint8_t* other = planes[channel == 0 ? 1 : 0];
      const auto [other_low, other_high] = std::minmax_element(other, other + n);
      facts.other_peak = std::max({facts.other_peak, *other_high - 128, 128 - *other_low});
    }
    facts.file_frames += n;
    sink.take(mine, n);
    for (const ChannelSink& c : more) c.sink.take(planes[c.channel], n);
  };
  return read_live_alsa(choice, live, stop);
}

std::unique_ptr<MqttSink> unattended_mqtt(const Cli& cli, const UnattendedOptions& o,
                                          const std::vector<std::string>& readers) {
  if (o.mqtt.empty()) return nullptr;
  MqttOptions options;
  options.url = o.url;
  options.readers = readers;
  options.discovery = o.discovery;
  options.queue_limit = mqtt_queue_limit;
  options.model = cli.text->name;
  options.version = tavrel_version;
  options.host_name = host_name();
  auto sink = std::make_unique<MqttSink>();
  const std::string problem = mqtt_start(*sink, options, say);
  if (!problem.empty()) {
    say(problem);
    std::exit(2);
  }
  return sink;
}

void unattended_publish(MqttSink& sink, const std::string& reader, const std::string& json,
                        const TagRead& read) {
  const auto text = [&read](const char* name) {
    const Field* field = field_find(read.fields, name);
    return field && field->kind == FieldKind::text ? std::string(field->text) : std::string();
  };
  mqtt_scan(sink, reader, json, mqtt_tag_id(read.family->name, text("number"), text("id")));
}

bool unattended_mqtt_end(MqttSink& sink, bool stopped) {
  const auto wait = std::chrono::duration<double>(stopped ? mqtt_stopped_end_s : mqtt_end_s);
  return mqtt_end(sink,
                  std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait)) == 0;
}

}  // namespace tavrel
