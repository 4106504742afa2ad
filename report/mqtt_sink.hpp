#pragma once
// Reads to an MQTT broker, the way home automation takes readers (libmosquitto):
//   PREFIX/READER/scan        the read's JSON object, one per presentation of a tag
//   PREFIX/availability       "online" (retained) while connected; "offline" at a clean
//                             end, and as the broker's last will when the link dies
//   homeassistant/tag/OBJECT/config
//                             Home Assistant's tag discovery, one per reader (retained),
//                             so that a scan fires its tag_scanned event unconfigured
// Scans wait in a bounded queue while the broker is away and go out in order, one at a
// time (QoS 1), when it is back; the link is tried again after a pause that grows.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavrel {

/// Where --mqtt points: mqtt://[USER[:PASSWORD]@]HOST[:PORT][/PREFIX], mqtts:// for TLS.
struct MqttUrl {
  bool tls = false;
  std::string user;      ///< "" for none
  std::string password;  ///< "" for none
  std::string host;      ///< name or address; an IPv6 address without its brackets
  int32_t port = 0;      ///< 1883, or 8883 for TLS, unless given
  std::string prefix;    ///< topic prefix, without slashes at either end
};

/// The environment variable the broker password may come from instead of the URL.
constexpr const char* mqtt_password_variable = "TAVREL_MQTT_PASSWORD";

/// Parses `text` into `url`. User and password may hold %XX escapes (%40 for @); a
/// password from `env_password` (may be null) is taken when the URL gives a user and no
/// password. The prefix defaults to "tavrel/" + `host_name` (any '/', '+', '#' in it as
/// '_'). Returns "" or what is wrong.
std::string mqtt_parse_url(const std::string& text, const std::string& host_name,
                           const char* env_password, MqttUrl& url);

/// The tag ID Home Assistant is given for a read: the 10 hex digits of an EM4100 tag,
/// which users know from other readers and their cards, and "FAMILY:NUMBER" for every
/// other family (its printed form, kept apart from other families' by the name).
/// `family` "" is an EM4100 read from before reads named their family.
std::string mqtt_tag_id(const std::string& family, const std::string& number,
                        const std::string& id);

/// The value_template of the discovery: mqtt_tag_id in Home Assistant's template language,
/// over the scan's JSON.
extern const char* const mqtt_value_template;

/// A topic level made of a name: every character but letters, digits, '-' and '_' as '_'.
std::string mqtt_topic_word(const std::string& name);

struct MqttOptions {
  MqttUrl url;
  std::vector<std::string> readers;  ///< topic levels and discovery objects, one per reader
  bool discovery = true;             ///< publish Home Assistant's tag discovery
  size_t queue_limit = 1000;         ///< scans held while the broker is away
  std::string model;                 ///< the device's model in the discovery: the program
  std::string version;               ///< and its version
  std::string host_name;             ///< the device's name in the discovery
};

struct MqttState;

/// One broker link. Its calls may come from any one thread; `say` is called on
/// libmosquitto's network thread as well.
struct MqttSink {
  std::unique_ptr<MqttState> state;
  MqttSink();
  ~MqttSink();
};

/// Starts the link in the background; a broker that cannot be reached yet is tried
/// again, with a line to `say`. Returns "" or why the link cannot be made at all.
std::string mqtt_start(MqttSink& sink, const MqttOptions& options,
                       std::function<void(const std::string& line)> say);

/// Queues a scan of reader `reader` (one of the options' readers): `json`, the read's
/// JSON object, for tag `tag_id` (named when the queue overflows).
void mqtt_scan(MqttSink& sink, const std::string& reader, const std::string& json,
               const std::string& tag_id);

/// Sends what is queued, then "offline", and closes the link, giving up at `deadline`.
/// Returns the number of scans never sent: dropped from a full queue, or still queued at
/// the deadline (said by a line then).
int64_t mqtt_end(MqttSink& sink, std::chrono::steady_clock::time_point deadline);

}  // namespace tavrel
