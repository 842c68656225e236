#!/usr/bin/env bash
# Times our five LADSPA plugins against the Debian LADSPA plugins closest to
# each (TAP, SWH, CAPS) in ONE run of quorvel-ladspa-bench, so that every
# figure shares the machine's load, and prints the result as Markdown.
#
#   scripts/bench-ladspa.sh
#
# Environment: BUILD_DIR (default build/ladspa-bench), RATE (48000),
# BLOCK (1024), DURATION (seconds of signal per round, 10), REPEATS (5).
# Installs the peers (tap-plugins, swh-plugins, caps) through scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/ladspa-bench}
RATE=${RATE:-48000}
BLOCK=${BLOCK:-1024}
DURATION=${DURATION:-10}
REPEATS=${REPEATS:-5}

./scripts/setup.sh tap-plugins swh-plugins caps >&2
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_WERROR=ON \
    -DCMAKE_CXX_COMPILER=g++ >&2
fi
ninja -C "$BUILD_DIR" quorvel-ladspa quorvel-ladspa-bench >&2

bench=$BUILD_DIR/bench/ladspa/quorvel-ladspa-bench
ours=$BUILD_DIR/lib/ladspa/quorvel-fx.so

# effect | plugin | library | label | settings (port=value, '_' for ' ').
# Ours at the effects' own defaults where they have them (the swept effects'
# LADSPA default hints fall on 0 and would leave the sweep off), the peers as
# close to them as their ports allow.
rows=(
  "Delay|ours|$ours|quorvel_delay|delayMs=250 feedbackLevel=0.4 dryMix=0.75 wetMix=0.25"
  "Delay|TAP Stereo Echo|tap_echo.so|tap_stereo_echo|L_Delay=250 R/Haas_Delay=250 L_Feedback=40 R/Haas_Feedback=40 L_Echo_Level=-12 R_Echo_Level=-12 Dry_Level=-2.5 Cross_Mode=0"
  "PingPongDelay|ours|$ours|quorvel_ping_pong_delay|delayMs=250 feedbackLevel=0.4 dryMix=0.75 wetMix=0.25"
  "PingPongDelay|TAP Stereo Echo, cross mode|tap_echo.so|tap_stereo_echo|L_Delay=250 R/Haas_Delay=250 L_Feedback=40 R/Haas_Feedback=40 L_Echo_Level=-12 R_Echo_Level=-12 Dry_Level=-2.5 Cross_Mode=1"
  "Chorus|ours|$ours|quorvel_chorus|sweepWidth=0.025 frequency=0.2"
  "Chorus|TAP Chorus/Flanger|tap_chorusflanger.so|tap_chorusflanger|Frequency=0.2 Delay=33 Depth=40 Dry_Level=0 Wet_Level=-2"
  "Chorus|CAPS ChorusI|caps.so|ChorusI|t=33 width=10 rate=0.2 blend=1 feedforward=0.8 feedback=0"
  "Flanger|ours|$ours|quorvel_flanger|sweepWidth=0.005 frequency=0.4"
  "Flanger|SWH DJ Flanger|dj_flanger_1438.so|djFlanger|LFO_sync=0 LFO_period=2.5 LFO_depth=5 Feedback=60"
  "Flanger|TAP Chorus/Flanger|tap_chorusflanger.so|tap_chorusflanger|Frequency=0.4 Delay=2.5 Depth=100 Dry_Level=0 Wet_Level=-2"
  "Flanger|CAPS ChorusI|caps.so|ChorusI|t=2.5 width=2.5 rate=0.4 blend=1 feedforward=0.8 feedback=0.6"
  "Vibrato|ours|$ours|quorvel_vibrato|sweepWidth=0.01 frequency=4"
  "Vibrato|TAP Vibrato|tap_vibrato.so|tap_vibrato|Frequency=4 Depth=10 Dry_Level=-90 Wet_Level=0"
  "Vibrato|CAPS ChorusI|caps.so|ChorusI|t=5 width=5 rate=4 blend=0 feedforward=1 feedback=0"
)

args=()
declare -A settings
for row in "${rows[@]}"; do
  IFS='|' read -r effect plugin library label given <<<"$row"
  read -ra words <<<"$given"
  args+=("$library" "$label" "${words[@]}" "@$effect:$plugin")
  settings["$effect:$plugin"]=$given
done

command=("$bench" --rate "$RATE" --block "$BLOCK" --seconds "$DURATION" --repeats "$REPEATS"
  --format tsv "${args[@]}")
tsv=$(mktemp)
trap 'rm -f "$tsv"' EXIT
"${command[@]}" >"$tsv"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
avx512=$(grep -o 'avx512[a-z]*' /proc/cpuinfo | sort -u | tr '\n' ' ' | sed 's/ $//')
echo "$(nproc) logical CPUs, ${cpu:-unknown CPU}; ${avx512:-no AVX-512}. $(date -u '+%Y-%m-%d %H:%M UTC')."
echo "Run: \`BLOCK=$BLOCK DURATION=$DURATION REPEATS=$REPEATS scripts/bench-ladspa.sh\`"
echo "(one \`quorvel-ladspa-bench --rate $RATE --block $BLOCK --seconds $DURATION --repeats $REPEATS\` process, all $((${#rows[@]})) plugins interleaved, best of $REPEATS rounds)."
echo
echo "| Effect | Plugin | Layout | Settings | ns / channel-sample | Ours / this |"
echo "|---|---|---|---|---:|---:|"
# name library label layout ns median x_rt ratio peak rms non_finite settings
while IFS=$'\t' read -r name _ label layout ns _ _ _ peak _ nonfinite _; do
  [ "$name" = name ] && continue
  effect=${name%%:*}
  plugin=${name#*:}
  given=${settings[$name]}
  note=""
  [ "$nonfinite" != 0 ] && note=" ($nonfinite non-finite samples)"
  echo -e "$effect\t$plugin\t$label\t$layout\t$ns\t$peak\t$note\t$given"
done <"$tsv" | awk -F'\t' '
  $2 == "ours" { ours[$1] = $5 }
  { rows[NR] = $0 }
  END {
    for (i = 1; i <= NR; ++i) {
      split(rows[i], f, "\t")
      ratio = f[2] == "ours" ? "–" : sprintf("%.2f", ours[f[1]] / f[5])
      printf "| %s | %s (`%s`)%s | %s | `%s` | %.2f | %s |\n", f[1], f[2], f[3], f[7], f[4], f[8], f[5], ratio
    }
  }'

echo
echo "| Effect | Ours (ns) | Fastest peer | Peer (ns) | Ours / fastest peer | Goal | Met |"
echo "|---|---:|---|---:|---:|---:|---|"
awk -F'\t' 'NR > 1 {
    split($1, n, ":"); effect = n[1]; plugin = substr($1, length(effect) + 2)
    if (!(effect in order)) { order[effect] = ++count; names[count] = effect }
    if (plugin == "ours") ours[effect] = $5
    else if (!(effect in best) || $5 < best[effect]) { best[effect] = $5; peer[effect] = plugin }
  }
  END {
    for (i = 1; i <= count; ++i) {
      e = names[i]; r = ours[e] / best[e]
      printf "| %s | %.2f | %s | %.2f | %.2f | ≤ 0.5 | %s |\n", e, ours[e], peer[e], best[e], r, r <= 0.5 ? "yes" : "no"
    }
  }' "$tsv"
