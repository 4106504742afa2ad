// The parts of an unattended reader that are plain data: the --mqtt URL and the choice of
// a capture device by name.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/live_alsa.hpp"
#include "report/mqtt_sink.hpp"

namespace tavrel {
namespace {

TEST(MqttUrl, TakesEveryPartAndRefusesWhatNoBrokerCouldMean) {
  struct Row {
    const char* url;
    const char* env_password;  ///< TAVREL_MQTT_PASSWORD, or null when unset
    const char* error;         ///< a part of the message, or null for a URL that parses
    bool tls = false;
    const char* user = "";
    const char* password = "";
    const char* host = "";
    int32_t port = 0;
    const char* prefix = "";  ///< "": not looked at
  };
  const Row rows[] = {
      {"mqtt://broker", nullptr, nullptr, false, "", "", "broker", 1883, "tavrel/door_pc_1"},
      {"mqtts://broker", nullptr, nullptr, true, "", "", "broker", 8883, "tavrel/door_pc_1"},
      {"mqtt://u:p@10.0.0.2:1884/home/door/", nullptr, nullptr, false, "u", "p", "10.0.0.2", 1884,
       "home/door"},
      {"mqtt://a%40b:p%3A%2f@h", nullptr, nullptr, false, "a@b", "p:/", "h", 1883, ""},
      {"mqtt://p@ss@h", nullptr, nullptr, false, "p@ss", "", "h", 1883, ""},  // the last @
      {"mqtt://u@h", "secret", nullptr, false, "u", "secret", "h", 1883, ""},
      {"mqtt://u:given@h", "secret", nullptr, false, "u", "given", "h", 1883, ""},
      {"mqtts://[::1]:8884/x", nullptr, nullptr, true, "", "", "::1", 8884, "x"},
      {"mqtt://h", "secret", "names no user"},
      {"http://h", nullptr, "mqtt:// or mqtts://"},
      {"MQTT:/h", nullptr, "mqtt:// or mqtts://"},
      {"mqtt://", nullptr, "no host"},
      {"mqtt://u@", nullptr, "no host"},
      {"mqtt://:p@h", nullptr, "user name is empty"},
      {"mqtt://u:@h", nullptr, "password after the : is empty"},
      {"mqtt://u%4@h", nullptr, "broken %XX escape"},
      {"mqtt://h:0", nullptr, "1 to 65535, not 0"},
      {"mqtt://h:65536", nullptr, "1 to 65535, not 65536"},
      {"mqtt://h:1883x", nullptr, "not 1883x"},
      {"mqtt://h:", nullptr, "no port after it"},
      {"mqtt://::1", nullptr, "goes in brackets"},
      {"mqtt://[::1", nullptr, "closing ]"},
      {"mqtt://[::1]x", nullptr, ":PORT or nothing"},
      {"mqtt://h?retain=1", nullptr, "no ?query"},
      {"mqtt://h/a/+/b", nullptr, "wildcard"},
      {"mqtt://h/a#", nullptr, "wildcard"},
      {"mqtt://h/a//b", nullptr, "empty level"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    MqttUrl url;
    const std::string error = mqtt_parse_url(row.url, "door+pc#1", row.env_password, url);
    if (row.error) {
      EXPECT_NE(error.find(row.error), std::string::npos) << error;
      continue;
    }
    ASSERT_EQ(error, "");
    EXPECT_EQ(url.tls, row.tls);
    EXPECT_EQ(url.user, row.user);
    EXPECT_EQ(url.password, row.password);
    EXPECT_EQ(url.host, row.host);
    EXPECT_EQ(url.port, row.port);
    if (*row.prefix) {
      EXPECT_EQ(url.prefix, row.prefix);
    }
  }
}

TEST(CaptureDevice, NamesGoToAlsaAndPartsOfACardNameToItsPlugDevice) {
  const std::vector<CaptureCard> cards = {
      {0, "PCH", "HDA Intel PCH", "HDA Intel PCH at 0xf7f10000 irq 32", {0, 2}, {"ALC892", "Alt"}},
      {1,
       "Device",
       "USB Audio Device",
       "C-Media Electronics Inc. USB Audio Device at usb-1",
       {0},
       {"USB Audio"}},
      {2, "HDMI", "HDA ATI HDMI", "HDA ATI HDMI at 0xf7e40000 irq 33", {}, {}},
      {3, "Device_1", "USB Audio Device", "Generic USB Audio Device at usb-2", {1}, {"USB Audio"}},
  };
  struct Row {
    const char* device;
    bool defined;     ///< ALSA's configuration defines the name
    const char* pcm;  ///< what is opened, or null
    const char* error;
  };
  const Row rows[] = {
      {"default", true, "default", nullptr},
      {"hw:1,0", false, "hw:1,0", nullptr},  // arguments: ALSA's to judge
      {"pch", false, "plughw:CARD=PCH,DEV=0", nullptr},
      {"c-media", false, "plughw:CARD=Device,DEV=0", nullptr},
      {"Generic", false, "plughw:CARD=Device_1,DEV=1", nullptr},
      {"device", false, "plughw:CARD=Device,DEV=0", nullptr},  // its own short name wins
      {"USB", false, nullptr, "fits several sound cards: USB Audio Device (card 1, Device), USB"},
      {"HDMI", false, nullptr, "has no capture device"},
      {"Scarlett", false, nullptr, "no capture device or sound card is named \"Scarlett\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.device);
    std::string pcm;
    const std::string error = resolve_capture_device(row.device, row.defined, cards, pcm);
    if (row.error) {
      EXPECT_NE(error.find(row.error), std::string::npos) << error;
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ(pcm, row.pcm);
    }
  }
}

}  // namespace
}  // namespace tavrel
