# shellcheck shell=bash
# Shared by scripts/crash-test, scripts/fault-test and scripts/desks-test:
# what they need to drive the window on a private display: the clock, a
# process stopped for sure, an Xvfb display and a sample site of their own,
# and the places of the memo and of "Navigation" in the window.
# Source it; it defines hc_now_ms, hc_sleep_ms, hc_stop_pid, hc_start_xvfb,
# hc_start_sample_site, hc_find_window, hc_click_memo, hc_click_navigation,
# hc_tick_ms and hc_browser_ini.
# The HC_* variables the start functions set are read by the sourcing script.
# shellcheck disable=SC2034

# The engine the program under test loads its pages with: HC_ENGINE,
# chromium (the program's default) or html (our own, faster, no script).
HC_ENGINE="${HC_ENGINE:-chromium}"
case "$HC_ENGINE" in
  chromium|html) ;;
  *) echo "HC_ENGINE must be chromium or html, not \"$HC_ENGINE\"" >&2; exit 2 ;;
esac
# How long the browser engine waits for a page to stay quiet; shorter than
# the program's default, so that a destination's few result pages fit its
# slot of 61 short test ticks.
HC_SETTLE_MS="${HC_SETTLE_MS:-100}"

# The timers' tick a script uses when none is asked for: $1 with our own
# engine; with the browser engine at least 50 ms, since a result page takes
# a load, a render and the settling time, and a destination's few pages
# must fit the search's slot of 61 ticks (else it is cut short, owed, and
# searched again while the test is already closing the program).
hc_tick_ms() { if [ "$HC_ENGINE" = chromium ] && [ "$1" -lt 50 ]; then echo 50; else echo "$1"; fi; }

# The settings file's [browser] section for HC_ENGINE and HC_SETTLE_MS.
hc_browser_ini() { printf '[browser]\nengine=%s\nsettle_ms=%s\n' "$HC_ENGINE" "$HC_SETTLE_MS"; }

# Milliseconds of the wall clock.
hc_now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Sleeps $1 milliseconds.
hc_sleep_ms() { sleep "$(printf '%d.%03d' $(( $1 / 1000 )) $(( $1 % 1000 )))"; }

# Sends signal $2 to process $1 (a child of this shell) when it runs, waits
# up to 10 s for it to end, kills it when it does not, and reaps it. Does
# nothing for an empty or ended process.
hc_stop_pid() {  # pid signal
  if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
    kill "-$2" "$1" 2>/dev/null
    timeout 10 tail --pid="$1" -f /dev/null 2>/dev/null || kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
  fi
}

# Starts an Xvfb display (1280x1024, no TCP) and waits up to $2 seconds for
# it to report its number; its messages go to $1/xvfb.log and its number to
# $1/display. Sets HC_XVFB_PID (also when it fails: stop it with
# hc_stop_pid) and HC_DISPLAY (":N"). Returns 1 when Xvfb ended or did not
# report in time.
hc_start_xvfb() {  # folder timeout_s
  local deadline
  HC_DISPLAY=""
  # Xvfb picks a free display number itself and writes it to descriptor 9.
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$1/display" >"$1/xvfb.log" 2>&1 &
  HC_XVFB_PID=$!
  deadline=$(( $(hc_now_ms) + $2 * 1000 ))
  until [ -s "$1/display" ] && grep -q '^[0-9][0-9]*$' "$1/display"; do
    kill -0 "$HC_XVFB_PID" 2>/dev/null || return 1
    [ "$(hc_now_ms)" -lt "$deadline" ] || return 1
    sleep 0.05
  done
  HC_DISPLAY=":$(head -n 1 "$1/display")"
}

# Starts the sample site ($1) on a free loopback port, its request log
# (standard error) going to $2, and waits up to $3 seconds for it to say
# where it listens. Sets HC_SITE_PID (also when it fails: stop it with
# hc_stop_pid), HC_SITE_PORT, and HC_SITE_FD, the descriptor its standard
# output is read from (kept open while the site runs). Returns 1 when the
# site did not say in time.
hc_start_sample_site() {  # exe log timeout_s
  local first_line=""
  HC_SITE_PORT=""
  exec {HC_SITE_FD}< <(exec "$1" --port 0 2>"$2")
  HC_SITE_PID=$!
  if ! read -r -t "$3" -u "$HC_SITE_FD" first_line || [[ "$first_line" != "listening on 127.0.0.1:"* ]]; then
    return 1
  fi
  HC_SITE_PORT="${first_line##*:}"
}

# Prints the id of the shown window "Form1" of process $1 on $DISPLAY once
# there is one, asking again every 50 ms for up to $2 seconds. Returns 1
# when the time is up or the process ended. (One long "search --sync" gives
# up as soon as a window it looks at goes away in the meantime, as the
# browser engine's helper windows do while the program starts.)
hc_find_window() {  # pid timeout_s
  local deadline w
  deadline=$(( $(hc_now_ms) + $2 * 1000 ))
  while kill -0 "$1" 2>/dev/null && [ "$(hc_now_ms)" -lt "$deadline" ]; do
    w="$(xdotool search --onlyvisible --pid "$1" --name '^Form1$' 2>/dev/null | head -n 1)"
    if [ -n "$w" ]; then echo "$w"; return 0; fi
    sleep 0.05
  done
  return 1
}

# Clicks into the memo, or on "Navigation", of window $1 on $DISPLAY. The
# form's client area is 1067x794; the memo is 359x368 at (1,1), the button
# "Navigation" 129x25 at (8,376).
hc_click_memo() { xdotool mousemove --window "$1" 180 184 click 1 >/dev/null 2>&1; }
hc_click_navigation() { xdotool mousemove --window "$1" 72 388 click 1 >/dev/null 2>&1; }
