#!/usr/bin/env bash
# tavrel-decode --mqtt against a private mosquitto:
#   - a stream of six tags, the broker stopped after the second scan and started again
#     after two more reads: every presentation arrives once (a repeat of the same message
#     aside, as QoS 1 allows), in order, as the JSON object written on standard output,
#     not retained; the loss and the return are said; availability ends "offline";
#   - Home Assistant's discovery is retained, names the scan topic and a device, and its
#     value_template (rendered with Jinja, as Home Assistant does) gives each scan's tag ID;
#   - a reader killed outright leaves "offline" through its will; --no-discovery sends none;
#   - mqtts:// trusts what the system's certificate authorities vouch for (here the file
#     SSL_CERT_FILE names, which OpenSSL takes for the system store) and nothing else.
set -uo pipefail
source "$(dirname "$0")/capture_common.sh"
source "$(dirname "$0")/mosquitto.sh"
decode=$TAVREL_BUILD/cli/tavrel-decode
feeder=$TAVREL_BUILD/tests/e2e/tag_feed
work=$E2E_WORK/decode_mqtt
rm -rf "$work" && mkdir -p "$work"
carried=$work/carried  # RETAIN<tab>TOPIC<tab>PAYLOAD, all the broker carried
feed_pid=
decode_pid=
broker_pid=
recorder_pid=

cleanup() {
  stop_recorder
  kill "$decode_pid" "$feed_pid" "$broker_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in out err carried broker/mosquitto.log; do
    echo "--- $f:" >&2
    cut -c1-200 "$work/$f" >&2
  done
  exit 1
}

carries() { grep -qP "$1" "$carried"; }
# The recorder is subscribed once a message sent now reaches it.
recording() {
  mosquitto_pub -h 127.0.0.1 -p "$broker_port" -q 1 -t e2e/ready -m "$1" 2>/dev/null &&
    carries "e2e/ready\t$1\$"
}
lines_in() { [ "$(grep -c . "$2")" -ge "$1" ]; }
# The one retained message on topic $1, as "RETAIN<tab>PAYLOAD".
retained() {
  mosquitto_sub -h 127.0.0.1 -p "$broker_port" -t "$1" -C 1 -W 5 -F '%r\t%p' 2>/dev/null
}

python3 -c 'import jinja2' 2>/dev/null || fail "python3-jinja2 is missing (./dev.sh test installs it)"
make_broker "$work/broker"
start_broker || fail "mosquitto did not start"
record_broker "$carried"
await 50 recording "$$" || fail "the recorder did not subscribe"

# The broker goes away in the middle of a stream.
tags=(8400043916 0102030405 1F0044DE9C 19004F246F 29004F72FB 0400193CBE)
steps=(silence:0.3)
for tag in "${tags[@]}"; do steps+=("tag:$tag:0.5" silence:0.5); done
mkfifo "$work/stream"
"$feeder" --stop "$work/stream" "${steps[@]}" silence:3 2>/dev/null &
feed_pid=$!
"$decode" --raw --robust --json --mqtt "mqtt://127.0.0.1:$broker_port/e2e/door" "$work/stream" \
  >"$work/out" 2>"$work/err" &
decode_pid=$!
await 60 carries "e2e/door/right/scan\t.*\"id\":\"${tags[1]}\"" || fail "no second scan"
kill -TERM "$broker_pid"
await 50 ended "$broker_pid" || fail "mosquitto did not stop"
wait "$broker_pid"
await 60 quiet grep -q "\"id\":\"${tags[3]}\"" "$work/out" || fail "no fourth read while away"
start_broker || fail "mosquitto did not start again"
await 200 ended "$decode_pid" || fail "tavrel-decode did not end with its stream"
wait "$decode_pid"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
grep -q "MQTT broker 127.0.0.1:$broker_port lost" "$work/err" || fail "the loss was not said"
grep -q "MQTT broker 127.0.0.1:$broker_port connected" "$work/err" || fail "the return was not said"

# Each presentation's first line, as written, against the scans carried, repeats aside.
awk -F'"id":"' '{ split($2, a, "\""); if (a[1] != last) print; last = a[1] }' "$work/out" \
  >"$work/presentations"
grep -qP '^1\te2e/door/right/scan\t' "$carried" && fail "a scan was retained"
grep -P '^0\te2e/door/right/scan\t' "$carried" | cut -f3- | uniq >"$work/scans"
diff "$work/presentations" "$work/scans" >&2 || fail "scans lost, out of order or not as written"
[ "$(grep -c . "$work/scans")" -eq ${#tags[@]} ] || fail "not one scan per tag"
echo "   ${#tags[@]} presentations, ${#tags[@]} scans in order across a broker restart"

[ "$(retained e2e/door/availability)" = "$(printf '1\toffline')" ] ||
  fail "the retained availability is not offline"
retained homeassistant/tag/e2e_door_right/config | cut -f2- >"$work/discovery"
version=$("$decode" --version | cut -d' ' -f2)
python3 - "$work/discovery" "$work/scans" "$version" <<'EOF' || fail "discovery"
import json, sys, jinja2
config = json.load(open(sys.argv[1]))
assert config["topic"] == "e2e/door/right/scan", config
device = config["device"]
assert device["identifiers"] and device["name"], device
assert device["model"] == "tavrel-decode" and device["sw_version"] == sys.argv[3], device
template = jinja2.Environment().from_string(config["value_template"])
for line in open(sys.argv[2]):
    scan = json.loads(line)
    assert template.render(value_json=scan) == scan["id"], (template.render(value_json=scan), scan)
# A family other than EM4100 gives FAMILY:NUMBER.
other = template.render(value_json={"family": "hid", "number": "12:34567"})
assert other == "hid:12:34567", other
EOF
echo "   discovery retained; its value_template gives each scan's tag ID"

# Killed outright: the broker sends the will. No discovery was asked for.
"$feeder" "$work/stream" silence:1 2>/dev/null &
feed_pid=$!
"$decode" --raw --robust --no-discovery --mqtt "mqtt://127.0.0.1:$broker_port/e2e/will" \
  "$work/stream" >/dev/null 2>"$work/err" &
decode_pid=$!
disown "$decode_pid"  # killed on purpose: no news for the script's output
await 50 carries "^0\te2e/will/availability\tonline" || fail "no online"
kill -KILL "$decode_pid"
await 50 carries "^0\te2e/will/availability\toffline" || fail "no offline from the will"
carries "homeassistant/tag/e2e_will" && fail "discovery sent with --no-discovery"
echo "   the will says offline; --no-discovery sends none"

# TLS against a broker of its own, with a certificate from an authority made here.
kill -TERM "$broker_pid"
wait "$broker_pid"
tls=$work/tls
mkdir -p "$tls"
{
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tls/ca.key" -out "$tls/ca.pem" -days 1 \
    -subj "/CN=Tavrel e2e authority" &&
    openssl req -newkey rsa:2048 -nodes -keyout "$tls/broker.key" -out "$tls/broker.csr" \
      -subj /CN=localhost &&
    openssl x509 -req -in "$tls/broker.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" \
      -CAcreateserial -out "$tls/broker.pem" -days 1 \
      -extfile <(printf 'subjectAltName=DNS:localhost\n')
} >/dev/null 2>&1 || fail "openssl could not make the certificates"
make_broker "$tls"
printf 'cafile %s\ncertfile %s\nkeyfile %s\n' "$tls/ca.pem" "$tls/broker.pem" "$tls/broker.key" \
  >>"$tls/mosquitto.conf"
start_broker || fail "mosquitto with TLS did not start"
"$TAVREL_BUILD/cli/tavrel-gen" -q -o "$work/tag.wav" -s 1 "${tags[0]}" || fail "tavrel-gen"
url=mqtts://localhost:$broker_port/e2e/tls
SSL_CERT_FILE=$tls/ca.pem "$decode" -q --robust --mqtt "$url" "$work/tag.wav" >/dev/null 2>"$work/err" ||
  fail "exit status $? over TLS with a trusted certificate"
[ "$(mosquitto_sub -h localhost -p "$broker_port" --cafile "$tls/ca.pem" -t e2e/tls/availability \
  -C 1 -W 5 2>/dev/null)" = offline ] || fail "nothing reached the broker over TLS"
"$decode" -q --robust --mqtt "$url" "$work/tag.wav" >/dev/null 2>"$work/err" &&
  fail "an unknown certificate was trusted"
grep -q "certificate verify failed" "$work/err" || fail "the refused certificate was not said"
echo "   mqtts:// sends to a broker the authorities vouch for, and refuses another"
