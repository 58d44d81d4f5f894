# shellcheck shell=bash
# The desks test's copies that must be refused (scripts/desks-test): a
# second copy of a running desk while the desks are stopped; the PostgreSQL
# server restarted under the running desks (two of them stopped across the
# restart), at once followed by a hand-over of one stopped desk and a second
# copy of the other, both refused although the desks' locks went with their
# sessions; and the check that every desk took its lock back and none
# stopped writing.
#
# Source it after scripts/lib-postgres.sh (with the server's HC_PG_*
# variables set, by hc_start_postgres or may_restart_server),
# scripts/lib-desks.sh and scripts/lib-desks-drive.sh, and after setting:
# WORK, PG_URL, DESKS, APP_EXE, INITDB_EXE, step_timeout, restart and
# own_postgres, app_pid (per desk index), round, stored_n and ALL_IDS,
# note_event, problems and restarts_done (counters) and an abort function.
# try_second_copy sets second_copy_note; restart_server sets restart_pid,
# restart_log_mark and the counters moment_tries and moment_refused (with
# moment_claims: refusals made by a desk's claim, its lock being free
# still); check_reconnects reads closing_pid and counts reconnects_expected
# and reconnects_seen.
# shellcheck disable=SC2034,SC2154

# A second copy of desk-b, offscreen (its refusal is then written to
# standard error instead of a message box), while the three are stopped:
# it must end with status 1 and change no row.
try_second_copy() {
  local out="$WORK/second-copy.log" status=0 before="$WORK/second-before.tsv" after="$WORK/second-after.tsv"
  signal_others STOP -1
  if ! settle; then
    signal_others CONT -1
    second_copy_note="not tried: the database did not settle"
    return
  fi
  snapshot "$before"
  desk_env 1
  env "${DESK_ENV[@]}" QT_QPA_PLATFORM=offscreen timeout "$step_timeout" "$APP_EXE" >"$out" 2>&1 || status=$?
  snapshot "$after"
  signal_others CONT -1
  if [ "$status" -ne 1 ]; then
    echo "  SECOND COPY: a second desk-b ended with status $status, not 1 (see $out)"
    problems=$(( problems + 1 ))
    second_copy_note="FAILED (status $status)"
  elif ! cmp -s <(LC_ALL=C sort "$before") <(LC_ALL=C sort "$after"); then
    echo "  SECOND COPY: the refused second desk-b changed rows:"
    diff <(LC_ALL=C sort "$before") <(LC_ALL=C sort "$after") | grep '^[<>]' | head -n 10 | sed 's/^/    /'
    problems=$(( problems + 1 ))
    second_copy_note="FAILED (changed rows)"
  else
    second_copy_note="refused to start (status 1) and changed no row"
  fi
}

# Whether the test may restart the server: its own (own_postgres 1), or
# scripts/test's on this machine (the URL's port is the one the server of
# HC_TEST_POSTGRES_DIR listens on). Sets restart 0 when not, and
# restart_note to why not.
may_restart_server() {
  local port
  restart_note=""
  if [ "$restart" -eq 0 ]; then
    restart_note="left out: --no-restart"
  elif [ "$own_postgres" -eq 0 ]; then
    port=$(sed -nE 's#^postgres(ql)?://([^@/]*@)?(127\.0\.0\.1|localhost):([0-9]+)/.*#\4#p' <<<"$PG_URL")
    if [ -z "$port" ] || ! hc_adopt_postgres "$port"; then
      restart=0
      restart_note="left out: the server of HC_TEST_POSTGRES_URL is not one this test can restart"
    fi
  fi
}

# Restarts the PostgreSQL server under the running desks (fast shutdown:
# their sessions end, and the desks' locks with them): by pg_ctl restart,
# or one time in two stopped and started again up to 3 s later. Notes each
# desk's program and where its log stood, for check_reconnects. Ends the
# test when the server does not come back.
restart_server() {
  local i pause="" how="pg_ctl restart -m fast" ms
  for i in 0 1 2; do
    restart_pid[$i]=${app_pid[$i]}
    restart_log_mark[$i]=$(wc -l <"$WORK/${DESKS[$i]}/program.log")
  done
  if [ $(( RANDOM % 2 )) -eq 1 ]; then
    ms=$(( RANDOM % 3001 ))
    pause=$(printf '%d.%03d' $(( ms / 1000 )) $(( ms % 1000 )))
    how="stopped (-m fast), started again $ms ms later"
  fi
  note_event "server restart: $how"
  # desk-a and desk-b cannot take their locks back before the hand-over and
  # the second copy below have tried: the moment is sure to come.
  signal_others STOP 2
  if ! hc_restart_postgres ${pause:+"$pause"}; then
    signal_others CONT 2
    abort "the PostgreSQL server did not come back after a restart (see $HC_PG_DIR/server.log)"
  fi
  note_event "server back"
  restart_moment
  signal_others CONT 2
  restarts_done=$(( restarts_done + 1 ))
  printf 'server restart %d: round %d, %s; stored %d of %d; then at once: %s\n' \
    "$restarts_done" "$round" "$how" "$stored_n" "${#ALL_IDS[@]}" "$moment_note"
}

# Right after the server is back, side by side: a hand-over of desk-a to a
# desk that does not run (desk-spare), and a second copy of desk-b
# (offscreen, so its refusal goes to standard error). Both desks live but
# are stopped (restart_server), so their locks are still free: both must be
# refused with status 1 by the desks' claims, which say that the desk lost
# its connection when the server restarted (moment_claims counts those). A
# hand-over that went through would leave rows of desk-spare, which the
# snapshot checks report; a second copy that started would run until the
# step timeout.
moment_tries=0
moment_refused=0
moment_claims=0
restart_moment() {
  local dir="$WORK/restart-moment-$restarts_done" hand_pid copy_pid hand_status=0 copy_status=0 log
  mkdir -p "$dir"
  printf '[databases]\nHotels_Db=%s\n\n[desk]\nname=desk-spare\n' "$PG_URL" >"$dir/spare.ini"
  timeout "$step_timeout" "$INITDB_EXE" --settings "$dir/spare.ini" --hand-over "${DESKS[0]}" >"$dir/hand-over.log" 2>&1 &
  hand_pid=$!
  desk_env 1
  env "${DESK_ENV[@]}" QT_QPA_PLATFORM=offscreen timeout "$step_timeout" "$APP_EXE" >"$dir/second-copy.log" 2>&1 &
  copy_pid=$!
  wait "$hand_pid" || hand_status=$?
  wait "$copy_pid" || copy_status=$?
  note_event "restart's moment: hand-over status $hand_status, second copy status $copy_status"
  moment_tries=$(( moment_tries + 2 ))
  moment_note=""
  if [ "$hand_status" -ne 1 ] || ! grep -qF "desk \"${DESKS[0]}\" is running" "$dir/hand-over.log"; then
    echo "  RESTART'S MOMENT: the hand-over of ${DESKS[0]} ended with status $hand_status, not refused (see $dir/hand-over.log)"
    problems=$(( problems + 1 ))
    moment_note="hand-over NOT refused"
  else
    moment_refused=$(( moment_refused + 1 ))
    moment_note="hand-over refused"
  fi
  if [ "$copy_status" -ne 1 ]; then
    echo "  RESTART'S MOMENT: a second ${DESKS[1]} ended with status $copy_status, not 1 (see $dir/second-copy.log)"
    problems=$(( problems + 1 ))
    moment_note="$moment_note, second copy NOT refused"
  else
    moment_refused=$(( moment_refused + 1 ))
    moment_note="$moment_note, second copy refused"
  fi
  for log in "$dir/hand-over.log" "$dir/second-copy.log"; do
    grep -qF 'when the server restarted' "$log" && moment_claims=$(( moment_claims + 1 ))
  done
}

# After the close of a round with a server restart, prints a problem line
# for every desk program that lived from the restart to the close
# (closing_pid: the programs closed) without reporting that it took its
# lock again (its save at close writes, so it must have), and for every
# report since the restart that a desk writes nothing more.
check_reconnects() {
  local i desk log since
  for i in 0 1 2; do
    desk=${DESKS[$i]}
    log="$WORK/$desk/program.log"
    since=$(tail -n +$(( restart_log_mark[i] + 1 )) "$log")
    grep -F 'writes nothing more' <<<"$since" | head -n 3 |
      sed "s/^/LOCK LOST after the server restart: $desk reported: /"
    [ -n "${restart_pid[$i]}" ] && [ "${restart_pid[$i]}" = "${closing_pid[$i]}" ] || continue
    reconnects_expected=$(( reconnects_expected + 1 ))
    if grep -qF "desk \"$desk\": connected to \"Hotels_Db\" again and took the desk's lock again" <<<"$since"; then
      reconnects_seen=$(( reconnects_seen + 1 ))
    else
      echo "NO RECONNECT: $desk ran from the server restart to the close and never reported taking its lock again (see $log)"
    fi
  done
}
