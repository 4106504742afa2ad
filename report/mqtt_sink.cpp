// The MQTT sink on libmosquitto.
// libmosquitto calls: mosquitto_lib_init, mosquitto_new, mosquitto_threaded_set,
// mosquitto_int_option, mosquitto_username_pw_set, mosquitto_will_set, mosquitto_*_set
// (callbacks), mosquitto_connect_async, mosquitto_reconnect_async, mosquitto_loop,
// mosquitto_publish, mosquitto_disconnect, mosquitto_destroy, mosquitto_strerror,
// mosquitto_connack_string.
//
// A network thread of our own runs mosquitto_loop and connects again after a growing
// pause: libmosquitto's own loop thread gives up for good when the very first connection
// fails, and its pauses cannot be cut short at the end. Every callback runs on that thread.
//
// One scan is in flight at a time: the next goes out when the broker has acknowledged
// the last (QoS 1), so the order holds across a broker restart and a scan leaves the
// queue only once the broker has it. libmosquitto sends an unacknowledged message again
// after it reconnects.

#include "report/mqtt_sink.hpp"

#include <mosquitto.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

namespace tavrel {

using Clock = std::chrono::steady_clock;

constexpr int32_t keepalive_s = 30;         ///< the broker takes the link for dead after 1.5x
constexpr int32_t first_retry_ms = 1000;    ///< pause before the first new connection
constexpr int32_t longest_retry_ms = 5000;  ///< the pause doubles up to this
constexpr int32_t poll_ms = 100;            ///< longest network wait before looking at quit
constexpr int32_t leave_ms = 300;           ///< how long the end waits for the network thread
constexpr int32_t default_port = 1883;      ///< mqtt://
constexpr int32_t default_tls_port = 8883;  ///< mqtts://

const char* const mqtt_value_template =
    "{{ value_json.id if value_json.family is not defined or value_json.family == 'em4100' "
    "else value_json.family ~ ':' ~ value_json.number }}";

std::string mqtt_tag_id(const std::string& family, const std::string& number,
                        const std::string& id) {
  if (family.empty() || family == "em4100") return id;
  return family + ":" + number;
}

std::string mqtt_topic_word(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  }
  return out;
}

// %XX escapes undone; false on a broken one.
static bool unescape(const std::string& in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size() || !std::isxdigit(static_cast<unsigned char>(in[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(in[i + 2])))
      return false;
    out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return true;
}

std::string mqtt_parse_url(const std::string& text, const std::string& host_name,
                           const char* env_password, MqttUrl& url) {
  url = MqttUrl{};
  std::string rest;
  if (text.rfind("mqtt://", 0) == 0) {
    rest = text.substr(7);
  } else if (text.rfind("mqtts://", 0) == 0) {
    rest = text.substr(8);
    url.tls = true;
  } else {
    return "the URL starts with mqtt:// or mqtts:// (TLS), not \"" + text + "\"";
  }
  if (rest.find('?') != std::string::npos) return "the URL takes no ?query";
  const size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  std::string prefix = slash == std::string::npos ? "" : rest.substr(slash + 1);

  const size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    const std::string user_info = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const size_t colon = user_info.find(':');
    const bool has_password = colon != std::string::npos;
    if (!unescape(user_info.substr(0, colon), url.user) ||
        (has_password && !unescape(user_info.substr(colon + 1), url.password)))
      return "a broken %XX escape in the user or password";
    if (url.user.empty()) return "a user name is empty before the @";
    if (has_password && url.password.empty()) return "the password after the : is empty";
  }
  if (url.user.empty() && env_password && *env_password)
    return std::string(mqtt_password_variable) +
           " is set, but the URL names no user: write mqtt://USER@HOST";
  if (!url.user.empty() && url.password.empty() && env_password) url.password = env_password;

  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return "an IPv6 address without its closing ]";
    url.host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty() && after[0] != ':') return "after the ] comes :PORT or nothing";
    if (!after.empty()) port = after.substr(1);
    if (url.host.empty()) return "the brackets hold no address";
  } else {
    const size_t colon = authority.find(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
      port = authority.substr(colon + 1);
      if (port.find(':') != std::string::npos)
        return "an IPv6 address goes in brackets: mqtt://[" + authority + "]";
      if (port.empty()) return "a : with no port after it";
    }
  }
  if (url.host.empty()) return "the URL names no host: mqtt://HOST";
  url.port = url.tls ? default_tls_port : default_port;
  if (!port.empty()) {
    const bool digits =
        port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    const long value = digits ? std::stol(port) : 0;
    if (value < 1 || value > 65535) return "the port is a number from 1 to 65535, not " + port;
    url.port = static_cast<int32_t>(value);
  }

  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  if (prefix.find_first_of("+#") != std::string::npos)
    return "the topic prefix holds a wildcard (+ or #): " + prefix;
  if (prefix.find("//") != std::string::npos || (!prefix.empty() && prefix[0] == '/'))
    return "the topic prefix has an empty level: " + prefix;
  if (prefix.empty()) {
    // A host name is one topic level: no level breaks or wildcards in it.
    std::string level = host_name.empty() ? "localhost" : host_name;
    for (char& c : level)
      if (c == '/' || c == '+' || c == '#') c = '_';
    prefix = "tavrel/" + level;
  }
  url.prefix = prefix;
  return "";
}

struct MqttMessage {
  std::string topic;
  std::string payload;
  std::string tag_id;
};

struct MqttState {
  MqttOptions options;
  std::function<void(const std::string&)> say;
  mosquitto* mosq = nullptr;
  std::string where;                  ///< "HOST:PORT", for the lines said
  std::string availability;           ///< its topic
  std::thread network;                ///< runs mosquitto_loop from mqtt_start to mqtt_end
  std::atomic<bool> quit{false};      ///< to the network thread: end; set under the lock
  int32_t pause_ms = first_retry_ms;  ///< the network thread's next pause before connecting
  std::mutex lock;                    ///< guards all below
  std::condition_variable changed;    ///< a scan or "offline" acknowledged, the link up or down,
                                      ///< the network thread ended; or quit
  std::deque<MqttMessage> queue;      ///< the scans not yet acknowledged; the first may be out
  bool connected = false;
  bool in_flight = false;  ///< queue.front() is with the broker, unacknowledged
  int in_flight_mid = 0;   ///< its message id
  int offline_mid = -1;    ///< the message id of "offline", once sent
  bool offline_done = false;
  bool network_done = false;
  bool said_down = false;    ///< the link's loss or absence has been said
  int last_refusal = 0;      ///< the broker's last refusal code, said once
  bool overflowing = false;  ///< the queue is full; said once until it empties
  int64_t dropped = 0;       ///< scans dropped from a full queue
  // Apart from the rest: libmosquitto may log while a call made under `lock` runs.
  std::mutex log_lock;     ///< guards last_error; taken after `lock`, never before
  std::string last_error;  ///< libmosquitto's last error log line, for the next line said
};

MqttSink::MqttSink() = default;
MqttSink::~MqttSink() {
  if (!state) return;
  if (state->network.joinable()) mqtt_end(*this, std::chrono::steady_clock::now());
  // A network thread left in a stuck call keeps the client: it is not destroyed then.
  if (state->network_done) mosquitto_destroy(state->mosq);
}

// Under the lock: the next scan out, if the link is up and none is in flight.
static void send_next(MqttState& s) {
  if (!s.connected || s.in_flight || s.queue.empty()) return;
  const MqttMessage& m = s.queue.front();
  int mid = 0;
  if (mosquitto_publish(s.mosq, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                        m.payload.data(), 1, false) == MOSQ_ERR_SUCCESS) {
    s.in_flight = true;
    s.in_flight_mid = mid;
  }
}

static std::string discovery_payload(const MqttOptions& o, const std::string& reader) {
  nlohmann::ordered_json j;
  j["topic"] = o.url.prefix + "/" + reader + "/scan";
  j["value_template"] = mqtt_value_template;
  j["device"] = {{"identifiers", {mqtt_topic_word(o.url.prefix)}},
                 {"name", "Tavrel on " + o.host_name},
                 {"model", o.model},
                 {"sw_version", o.version}};
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

static void publish_retained(MqttState& s, const std::string& topic, const std::string& text) {
  mosquitto_publish(s.mosq, nullptr, topic.c_str(), static_cast<int>(text.size()), text.data(), 1,
                    true);
}

// libmosquitto's words for `code` without their full stop, or the system's for errno,
// and the detail it logged (a TLS certificate that failed, say).
static std::string error_text(MqttState& s, int code) {
  std::string text = code == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(code);
  if (!text.empty() && text.back() == '.') text.pop_back();
  std::lock_guard<std::mutex> hold(s.log_lock);
  if (!s.last_error.empty()) text += ": " + s.last_error;
  s.last_error.clear();
  return text;
}

static void on_log(mosquitto*, void* context, int level, const char* text) {
  if (level != MOSQ_LOG_ERR || !text) return;
  MqttState& s = *static_cast<MqttState*>(context);
  std::lock_guard<std::mutex> hold(s.log_lock);
  s.last_error = text;
}

static void on_connect(mosquitto*, void* context, int code) {
  MqttState& s = *static_cast<MqttState*>(context);
  std::unique_lock<std::mutex> hold(s.lock);
  if (code != 0) {
    if (code != s.last_refusal) {
      s.last_refusal = code;
      s.said_down = true;
      const std::string line = "MQTT broker " + s.where +
                               " refused the connection: " + mosquitto_connack_string(code) +
                               "; trying again";
      hold.unlock();
      s.say(line);
    }
    return;
  }
  // Availability and discovery first: Home Assistant knows the reader before its scans.
  publish_retained(s, s.availability, "online");
  if (s.options.discovery) {
    for (const std::string& reader : s.options.readers) {
      const std::string object = mqtt_topic_word(s.options.url.prefix + "_" + reader);
      publish_retained(s, "homeassistant/tag/" + object + "/config",
                       discovery_payload(s.options, reader));
    }
  }
  s.connected = true;
  s.pause_ms = first_retry_ms;
  s.last_refusal = 0;
  const bool was_down = s.said_down;
  s.said_down = false;
  send_next(s);
  s.changed.notify_all();
  hold.unlock();
  if (was_down) s.say("MQTT broker " + s.where + " connected");
}

static void on_disconnect(mosquitto*, void* context, int code) {
  MqttState& s = *static_cast<MqttState*>(context);
  std::unique_lock<std::mutex> hold(s.lock);
  const bool was_connected = s.connected;
  s.connected = false;
  s.changed.notify_all();
  if (code == 0 || !was_connected || s.said_down) return;  // 0: our own disconnect
  s.said_down = true;
  const std::string line = "MQTT broker " + s.where + " lost (" + error_text(s, code) +
                           "): scans wait in the queue; connecting again";
  hold.unlock();
  s.say(line);
}

static void on_publish(mosquitto*, void* context, int mid) {
  MqttState& s = *static_cast<MqttState*>(context);
  std::lock_guard<std::mutex> hold(s.lock);
  if (mid == s.offline_mid) s.offline_done = true;
  if (s.in_flight && mid == s.in_flight_mid) {
    s.queue.pop_front();
    s.in_flight = false;
    if (s.queue.size() < s.options.queue_limit / 2) s.overflowing = false;
    send_next(s);
  }
  s.changed.notify_all();
}

// Says once, until connected again, that the broker cannot be reached.
static void say_unreachable(MqttState& s, int code) {
  std::unique_lock<std::mutex> hold(s.lock);
  if (s.said_down) return;
  s.said_down = true;
  const std::string line = "MQTT broker " + s.where + " cannot be reached (" + error_text(s, code) +
                           "): scans wait in the queue; connecting again";
  hold.unlock();
  s.say(line);
}

// Waits the network thread's pause, which then doubles; true when quit came first.
static bool pause_network(MqttState& s) {
  std::unique_lock<std::mutex> hold(s.lock);
  const bool quit = s.changed.wait_for(hold, std::chrono::milliseconds(s.pause_ms),
                                       [&] { return s.quit.load(); });
  s.pause_ms = std::min(2 * s.pause_ms, longest_retry_ms);
  return quit;
}

static void network_run(MqttState& s) {
  bool first = true;
  bool open = false;  // a socket is connected or on its way
  while (!s.quit.load()) {
    if (!open) {
      const MqttUrl& url = s.options.url;
      // Connecting without waiting for the answer: the CONNACK arrives in the loop.
      const int e = first ? mosquitto_connect_async(s.mosq, url.host.c_str(), url.port, keepalive_s)
                          : mosquitto_reconnect_async(s.mosq);
      first = false;
      if (e != MOSQ_ERR_SUCCESS) {
        say_unreachable(s, e);
        if (pause_network(s)) break;
        continue;
      }
      open = true;
    }
    const int e = mosquitto_loop(s.mosq, poll_ms, 1);
    if (e == MOSQ_ERR_SUCCESS) continue;
    open = false;
    if (e != MOSQ_ERR_NO_CONN) {
      // on_disconnect has said a loss of a working link; this is a link that never worked.
      bool connected;
      {
        std::lock_guard<std::mutex> hold(s.lock);
        connected = s.connected;
        s.connected = false;
      }
      if (!connected) say_unreachable(s, e);
    }
    if (pause_network(s)) break;
  }
  std::lock_guard<std::mutex> hold(s.lock);
  s.network_done = true;
  s.changed.notify_all();
}

std::string mqtt_start(MqttSink& sink, const MqttOptions& options,
                       std::function<void(const std::string& line)> say) {
  static const int initialised = mosquitto_lib_init();  // once per process, as it requires
  if (initialised != MOSQ_ERR_SUCCESS) return "libmosquitto could not be initialised";
  sink.state = std::make_unique<MqttState>();
  MqttState& s = *sink.state;
  s.options = options;
  s.say = std::move(say);
  s.where = (options.url.host.find(':') != std::string::npos ? "[" + options.url.host + "]"
                                                             : options.url.host) +
            ":" + std::to_string(options.url.port);
  s.availability = options.url.prefix + "/availability";
  // A name of its own per run: two readers never push each other off the broker.
  const std::string client =
      "tavrel-" + mqtt_topic_word(options.host_name).substr(0, 10) + "-" + std::to_string(getpid());
  s.mosq = mosquitto_new(client.c_str(), true, &s);
  if (!s.mosq) return "libmosquitto could not make a client";
  s.network_done = true;  // until the thread runs
  const MqttUrl& url = options.url;
  int e = mosquitto_threaded_set(s.mosq, true);
  if (e == MOSQ_ERR_SUCCESS && url.tls)
    e = mosquitto_int_option(s.mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
  if (e == MOSQ_ERR_SUCCESS && !url.user.empty())
    e = mosquitto_username_pw_set(s.mosq, url.user.c_str(),
                                  url.password.empty() ? nullptr : url.password.c_str());
  if (e == MOSQ_ERR_SUCCESS)
    e = mosquitto_will_set(s.mosq, s.availability.c_str(), 7, "offline", 1, true);
  if (e != MOSQ_ERR_SUCCESS) return std::string("MQTT: ") + mosquitto_strerror(e);
  mosquitto_connect_callback_set(s.mosq, on_connect);
  mosquitto_disconnect_callback_set(s.mosq, on_disconnect);
  mosquitto_publish_callback_set(s.mosq, on_publish);
  mosquitto_log_callback_set(s.mosq, on_log);
  s.network_done = false;
  s.network = std::thread(network_run, std::ref(s));
  return "";
}

void mqtt_scan(MqttSink& sink, const std::string& reader, const std::string& json,
               const std::string& tag_id) {
  MqttState& s = *sink.state;
  std::unique_lock<std::mutex> hold(s.lock);
  std::string line;
  if (s.queue.size() >= s.options.queue_limit) {
    // The oldest waiting scan goes; one in flight stays, as the broker may have it.
    const auto oldest = s.queue.begin() + (s.in_flight ? 1 : 0);
    if (!s.overflowing) {
      line = "MQTT queue full (" + std::to_string(s.options.queue_limit) +
             " scans while the broker " + s.where + " is away): dropping the oldest, from tag " +
             oldest->tag_id + " on";
    }
    s.overflowing = true;
    ++s.dropped;
    s.queue.erase(oldest);
  }
  s.queue.push_back({s.options.url.prefix + "/" + reader + "/scan", json, tag_id});
  send_next(s);
  hold.unlock();
  if (!line.empty()) s.say(line);
}

int64_t mqtt_end(MqttSink& sink, Clock::time_point deadline) {
  MqttState& s = *sink.state;
  std::unique_lock<std::mutex> hold(s.lock);
  if (!s.network.joinable()) return 0;
  s.changed.wait_until(hold, deadline, [&] { return s.queue.empty(); });
  const auto unsent = static_cast<int64_t>(s.queue.size());
  if (s.connected) {
    s.offline_done = false;
    mosquitto_publish(s.mosq, &s.offline_mid, s.availability.c_str(), 7, "offline", 1, true);
    s.changed.wait_until(hold, deadline, [&] { return s.offline_done || !s.connected; });
  }
  if (s.connected) {
    // A clean DISCONNECT, so that the broker keeps the will to itself.
    mosquitto_disconnect(s.mosq);
    s.changed.wait_until(hold,
                         std::max(deadline, Clock::now() + std::chrono::milliseconds(poll_ms)),
                         [&] { return !s.connected; });
  }
  s.quit.store(true);
  s.changed.notify_all();
  s.changed.wait_for(hold, std::chrono::milliseconds(leave_ms), [&] { return s.network_done; });
  const bool ended = s.network_done;
  const int64_t dropped = s.dropped;
  hold.unlock();
  if (ended) {
    s.network.join();
  } else {
    s.network.detach();  // stuck resolving the broker's name: it keeps the client
  }
  if (unsent > 0) {
    s.say(std::to_string(unsent) + " scan" + (unsent == 1 ? "" : "s") +
          " could not be sent to the MQTT broker " + s.where);
  }
  return unsent + dropped;
}

}  // namespace tavrel
