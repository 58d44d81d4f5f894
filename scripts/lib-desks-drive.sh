# shellcheck shell=bash
# The desks test's hands (scripts/desks-test): each desk's program started
# in its own environment and display, its window found, its list typed and
# "Navigation" pressed until its site shows the press was taken, a program
# that ended by itself reaped, a desk killed or all closed, the other desks
# stopped and continued.
#
# Source it after scripts/lib-drive.sh and after setting: WORK (desk D's
# folder is $WORK/D with config/, data/, runtime/, program.log and
# site-requests.log), DESKS and DESK_CODES (desk -> its typed codes),
# APP_EXE, display (per desk index), step_timeout, clip ("xclip" or empty),
# round, and the counters it adds to: presses, start_retries,
# unexpected_exits, problems, kills_done, desk_kills, closes_clean; and an
# abort function that ends the test. It keeps per desk index app_pid and
# window (arrays the test declares: its cleanup kills app_pid), start_mark
# (the site log's lines before the start) and start_ms.
# The variables named above are set and read by the test.
# shellcheck disable=SC2034,SC2154

# Sets DESK_ENV to desk $1's environment for env(1): its settings, folders
# and display. (A program is started as "env ... PROGRAM &", a simple
# command, so that $! is the program's own process: signals reach it.)
desk_env() {
  local dir="$WORK/${DESKS[$1]}"
  DESK_ENV=(XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data" XDG_RUNTIME_DIR="$dir/runtime"
            DISPLAY="${display[$1]}")
}
# xdotool on desk $1's display.
xd() { local i=$1; shift; DISPLAY="${display[$i]}" xdotool "$@" >/dev/null 2>&1; }

# Stops (SIGSTOP) or continues (SIGCONT) the running desks other than $2.
signal_others() {  # STOP|CONT except
  local i state
  for i in 0 1 2; do
    [ "$i" -ne "$2" ] && [ -n "${app_pid[$i]}" ] || continue
    kill "-$1" "${app_pid[$i]}" 2>/dev/null
  done
  [ "$1" = STOP ] || return 0
  # Stopped for sure before the database is asked whether it has settled.
  for i in 0 1 2; do
    [ "$i" -ne "$2" ] && [ -n "${app_pid[$i]}" ] || continue
    for _ in $(seq 200); do
      state=$(awk '{ print $3 }' "/proc/${app_pid[$i]}/stat" 2>/dev/null) || break
      [ "$state" = T ] && break
      sleep 0.01
    done
  done
}

start_mark=(0 0 0)
start_ms=(0 0 0)
unexpected_exits=0

# Starts desk $1's program and waits for its window. Returns 1 (status in
# ended_status) when the program ends before its window shows; fails the
# test when another window shows instead (a refusal to start, say).
start_desk() {  # index why
  launch_desk "$1" "$2"
  wait_for_window "$1" "$2"
}

# Starts desk $1's program, without waiting.
launch_desk() {  # index why
  local i=$1 dir="$WORK/${DESKS[$1]}"
  echo "=== $2 ===" >>"$dir/program.log"
  start_mark[$i]=$(wc -l <"$dir/site-requests.log")
  start_ms[$i]=$(hc_now_ms)
  desk_env "$i"
  env "${DESK_ENV[@]}" QT_QPA_PLATFORM=xcb "$APP_EXE" >>"$dir/program.log" 2>&1 &
  app_pid[$i]=$!
}

# Waits for the window of desk $1's program, as start_desk says.
wait_for_window() {  # index why
  local i=$1 deadline w=""
  deadline=$(( $(hc_now_ms) + step_timeout * 1000 ))
  while :; do
    w="$(DISPLAY="${display[$i]}" xdotool search --onlyvisible --pid "${app_pid[$i]}" --name '^Form1$' 2>/dev/null | head -n 1)"
    [ -n "$w" ] && break
    if ! kill -0 "${app_pid[$i]}" 2>/dev/null; then
      ended_status=0
      wait "${app_pid[$i]}" 2>/dev/null || ended_status=$?
      app_pid[$i]=""
      return 1
    fi
    if [ "$(hc_now_ms)" -ge "$deadline" ]; then
      w="$(DISPLAY="${display[$i]}" xdotool search --onlyvisible --pid "${app_pid[$i]}" '' 2>/dev/null | head -n 1)"
      if [ -n "$w" ]; then
        echo "FAIL: ${DESKS[$i]} showed \"$(DISPLAY="${display[$i]}" xdotool getwindowname "$w" 2>/dev/null)\" instead of its window ($2)"
        failed=1
        exit 1
      fi
      abort "the window of ${DESKS[$i]} did not appear within ${step_timeout}s ($2)"
    fi
    sleep 0.05
  done
  window[$i]=$w
}

# Starts desk $1 until its window shows. A program that ends before (the
# display refused it, say; its log tells) is reported and started again;
# the third such end in a row fails the test.
start_retries=0
start_desk_or_fail() {  # index why
  local tries=0
  until start_desk "$1" "$2"; do
    start_retries=$(( start_retries + 1 ))
    tries=$(( tries + 1 ))
    echo "  ${DESKS[$1]} ended by itself (status $ended_status) before its window showed ($2)"
    [ "$tries" -lt 3 ] || { echo "FAIL: ${DESKS[$1]} does not start"; failed=1; exit 1; }
    sleep 0.5
  done
}

# The site's requests of desk $1 since its start.
since_start() { tail -n +$(( start_mark[$1] + 1 )) "$WORK/${DESKS[$1]}/site-requests.log"; }

# Types desk $1's destinations, one a line, checks the memo (through the
# clipboard, with xclip) and presses "Navigation" until its site sees the
# search of the first line. (The search timer walks the memo by itself
# from the second line on, never the first.)
press_with_list() {
  local i=$1 deadline retry_at typed=0 codes first memo want
  read -r -a codes <<<"${DESK_CODES[${DESKS[$i]}]}"
  first=${codes[0]}
  want="$(printf '%s\n' "${codes[@]}")"
  deadline=$(( $(hc_now_ms) + step_timeout * 1000 ))
  retry_at=0
  while :; do
    if [ "$(hc_now_ms)" -ge "$retry_at" ]; then
      DISPLAY="${display[$i]}" hc_click_memo "${window[$i]}"
      xd "$i" key --window "${window[$i]}" ctrl+a
      local k
      for k in "${!codes[@]}"; do
        [ "$k" -eq 0 ] || xd "$i" key --window "${window[$i]}" Return
        xd "$i" type --window "${window[$i]}" --delay 5 "${codes[$k]}"
      done
      typed=$(( typed + 1 ))
      if [ -n "$clip" ]; then
        xd "$i" key --window "${window[$i]}" ctrl+a ctrl+c
        memo="$(DISPLAY="${display[$i]}" timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r' | sed '/^[[:space:]]*$/d')"
        if [ "$memo" != "$want" ]; then
          [ "$typed" -lt 5 ] || abort "the memo of ${DESKS[$i]} does not take the typed list; it reads: $memo"
          continue
        fi
      fi
      DISPLAY="${display[$i]}" hc_click_navigation "${window[$i]}"
      retry_at=$(( $(hc_now_ms) + 3000 ))
    fi
    since_start "$i" | grep "GET /cannonball\\.ctl?.*&airport=$first&" >/dev/null && return 0
    kill -0 "${app_pid[$i]}" 2>/dev/null || return 1
    [ "$(hc_now_ms)" -lt "$deadline" ] || abort "the press on \"Navigation\" of ${DESKS[$i]} was not taken within ${step_timeout}s"
    sleep 0.05
  done
}

# After a restart: presses "Navigation" on what the window restored, when
# desk $1 has work ($2: the code of its first "Destinations" row, or empty;
# $3: 1 when it has rows in "Going"). Taken when its site sees the search
# of that first line (the memo's first line: the search timer never
# searches it by itself), or else a detail page (with an empty memo only a
# press fetches one). Pressed again when nothing came for a while. A desk
# with links but no list shows the memo's stored lines, which are no desk's
# list, and a press would search them as well as resume the links: its memo
# is emptied first.
press_as_is() {
  local i=$1 first=$2 going=$3 deadline retry_at
  # Nothing to do: the memo shows its stored lines, which are no desk's list.
  [ -n "$first" ] || [ "$going" -eq 1 ] || return 0
  deadline=$(( $(hc_now_ms) + step_timeout * 1000 ))
  retry_at=0
  while :; do
    if [ "$(hc_now_ms)" -ge "$retry_at" ]; then
      if [ -z "$first" ]; then
        DISPLAY="${display[$i]}" hc_click_memo "${window[$i]}"
        xd "$i" key --window "${window[$i]}" ctrl+a Delete
      fi
      DISPLAY="${display[$i]}" hc_click_navigation "${window[$i]}"
      presses=$(( presses + 1 ))
      retry_at=$(( $(hc_now_ms) + 3000 ))
    fi
    if [ -n "$first" ]; then
      since_start "$i" | grep "GET /cannonball\\.ctl?.*&airport=$first&" >/dev/null && return 0
    else
      since_start "$i" | grep 'GET /hotsdetail\.ctl?' >/dev/null && return 0
    fi
    kill -0 "${app_pid[$i]}" 2>/dev/null || return 1
    [ "$(hc_now_ms)" -lt "$deadline" ] || abort "the press on \"Navigation\" of ${DESKS[$i]} was not taken within ${step_timeout}s"
    sleep 0.05
  done
}

# Reaps desk $1 when it ended without being told to; returns 1 then, and
# when it is not running at all.
alive_or_reap() {
  local i=$1 status=0
  [ -n "${app_pid[$i]}" ] || return 1
  kill -0 "${app_pid[$i]}" 2>/dev/null && return 0
  wait "${app_pid[$i]}" 2>/dev/null || status=$?
  app_pid[$i]=""
  unexpected_exits=$(( unexpected_exits + 1 ))
  problems=$(( problems + 1 ))
  echo "  ${DESKS[$i]} ended by itself (status $status) in round $round; see $WORK/${DESKS[$i]}/program.log"
  [ "$unexpected_exits" -le 10 ] || { echo "FAIL: the desks ended by themselves $unexpected_exits times"; failed=1; exit 1; }
  return 1
}

kill_desk() {
  kill -KILL "${app_pid[$1]}" 2>/dev/null
  wait "${app_pid[$1]}" 2>/dev/null
  app_pid[$1]=""
  kills_done=$(( kills_done + 1 ))
  desk_kills[$1]=$(( desk_kills[$1] + 1 ))
}

# Closes every desk with SIGTERM at once; each must end by itself with
# status 0 within the step timeout.
close_all() {
  local i status
  for i in 0 1 2; do [ -n "${app_pid[$i]}" ] && kill -TERM "${app_pid[$i]}" 2>/dev/null; done
  for i in 0 1 2; do
    [ -n "${app_pid[$i]}" ] || continue
    status=0
    if ! timeout "$step_timeout" tail --pid="${app_pid[$i]}" -f /dev/null 2>/dev/null; then
      kill -KILL "${app_pid[$i]}" 2>/dev/null
      wait "${app_pid[$i]}" 2>/dev/null
      echo "  CLOSE: ${DESKS[$i]} did not end within ${step_timeout}s of SIGTERM; killed"
      problems=$(( problems + 1 ))
    else
      wait "${app_pid[$i]}" 2>/dev/null || status=$?
      if [ "$status" -ne 0 ]; then
        echo "  CLOSE: ${DESKS[$i]} ended with status $status after SIGTERM"
        problems=$(( problems + 1 ))
      else
        closes_clean=$(( closes_clean + 1 ))
      fi
    fi
    app_pid[$i]=""
  done
}
