#!/usr/bin/env bash
# The Linux program on PipeWire, as current desktops run it: a private PipeWire and
# WirePlumber whose default source is a pipe, reached through PipeWire's own ALSA plugin.
# The capture must get the fed samples unchanged, and the program must log a recording's
# reads byte for byte as it does through PulseAudio.
#
# Debian 12's pipewire-alsa cannot be installed beside pulseaudio, so its plugin is
# unpacked from the package into the build folder (fetched once with apt-get download)
# and named in a private ALSA configuration: nothing on the machine changes.
set -u
here=$(cd "$(dirname "$0")" && pwd)
PROGRAM="$TAVREL_BUILD/app/tavrel"
PROGRAM_NAME=tavrel-pipewire
[ -x "$PROGRAM" ] || { echo "no $PROGRAM"; exit 1; }
source "$here/program_lib.sh"
source "$here/capture_common.sh"

pw=$E2E_WORK/pipewire
mkdir -p -m 700 "$pw" "$pw/xdg"
servers=()
stop_servers() {
  stop_all
  for ((i = ${#servers[@]} - 1; i >= 0; i--)); do kill "${servers[i]}" 2>/dev/null; done
  wait 2>/dev/null
  servers=()
}
trap stop_servers EXIT

# The folder holding libasound_module_pcm_pipewire.so: the system's when pipewire-alsa is
# installed, else the package's, unpacked under the build folder.
plugin_dir() {
  local so=libasound_module_pcm_pipewire.so
  for f in /usr/lib/*/alsa-lib/$so; do
    [ -f "$f" ] && { dirname "$f"; return 0; }
  done
  local cache=$TAVREL_BUILD/pipewire-alsa
  if ! compgen -G "$cache/root/usr/lib/*/alsa-lib/$so" >/dev/null; then
    mkdir -p "$cache" && rm -rf "$cache/root" "$cache"/*.deb
    # The plugin must match the installed PipeWire library exactly.
    local version
    version=$(dpkg-query -W -f='${Version}' libpipewire-0.3-0)
    (cd "$cache" && { apt-get download -q "pipewire-alsa=$version" ||
      apt-get download -q pipewire-alsa; }) >"$cache/download.log" 2>&1 ||
      { cat "$cache/download.log" >&2; return 1; }
    dpkg-deb -x "$cache"/pipewire-alsa_*.deb "$cache/root" || return 1
  fi
  dirname "$(compgen -G "$cache/root/usr/lib/*/alsa-lib/$so" | head -n 1)"
}

lib=$(plugin_dir) || fail "no PipeWire ALSA plugin"
echo "PipeWire's ALSA plugin from $lib"
mkdir -p "$pw/config/pipewire/pipewire.conf.d" "$pw/home"
# The pipe source is loaded from the configuration: one loaded with pw-cli would go
# away when pw-cli exits.
cat >"$pw/config/pipewire/pipewire.conf.d/tag-source.conf" <<CONF
context.modules = [
  { name = libpipewire-module-pipe-tunnel
    args = { tunnel.mode = source pipe.filename = "$pw/xdg/tag.fifo"
             audio.format = U8 audio.rate = $sample_rate audio.channels = 2 audio.position = [ FL FR ]
             stream.props = { node.name = tag media.class = Audio/Source } } }
]
CONF
# What pipewire-alsa's own configuration says, with the plugin's path spelled out.
cat >"$pw/home/.asoundrc" <<CONF
pcm_type.pipewire { lib "$lib/libasound_module_pcm_pipewire.so" }
ctl_type.pipewire { lib "$lib/libasound_module_ctl_pipewire.so" }
pcm.!default { type pipewire playback_node "-1" capture_node "-1" }
ctl.!default { type pipewire }
CONF
export XDG_RUNTIME_DIR=$pw/xdg XDG_CONFIG_HOME=$pw/config TAG_FIFO=$pw/xdg/tag.fifo
# WirePlumber, which picks the default source, needs a session bus.
read -r bus_address bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
  tr '\n' ' ')
[ -n "${bus_pid:-}" ] || fail "no session bus"
servers+=("$bus_pid")
export DBUS_SESSION_BUS_ADDRESS=$bus_address
pipewire >"$pw/pipewire.log" 2>&1 &
servers+=($!)
wireplumber >"$pw/wireplumber.log" 2>&1 &
servers+=($!)
tag_node() { wpctl status 2>/dev/null | grep -oE '[0-9]+\. tag ' | head -n 1 | cut -d. -f1; }
# Up to 30 s: WirePlumber can take long to start on a loaded machine.
for _ in $(seq 300); do
  node=$(tag_node)
  [ -n "$node" ] && wpctl set-default "$node" 2>/dev/null &&
    wpctl inspect @DEFAULT_AUDIO_SOURCE@ 2>/dev/null | grep -q 'node.name = "tag"' && break
  node=
  sleep 0.1
done
[ -n "$node" ] || { tail -n 5 "$pw"/*.log >&2; fail "PipeWire's default source is not the pipe"; }
# No way back to PulseAudio: the plugin must carry the sound.
client=(HOME="$pw/home" PULSE_SERVER=unix:/nonexistent)

echo "the capture gets the fed samples unchanged, a block every 250 ms"
out=$E2E_WORK/capture_pipewire.out
# PipeWire's pipe source plays silence while its pipe is empty, so the blocks before the
# pattern arrives are not judged.
capture_with_pattern "$out" "$TAVREL_BUILD/tests/e2e/tag_feed" \
  env "${client[@]}" "$TAVREL_BUILD/tests/e2e/capture_smoke" 16 4 || fail "capture"
check_capture_output "$out" 16 || fail "capture"

echo "a recording made by tavrel-gen, played in: the log byte for byte"
recording=$E2E_WORK/pipewire-gen.raw
"$TAVREL_BUILD/cli/tavrel-gen" -o "$recording" -s 1.5 --gap 0.5 --noise 0.03 --jitter 1 \
  8400043916 00ABCD0042 >/dev/null || fail "tavrel-gen failed"
start_program "${client[@]}"
feed silence:0.5 "file:$recording" silence:1
# The step after the file starts once the file is written; its last reads come within a
# block or two of that, and then the log stands still.
for _ in $(seq 150); do
  grep -q ' silence:1$' "$feed_log" && break
  sleep 0.1
done
size=-1
for _ in $(seq 30); do
  [ "$(stat -c %s "$prog_out")" -eq "$size" ] && break
  size=$(stat -c %s "$prog_out")
  sleep 0.6
done
close_program 2
stop_feed
expect_reads 4.14614 43981.66
