#!/usr/bin/env bash
# The five LV2 plugins running in a real-time host: jackd with the dummy
# driver (48 kHz, 64-frame periods, no sound card) and each effect a JACK
# client of its own (jalv), chained Delay -> PingPongDelay -> Chorus ->
# Flanger -> Vibrato, fed a tone (jack_metro) and recorded at the end of the
# chain (jack_rec). Beside it, in the same run, the same graph with no
# effects (what the source, the recorder and the server cost) and a chain of
# Debian-packaged peers (Calf Studio Gear). For each: JACK's DSP load
# (jack_cpu_load, once a second) and the xruns the server logs; a Markdown
# table at the end.
#
#   scripts/bench-jack.sh [--short] [--no-install] [--update-docs] [BUILD_DIR]
#
#   --short        3 s per chain, one round, no empty-graph round (the test)
#   --no-install   do not call scripts/setup.sh; a missing tool skips (exit 77)
#   --update-docs  rewrite the JACK section of docs/benchmarks.md
#   BUILD_DIR      a configured build tree; default build/jack (configured
#                  and built here, the LV2 target only)
#
# Environment: RUN_SECONDS (per chain and round, default 20), ROUNDS
# (default 3; the chains take turns within a round), REALTIME=1 or 0 (jackd
# -R or --no-realtime; by default -R where this user may use SCHED_FIFO).
# Without realtime scheduling, jackd 1.9.21 can stall its graph for good
# once a client has been late (every cycle a "Process error"); a chain whose
# window stalls is run once more on a fresh server before it counts as a
# fault.
#
# Exit status: 0 measured; 1 our chain did not run (a plugin failed to load,
# no audio came out, jackd did not start); 77 jackd, jalv or a JACK tool is
# not installed (with --no-install).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
short=0
install=1
update_docs=0
build_dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --short) short=1 ;;
    --no-install) install=0 ;;
    --update-docs) update_docs=1 ;;
    -h | --help)
      sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "bench-jack: unknown option $1" >&2
      exit 2
      ;;
    *) build_dir=$1 ;;
  esac
  shift
done

if [ "$short" -eq 1 ]; then
  run_seconds=${RUN_SECONDS:-3}
  rounds=${ROUNDS:-1}
else
  run_seconds=${RUN_SECONDS:-20}
  rounds=${ROUNDS:-3}
fi

say() { echo "bench-jack: $*" >&2; }
fail() {
  say "FAILED: $*"
  exit 1
}

# Tools: jackd2 ships the server and the example clients (jack_lsp,
# jack_connect, jack_cpu_load, jack_metro, jack_rec, jack_wait); jalv hosts
# one LV2 plugin as a JACK client; sox reads the recording back.
tools=(jackd jalv jack_lsp jack_connect jack_cpu_load jack_metro jack_rec jack_wait sox)
if [ "$install" -eq 1 ]; then
  "$root/scripts/setup.sh" jackd2 jalv
fi
for tool in "${tools[@]}"; do
  if ! command -v "$tool" > /dev/null; then
    say "skipped: $tool is not installed (scripts/setup.sh jackd2 jalv installs it)"
    exit 77
  fi
done

if [ -z "$build_dir" ]; then
  build_dir=$root/build/jack
  if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_WERROR=ON > /dev/null
  fi
  cmake --build "$build_dir" --target quorvel-lv2 > /dev/null
fi
bundle_parent=$(cd "$build_dir" && pwd)/lib/lv2
[ -f "$bundle_parent/quorvel-fx.lv2/manifest.ttl" ] ||
  fail "no LV2 bundle at $bundle_parent/quorvel-fx.lv2 (build the quorvel-lv2 target)"

work=$(mktemp -d "${TMPDIR:-/tmp}/bench-jack.XXXXXX")
jackd_pid=""
clients=()

# Ends processes of ours: politely first, then for good. A JACK client can
# hang in jack_client_close when the server's graph has stalled, so nobody
# gets more than three seconds.
end_processes() {
  local pid _ alive
  for pid in "$@"; do kill "$pid" 2> /dev/null || true; done
  for _ in $(seq 30); do
    alive=0
    for pid in "$@"; do
      if kill -0 "$pid" 2> /dev/null; then alive=1; fi
    done
    [ "$alive" -eq 1 ] || break
    sleep 0.1
  done
  for pid in "$@"; do kill -KILL "$pid" 2> /dev/null || true; done
  for pid in "$@"; do wait "$pid" 2> /dev/null || true; done
}
# The clients first and the server last, so that no client is left waiting
# on a server that has gone; then the recordings and logs.
stop_clients() {
  [ "${#clients[@]}" -eq 0 ] || end_processes "${clients[@]}"
  clients=()
}
cleanup() {
  stop_clients
  [ -z "$jackd_pid" ] || end_processes "$jackd_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A server of our own, never one that is already running, and no client may
# start one behind our back with the default settings.
export JACK_NO_START_SERVER=1
export JACK_DEFAULT_SERVER=quorvel-bench-$$-$RANDOM
export LV2_PATH=$bundle_parent:$HOME/.lv2:/usr/local/lib/lv2:/usr/lib/lv2

rate=48000
period=64
realtime=${REALTIME:-}
if [ -z "$realtime" ]; then
  realtime=0
  if chrt -f 1 true 2> /dev/null; then realtime=1; fi
fi
if [ "$realtime" = 1 ]; then
  scheduling=(--realtime)
  scheduling_note="realtime scheduling (jackd -R)"
else
  scheduling=(--no-realtime)
  scheduling_note="no realtime scheduling (jackd --no-realtime)"
fi
jackd_log=$work/jackd.log
start_server() {
  : > "$jackd_log"
  jackd "${scheduling[@]}" -n "$JACK_DEFAULT_SERVER" -d dummy -r "$rate" -p "$period" \
    > "$jackd_log" 2>&1 < /dev/null &
  jackd_pid=$!
  if ! jack_wait -w -t 10 > /dev/null 2>&1 || ! kill -0 "$jackd_pid" 2> /dev/null; then
    cat "$jackd_log" >&2
    fail "jackd did not start"
  fi
}
restart_server() {
  stop_clients
  end_processes "$jackd_pid"
  jackd_pid=""
  start_server
}
start_server

# The audio ports of one client, in the order the client registered them:
# audio_ports <client> input|output
audio_ports() {
  jack_lsp -p -t | awk -v client="$1:" -v dir="$2" '
    function flush() {
      if (index(port, client) == 1 && audio && props ~ ("[ ,]" dir ",")) print port
    }
    /^[^\t]/ { flush(); port = $0; props = ""; audio = 0; next }
    /^\tproperties:/ { props = $0; next }
    /audio$/ { audio = 1 }
    END { flush() }'
}

# Starts one jalv per plugin and waits until each has its ports up; a
# plugin that exits or never shows its ports is named in $start_error.
# start_chain <entry>...   entry: "<client name> <uri> [symbol=value ...]"
start_chain() {
  local entry name uri words controls c pid deadline
  start_error=""
  chain_names=()
  for entry in "$@"; do
    read -r -a words <<< "$entry"
    name=${words[0]}
    uri=${words[1]}
    controls=()
    for c in "${words[@]:2}"; do controls+=(-c "$c"); done
    # -i: jalv's console would otherwise read commands from standard input
    # and stop at its end.
    jalv -i -x -n "$name" "${controls[@]}" "$uri" > "$work/$name.log" 2>&1 < /dev/null &
    clients+=($!)
    chain_names+=("$name")
  done
  local i=0
  deadline=$((SECONDS + 20))
  for name in "${chain_names[@]}"; do
    pid=${clients[$((${#clients[@]} - ${#chain_names[@]} + i))]}
    i=$((i + 1))
    until [ -n "$(audio_ports "$name" output)" ]; do
      if ! kill -0 "$pid" 2> /dev/null || [ "$SECONDS" -ge "$deadline" ]; then
        start_error="$name did not load: $(tr '\n' ' ' < "$work/$name.log")"
        return 0
      fi
      sleep 0.2
    done
    if grep -q "Ignoring value for unknown control" "$work/$name.log"; then
      start_error="$name: $(grep "unknown control" "$work/$name.log" | tr '\n' ' ')"
      return 0
    fi
  done
}

# Connects a's outputs to b's inputs in order; a mono output feeds every input.
connect() {
  local outs ins i
  mapfile -t outs < <(audio_ports "$1" output)
  mapfile -t ins < <(audio_ports "$2" input)
  [ "${#outs[@]}" -gt 0 ] && [ "${#ins[@]}" -gt 0 ] || return 1
  for i in "${!ins[@]}"; do
    jack_connect "${outs[$((i < ${#outs[@]} ? i : ${#outs[@]} - 1))]}" "${ins[$i]}"
  done
}

xrun_lines() { grep -c "XRun" "$jackd_log" || true; }

# One measured window of a chain: the tone into its first plugin, the
# recorder on its last, jack_cpu_load beside them for run_seconds.
# measure <label> <entry>...   (no entries: the source straight into the
# recorder). Appends the load samples and xruns to $work/<label>.*; on a
# fault sets $measure_error.
measure() {
  local label=$1
  shift
  measure_error=""
  stalled=0
  local source=bench-tone
  jack_metro -n "$source" -b 600 -f 440 -D 50 -A 0.5 > "$work/$source.log" 2>&1 < /dev/null &
  clients+=($!)
  local deadline=$((SECONDS + 10))
  until [ -n "$(audio_ports "$source" output)" ]; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      measure_error="jack_metro did not start"
      stop_clients
      return 0
    fi
    sleep 0.2
  done

  start_chain "$@"
  if [ -n "$start_error" ]; then
    measure_error=$start_error
    stop_clients
    return 0
  fi
  local previous=$source name
  for name in "${chain_names[@]}"; do
    connect "$previous" "$name" || measure_error="cannot connect $previous to $name"
    previous=$name
  done
  local last_outs
  mapfile -t last_outs < <(audio_ports "$previous" output)
  [ "${#last_outs[@]}" -eq 1 ] && last_outs+=("${last_outs[0]}")

  local recording=$work/$label.wav before after
  # Let the graph settle (the clients' first cycles page in their buffers).
  sleep 1
  before=$(xrun_lines)
  jack_cpu_load > "$work/$label.cpu" 2>&1 < /dev/null &
  local cpu_pid=$!
  clients+=("$cpu_pid")
  jack_rec -f "$recording" -d "$run_seconds" "${last_outs[@]:0:2}" > "$work/$label.rec.log" 2>&1 < /dev/null &
  local rec_pid=$!
  clients+=("$rec_pid")
  sleep "$run_seconds"
  # jack_rec stops after its duration of frames; on a stalled graph it never
  # gets them, and the short recording tells below.
  local _
  for _ in $(seq 50); do
    kill -0 "$rec_pid" 2> /dev/null || break
    sleep 0.1
  done
  end_processes "$rec_pid"
  kill -INT "$cpu_pid" 2> /dev/null || true
  wait "$cpu_pid" 2> /dev/null || true
  after=$(xrun_lines)

  # The first sample covers the recorder's start; the rest are the steady state.
  awk 'match($0, /DSP load [0-9.]+/) { print substr($0, RSTART + 9, RLENGTH - 9) }' \
    "$work/$label.cpu" | tail -n +2 > "$work/$label.window"

  # The whole window went through the graph (a stalled graph records less),
  # and both channels of the recording carry the tone.
  local length ch rms
  length=$(sox --i -D "$recording" 2> /dev/null || echo 0)
  if awk -v l="$length" -v want="$run_seconds" 'BEGIN { exit !(l < want * 0.9) }'; then
    measure_error="the graph stalled: $length s recorded of $run_seconds s"
    stalled=1
  fi
  for ch in 1 2; do
    rms=$({ sox "$recording" -n remix "$ch" stat 2>&1 || true; } | awk '/RMS +amplitude/ { print $3 }')
    if ! awk -v r="${rms:-0}" 'BEGIN { exit !(r > 0.001) }'; then
      measure_error="no audio came out of the chain (channel $ch RMS ${rms:-none}; $(tr '\n' ' ' < "$work/$label.rec.log"))"
    fi
  done
  stop_clients
  if [ -z "$measure_error" ]; then
    # Only a window that ran counts.
    cat "$work/$label.window" >> "$work/$label.loads"
    echo $((after - before)) >> "$work/$label.xruns"
    echo "$run_seconds" >> "$work/$label.seconds"
  fi
}

# measure, and once more on a fresh server if the graph stalled.
measure_chain() {
  measure "$@"
  if [ "$stalled" -eq 1 ]; then
    say "$1: $measure_error; once more on a fresh server"
    restart_server
    measure "$@"
  fi
}

q=https://quorvel.example/plugins
ours=(
  "qv-delay $q/delay"
  "qv-ping-pong-delay $q/ping-pong-delay"
  "qv-chorus $q/chorus"
  "qv-flanger $q/flanger"
  "qv-vibrato $q/vibrato"
)
# Calf's Vintage Delay in its stereo and ping-pong modes, Multi Chorus,
# Flanger, and Multi Chorus with one voice and no dry signal for the vibrato
# (Debian packages no LV2 vibrato): all stereo, as ours are.
c=http://calf.sourceforge.net/plugins
peers=(
  "peer-delay $c/VintageDelay mix_mode=0"
  "peer-ping-pong-delay $c/VintageDelay mix_mode=1"
  "peer-chorus $c/MultiChorus"
  "peer-flanger $c/Flanger"
  "peer-vibrato $c/MultiChorus voices=1 dry=0"
)
peers_note="Calf Studio Gear (calf-plugins): VintageDelay (stereo), VintageDelay (ping-pong), MultiChorus, Flanger, MultiChorus (1 voice, wet only)"
with_peers=1
if ! [ -f /usr/lib/lv2/calf.lv2/manifest.ttl ]; then
  with_peers=0
  say "calf-plugins is not installed: our chain only (scripts/setup.sh calf-plugins adds the peers)"
fi
peer_error=""

say "server $JACK_DEFAULT_SERVER: dummy driver, $rate Hz, $period frames, $scheduling_note; $rounds round(s) of $run_seconds s per chain"
for round in $(seq 1 "$rounds"); do
  if [ "$short" -eq 0 ]; then
    say "round $round: no effects"
    measure_chain floor
    [ -z "$measure_error" ] || fail "the empty graph: $measure_error"
  fi
  say "round $round: quorvel-fx"
  measure_chain ours "${ours[@]}"
  [ -z "$measure_error" ] || fail "our chain: $measure_error"
  if [ "$with_peers" -eq 1 ] && [ -z "$peer_error" ]; then
    say "round $round: peers"
    measure_chain peers "${peers[@]}"
    if [ -n "$measure_error" ]; then
      peer_error=$measure_error
      say "the peers' chain did not run: $peer_error"
    fi
  fi
done

# mean, max (percent) of a label's load samples; xruns and seconds summed.
stat_of() {
  local f=$work/$1
  [ -s "$f.loads" ] || { echo "– – 0 0"; return; }
  awk '{ s += $1; if (NR == 1 || $1 > m) m = $1 } END { printf "%.2f %.2f ", s / NR, m }' "$f.loads"
  awk '{ s += $1 } END { printf "%d ", s }' "$f.xruns"
  awk '{ s += $1 } END { printf "%d\n", s }' "$f.seconds"
}

# Rows: the empty graph (when measured), ours, the peers. "Over the empty
# graph" is what the five plugins add to the server's cycle; its ratio is the
# comparison of the plugins themselves.
table=$work/table.md
{
  read -r floor_mean _ < <(stat_of floor)
  read -r ours_mean _ < <(stat_of ours)
  have_floor=0
  [ -s "$work/floor.loads" ] && have_floor=1
  ours_over=$(awk -v a="$ours_mean" -v b="$floor_mean" 'BEGIN { printf "%.2f", a - b }')
  echo "| Chain | DSP load, mean (%) | DSP load, max (%) | Load / quorvel-fx | Over the empty graph (%) | Over the empty graph / quorvel-fx | Xruns | Seconds |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|"
  for label in floor ours peers; do
    [ -s "$work/$label.loads" ] || continue
    read -r mean max xruns secs < <(stat_of "$label")
    case $label in
      floor) what="No effects (tone → recorder)" ;;
      ours) what="quorvel-fx: Delay → PingPongDelay → Chorus → Flanger → Vibrato" ;;
      peers) what="Calf: Vintage Delay → Vintage Delay (ping-pong) → Multi Chorus → Flanger → Multi Chorus (vibrato)" ;;
    esac
    ratio="–" over="–" over_ratio="–"
    if [ "$label" != floor ]; then
      ratio=$(awk -v a="$mean" -v b="$ours_mean" 'BEGIN { printf "%.2f", a / b }')
      if [ "$have_floor" -eq 1 ]; then
        over=$(awk -v a="$mean" -v b="$floor_mean" 'BEGIN { printf "%.2f", a - b }')
        over_ratio=$(awk -v a="$over" -v b="$ours_over" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "–" }')
      fi
    fi
    echo "| $what | $mean | $max | $ratio | $over | $over_ratio | $xruns | $secs |"
  done
} > "$table"

cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
summary="jackd $(dpkg-query -W -f='${Version}' jackd2 2> /dev/null || true) dummy driver, $rate Hz, $period-frame periods ($(awk -v p=$period -v r=$rate 'BEGIN { printf "%.2f", p * 1000 / r }') ms), $scheduling_note; each effect a jalv $(dpkg-query -W -f='${Version}' jalv 2> /dev/null || true) client, stereo, default settings; a 440 Hz tone burst (jack_metro) in, jack_rec on the last plugin; $rounds round$([ "$rounds" -eq 1 ] || echo s) of $run_seconds s per chain, the chains taking turns; DSP load from jack_cpu_load once a second, xruns as jackd logs them. $(date -u '+%Y-%m-%d %H:%M') UTC on $cpu, $(nproc) CPUs."
echo
echo "$summary"
echo
cat "$table"
if [ "$with_peers" -eq 1 ]; then
  echo
  echo "Peers: $peers_note.${peer_error:+ Did not run: $peer_error}"
fi

if [ "$update_docs" -eq 1 ]; then
  doc=$root/docs/benchmarks.md
  begin="<!-- jack: begin (written by scripts/bench-jack.sh) -->"
  end="<!-- jack: end -->"
  grep -qF "$begin" "$doc" || fail "$doc has no '$begin' marker"
  section=$work/section.md
  {
    echo "$begin"
    echo "## In a real-time host (JACK)"
    echo
    echo "$summary"
    echo
    cat "$table"
    echo
    echo "Peers: $peers_note."
    echo
    echo "Command: \`scripts/bench-jack.sh --update-docs\` (the test \`jack_realtime\`, label"
    echo "external, runs \`--short\`: 3 s per chain, no empty graph, no figures judged)."
    echo "$end"
  } > "$section"
  awk -v begin="$begin" -v end="$end" -v file="$section" '
    $0 == begin { while ((getline line < file) > 0) print line; skip = 1; next }
    $0 == end { skip = 0; next }
    !skip' "$doc" > "$work/doc.md"
  cat "$work/doc.md" > "$doc"
  say "rewrote the JACK section of $doc"
fi
