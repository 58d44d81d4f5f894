# shellcheck shell=bash
# The cases of scripts/fault-test that do more than crawl under a fault
# mode: the kill and restart, and the checks of the ad-frame and resume-list
# cases. Source it; the functions use the script's variables and its
# driving functions (start_program, read_memo, press_as_is, snapshot...).

# What the ad-frame and resume-list cases check beyond every hotel kept:
# that the case did what it is for, and that the program owed or gave up no
# destination it should not have.
case_checks() {
  local owed_lines
  owed_lines="$(tail -n +$(( app_log_mark + 1 )) "$APP_LOG" | grep -E '^.*destination "[^"]*" (not finished|given up)' || true)"
  case "$1" in
    ad-frame)
      case_requests | grep ' GET /ad\.ctl ' >/dev/null || problems+=("no result page's ad frame was asked for")
      # At a short tick a slot can cut a search short; the frame's 404 must
      # never be what a destination is owed or given up for.
      ! grep -q 'HTTP 404' <<<"$owed_lines" || problems+=("a destination was owed or given up for its ad frame: $owed_lines")
      [ "$dest_n" -eq 0 ] || problems+=("left in Destinations: $(cut -f1 "$SNAP.destinations" | paste -sd' ')") ;;
    resume-list)
      tail -n +$(( press_mark + 1 )) "$SITE_LOG" | grep "FAULT 503 GET /cannonball\.ctl?.*&airport=${DESTS[1]}&" >/dev/null ||
        problems+=("the search of ${DESTS[1]} never failed: the case proves nothing")
      tail -n +$(( log_mark + 1 )) "$SITE_LOG" | grep "GET /hotsdetail\.ctl?hotel=${DESTS[0]}-1 " >/dev/null ||
        problems+=("the link left in Going was not resumed")
      grep -q "destination \"${DESTS[1]}\" not finished" <<<"$owed_lines" ||
        problems+=("${DESTS[1]} was not owed after its failed search")
      [ "$dest_n" -eq 0 ] || problems+=("left in Destinations: $(cut -f1 "$SNAP.destinations" | paste -sd' ')") ;;
  esac
}

# The kill case: SIGKILL once links of the first destination wait in
# "Going", then the checks of what the kill left, a restart and one press.
kill_note=""
kill_and_restart() {
  local deadline delay code unfinished=() memo_problem="" dest_codes
  deadline=$(( $(hc_now_ms) + step_timeout * 1000 ))
  while snapshot; ! grep -q "hotel=${DESTS[0]}-" "$SNAP.going"; do
    kill -0 "$app_pid" 2>/dev/null || { reap_program; wait_note="$ended_note before the kill"; return 1; }
    [ "$(hc_now_ms)" -lt "$deadline" ] || abort "no link of ${DESTS[0]} reached Going within ${step_timeout}s"
    sleep 0.05
  done
  delay=$(( RANDOM % (20 * interval_ms) ))
  hc_sleep_ms "$delay"
  kill -KILL "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
  note_event "killed $app_pid"
  app_pid=""
  site_control off
  snapshot
  count_tables
  # A destination whose last result page the site had not been asked for
  # since the press is unfinished: it must be in "Destinations", and in the
  # memo after the restart. (Before the press the search timer walks the
  # memo's lines by itself; those searches are not the list's.)
  for code in "${DESTS[@]}"; do
    tail -n +$(( press_mark + 1 )) "$SITE_LOG" | grep -E "${LAST_PAGE[$code]}" >/dev/null || unfinished+=("$code")
  done
  dest_codes="$(cut -f1 "$SNAP.destinations")"
  kill_note="answers slowed by $(( 10 * interval_ms )) ms until then, $delay ms after the first ${DESTS[0]} link was in Going; unfinished: ${unfinished[*]:-none}; Destinations: $(paste -sd' ' <<<"$dest_codes")"
  if grep -qx Destinations "$SNAP.missing"; then
    problems+=("the database has no Destinations table: the typed list did not survive the kill")
  else
    for code in "${unfinished[@]}"; do
      grep -qx "$code" <<<"$dest_codes" || problems+=("unfinished destination $code is not in Destinations after the kill")
    done
    for code in $dest_codes; do
      [[ " ${DESTS[*]} " == *" $code "* ]] || problems+=("Destinations holds \"$code\", which was never typed")
    done
  fi

  start_program "case kill: restart"
  if read_memo; then
    for code in "${unfinished[@]}"; do
      grep -qx "$code" "$MEMO_FILE" || memo_problem="$memo_problem $code"
    done
    [ -z "$memo_problem" ] ||
      problems+=("after the restart the memo lacks the unfinished line(s)$memo_problem")
    if ! grep -qx Destinations "$SNAP.missing" && [ "$(cat "$MEMO_FILE")" != "$dest_codes" ]; then
      problems+=("after the restart the memo reads \"$(paste -sd' ' "$MEMO_FILE")\", Destinations \"$(paste -sd' ' <<<"$dest_codes")\"")
    fi
    kill_note="$kill_note; memo after the restart: $(paste -sd' ' "$MEMO_FILE")"
  else
    kill_note="$kill_note; memo not read (no xclip)"
  fi
  press_as_is || { reap_program; wait_note="$ended_note before the press after the restart was taken"; return 1; }
  return 0
}
