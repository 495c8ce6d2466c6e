#!/usr/bin/env bash
# Measures what torvel-downloader adds to a download: the same local DASH presentation is
# downloaded with the whole `torvel-downloader download` command (start-up, tool search, the
# yt-dlp run that extracts the address and downloads, placement) and with the identical yt-dlp
# command line run directly on the address, without the options that make yt-dlp print its
# document for the application (it extracts the address once, as the application does in all).
# Which of the two runs first alternates from round to round; both use the same HOME. Reports
# each time and the ratio of the medians.
#
# With RATE (bytes per second), the server limits each connection to it, as many servers do, and
# yt-dlp runs by hand with its defaults (one fragment at a time) instead of the same command line.
#
# Usage: benchmarks/download_overhead.sh [BUILD_DIR] [ROUNDS] [SECONDS] [RATE]
# YTDLP=path measures another yt-dlp (a current one run from source, for instance) in place of
# Debian's. Needs yt-dlp, ffmpeg and python3. Everything stays on 127.0.0.1.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/bench}"
rounds="${2:-6}"
seconds="${3:-120}"
rate="${4:-0}"
ytdlp="${YTDLP:-/usr/bin/yt-dlp}"
app="$build/src/app/torvel-downloader"
[ -x "$app" ] || { echo "build the application first: $app" >&2; exit 2; }

work="$(mktemp -d)"
server_pid=""
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

echo "Generating a ${seconds}-second presentation…" >&2
mkdir -p "$work/site"
(cd "$work/site" && ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" \
    -map 0:v -map 1:a -c:v libx264 -preset ultrafast -b:v 4000k -g 60 -keyint_min 60 -sc_threshold 0 -c:a aac -b:a 128k \
    -f dash -seg_duration 2 -use_template 1 -use_timeline 0 \
    -adaptation_sets "id=0,streams=v id=1,streams=a" manifest.mpd)
du -sh "$work/site" >&2

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$port" "$work/site" "$rate" >/dev/null 2>&1 <<'SERVER' &
import functools, http.server, sys, time
port, folder, rate = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
class Handler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, destination):
        if rate <= 0:
            return super().copyfile(source, destination)
        chunk = max(1, rate // 50)  # each connection gets at most `rate` bytes a second
        while block := source.read(chunk):
            destination.write(block)
            time.sleep(len(block) / rate)
    def log_message(self, *arguments):
        pass
http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Handler, directory=folder)).serve_forever()
SERVER
server_pid=$!
url="http://127.0.0.1:$port/manifest.mpd"
for _ in $(seq 50); do curl -sf -o /dev/null "$url" && break; sleep 0.1; done

export HOME="$work/home"
settings="$HOME/.config/Torvel/Torvel Downloader.conf"
mkdir -p "$(dirname "$settings")"
use_ytdlp() { printf '[General]\nytDLPPath=%s\nffmpegPath=/usr/bin/ffmpeg\n' "$1" > "$settings"; }

# Once, untimed: a wrapper in place of yt-dlp records the download's command line.
cat > "$work/yt-dlp" <<WRAP
#!/bin/sh
case " \$* " in *" --paths "*) for a in "\$@"; do printf '%s\0' "\$a"; done > "$work/arguments" ;; esac
exec "$ytdlp" "\$@"
WRAP
chmod +x "$work/yt-dlp"
use_ytdlp "$work/yt-dlp"
"$app" download "$url" --to "$work/warm" >/dev/null 2>&1
mapfile -d '' recorded < "$work/arguments"
# The same command on the address: the analysis's document is gone with the application.
arguments=()
for ((i = 0; i < ${#recorded[@]}; i++)); do
    case "${recorded[$i]}" in
    --paths) arguments+=(--paths "$work/direct"); i=$((i + 1)) ;;
    --load-info-json) i=$((i + 1)) ;;
    --dump-json | --no-simulate) ;; # the application reads the document printed before the download
    *) arguments+=("${recorded[$i]}") ;;
    esac
done
[ "${arguments[-1]}" = "$url" ] || arguments+=(-- "$url")
# yt-dlp by hand with its defaults, when the server limits each connection.
[ "$rate" -gt 0 ] && arguments=(--paths "$work/direct" -- "$url")
echo "yt-dlp by hand: $ytdlp ${arguments[*]}" >&2

# The timed runs use that yt-dlp itself; one more untimed run warms every cache the
# application keeps between runs, as a user's second download would find them.
use_ytdlp "$ytdlp"
"$app" download "$url" --to "$work/warm" >/dev/null 2>&1
"$ytdlp" "${arguments[@]}" >/dev/null 2>&1

now() { date +%s.%N; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", a - b }'; }
run_app() {
    rm -rf "$work/out"
    local start; start=$(now)
    "$app" download "$url" --to "$work/out" >/dev/null 2>&1
    app_time=$(minus "$(now)" "$start")
}
run_direct() {
    rm -rf "$work/direct" && mkdir -p "$work/direct"
    local start; start=$(now)
    "$ytdlp" "${arguments[@]}" >/dev/null 2>&1
    direct_time=$(minus "$(now)" "$start")
}

app_times=(); direct_times=()
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then run_app; run_direct; first=application; else run_direct; run_app; first=yt-dlp; fi
    app_times+=("$app_time"); direct_times+=("$direct_time")
    printf 'round %d (%s first): torvel-downloader %.3f s, yt-dlp directly %.3f s\n' \
        "$round" "$first" "$app_time" "$direct_time"
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
app_median=$(median "${app_times[@]}"); direct_median=$(median "${direct_times[@]}")
printf 'median: torvel-downloader %.3f s, yt-dlp directly %.3f s, ratio %.4f\n' \
    "$app_median" "$direct_median" "$(awk -v a="$app_median" -v b="$direct_median" 'BEGIN { print a / b }')"
