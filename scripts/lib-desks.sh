# shellcheck shell=bash
# The desks test's view of the shared database (scripts/desks-test): psql
# on it, one snapshot of the four tables at a time, the checks of a
# snapshot against the desks' destinations, the links seen so far and the
# sites' request logs, the rows a restarted desk must leave alone, the
# counts the test steers by, the checks of a round's end and the wait for a
# settled server. (The server's restart under the running desks is
# scripts/lib-desks-restart.sh.)
#
# Source it after setting: WORK (the test's folder, where psql.log,
# fetched.tsv and site-problems.txt go), PG_URL, DESKS (the desk names, in
# index order) and DESK_ALLOWED (desk -> the codes it may crawl), ALL_IDS
# (every expected hotel id), SNAP, SEEN, CODES_FILE (lines "desk<TAB>code<TAB>
# typed|walked"), REPORTED (files), round_mark (per desk index, the site
# log's lines before the round), step_timeout, problems (a counter), and
# an abort function that ends the test; and scripts/lib-drive.sh. The site
# log of desk D is $WORK/D/site-requests.log. What it sets (going_n,
# dest_n, stored, stored_n, rows_n, first_code, has_going) the test reads.
# shellcheck disable=SC2034,SC2154,SC2120

# Runs SQL ($1) on the test database; rows on standard output, fields split
# by tabs. Statements end after 10 s, so a read never hangs on a lock.
sql() {
  PGCONNECT_TIMEOUT=5 PGOPTIONS='-c statement_timeout=10000' \
    psql "$PG_URL" -X -q -A -t -F $'\t' -v ON_ERROR_STOP=1 -c "$1" 2>>"$WORK/psql.log"
}
sql_or_abort() {
  for _ in 1 2 3; do
    sql "$1" && return 0
    sleep 0.2
  done
  abort "psql failed (see $WORK/psql.log): $1"
}

# One statement, so one snapshot of all four tables: tag (G Going, D
# Destinations, F Failures, S Staymarker), desk, address or code, airport
# (Owed for D), id, digest of the whole row.
read -r -d '' SNAPSHOT_SQL <<'SQL'
SELECT 'G', coalesce("Desk", '(null)'), "Url", coalesce("AirPort", ''), "Id"::text, md5(t::text) FROM "Going" t
UNION ALL
SELECT 'D', coalesce("Desk", '(null)'), "Code", coalesce("Owed"::text, ''), "Id"::text, md5(t::text) FROM "Destinations" t
UNION ALL
SELECT 'F', coalesce("Desk", '(null)'), coalesce("Url", ''), coalesce("AirPort", ''), "Id"::text, coalesce("Kind", '') || ':' || md5(t::text) FROM "Failures" t
UNION ALL
SELECT 'S', coalesce("Desk", '(null)'), "Url", coalesce("AirPort", ''), '', md5(t::text) FROM "Staymarker" t
SQL

# Reads the snapshot into $1 (default $SNAP). Runs in the main shell so that
# a failure ends the test.
snapshot() {
  local out=${1:-$SNAP}
  for _ in 1 2 3; do
    sql "$SNAPSHOT_SQL" >"$out.tmp" && { mv "$out.tmp" "$out"; return 0; }
    sleep 0.2
  done
  abort "cannot read the tables (see $WORK/psql.log)"
}

# The rows of the other desks than desk $2 in snapshot $1 that desk $2 must
# not change: their Going, Destinations and Failures rows whole, and the
# Staymarker rows of hotels of destinations desk $2 did not type. Sorted.
others_rows() {
  awk -F'\t' -v me="$2" -v codes=" ${DESK_ALLOWED[$2]} " '
    function code_of(url,   id) {
      if (!match(url, /hotel=[A-Za-z0-9_]+-[0-9]+$/)) return ""
      id = substr(url, RSTART + 6); sub(/-[0-9]+$/, "", id); return id
    }
    $1 != "S" && $2 != me { print; next }
    $1 == "S" && index(codes, " " code_of($3) " ") == 0 { print $1 "\t" $2 "\t" $3 "\t" $6 }
  ' "$1" | LC_ALL=C sort
}

# The round's detail requests of each desk ("desk<TAB>hotel id"), and the
# requests of a destination or hotel the desk never typed (problem lines).
site_figures() {
  local i desk log
  : >"$WORK/fetched.tsv"
  : >"$WORK/site-problems.txt"
  for i in 0 1 2; do
    desk=${DESKS[$i]}
    log="$WORK/$desk/site-requests.log"
    tail -n +$(( round_mark[i] + 1 )) "$log" |
      grep -oE 'GET /(cannonball\.ctl\?[^ ]*&airport=|hotsavail\.ctl\?airport=|hotsdetail\.ctl\?hotel=)[A-Za-z0-9_-]*' |
      awk -v desk="$desk" -v codes=" ${DESK_ALLOWED[$desk]} " -v fetched="$WORK/fetched.tsv" \
          -v problems="$WORK/site-problems.txt" '
        {
          detail = ($0 ~ /hotsdetail/)
          value = $0; sub(/.*[=]/, "", value)
          code = value
          if (detail) { printf "%s\t%s\n", desk, value >> fetched; sub(/-[0-9]+$/, "", code) }
          if (code != "" && index(codes, " " code " ") == 0 && (code in known))
            printf "FOREIGN REQUEST: %s asked its site for %s (%s), a destination not its own\n", desk, value, detail ? "detail page" : "result page" >> problems
        }
        BEGIN { split("osl adl krk upn nil", k, " "); for (j in k) known[k[j]] = 1 }'
  done
}

# Checks the snapshot $SNAP against the desks' destinations, the links seen
# in "Going" so far ($SEEN) and the site logs; prints one line per problem.
check_snapshot() {
  site_figures
  awk -F'\t' -v desks=" ${DESKS[*]} " '
    function code_of(url,   id) {
      if (!match(url, /hotel=[A-Za-z0-9_]+-[0-9]+$/)) return ""
      id = substr(url, RSTART + 6); sub(/-[0-9]+$/, "", id); return id
    }
    function id_of(url) { return match(url, /hotel=[A-Za-z0-9_]+-[0-9]+$/) ? substr(url, RSTART + 6) : url }
    function desk_ok(desk, table) {
      if (index(desks, " " desk " ") > 0) return 1
      printf "BAD DESK: a row of %s has Desk \"%s\"\n", table, desk
      return 0
    }
    FILENAME == ARGV[1] { own[$1, $2] = 1; keepers[$2]++; if ($3 == "typed") typed[$1, $2] = 1; next }
    FILENAME == ARGV[2] { fetched[$1, $2] = 1; next }
    FILENAME == ARGV[3] {
      tag = $1; desk = $2; key = $3
      if (tag == "G") {
        if (!desk_ok(desk, "Going")) next
        if (++going[desk, key] == 2) printf "DUPLICATE: %s is twice in the Going rows of %s\n", id_of(key), desk
        if (!own[desk, code_of(key)]) printf "FOREIGN ROW: the Going rows of %s hold %s, of a destination not its own\n", desk, id_of(key)
      } else if (tag == "D") {
        if (!desk_ok(desk, "Destinations")) next
        if (!typed[desk, key]) printf "FOREIGN ROW: the Destinations rows of %s hold \"%s\", which %s never typed\n", desk, key, desk
      } else if (tag == "F") {
        if (!desk_ok(desk, "Failures")) next
        failure[desk, key] = 1
        code = code_of(key); if (code == "") code = $4
        if (!own[desk, code]) printf "FOREIGN ROW: the Failures rows of %s hold %s, of a destination not its own\n", desk, key
      } else if (tag == "S") {
        if (!desk_ok(desk, "Staymarker")) next
        if (++stay[key] == 2) printf "DUPLICATE: %s is twice in Staymarker\n", id_of(key)
        if (!own[desk, code_of(key)]) printf "FOREIGN ROW: Staymarker names %s as the keeper of %s, of a destination not its own\n", desk, id_of(key)
      }
      next
    }
    FILENAME == ARGV[4] { seen[$1, $2] = 1; next }
    END {
      for (k in seen) {
        split(k, p, SUBSEP); desk = p[1]; url = p[2]
        if ((desk, url) in going || (desk, url) in failure) continue
        if (url in stay) {
          if (keepers[code_of(url)] <= 1 || (desk, id_of(url)) in fetched) continue
          printf "LOST: %s left the Going rows of %s, which never asked for its page (another desk kept it)\n", id_of(url), desk
          continue
        }
        printf "LOST: %s was in the Going rows of %s and is now neither there, nor in Staymarker, nor in its Failures\n", id_of(url), desk
      }
    }
  ' "$CODES_FILE" "$WORK/fetched.tsv" "$SNAP" "$SEEN"
  cat "$WORK/site-problems.txt"
  # What waits in "Going" now is held to the rule from here on.
  awk -F'\t' '$1 == "G" { print $2 "\t" $3 }' "$SNAP" | LC_ALL=C sort -u - "$SEEN" >"$SEEN.new" && mv "$SEEN.new" "$SEEN"
}

# Prints the problems of a check ($1: when, for the report) not reported
# before; counts them.
report_new() {
  local when=$1 line
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    grep -qxF -- "$line" "$REPORTED" && continue
    echo "$line" >>"$REPORTED"
    problems=$(( problems + 1 ))
    echo "  $line ($when)"
  done
}

check_now() {  # when
  snapshot
  report_new "$1" < <(check_snapshot | LC_ALL=C sort -u)
}

# Counts of the snapshot: per desk (index) going_n and dest_n; and
# stored (hotel id -> rows), stored_n (expected hotels stored), rows_n.
count_snapshot() {
  local i desk id
  for i in 0 1 2; do
    desk=${DESKS[$i]}
    going_n[$i]=$(awk -F'\t' -v d="$desk" '$1 == "G" && $2 == d' "$SNAP" | grep -c .)
    dest_n[$i]=$(awk -F'\t' -v d="$desk" '$1 == "D" && $2 == d' "$SNAP" | grep -c .)
  done
  unset stored
  declare -gA stored=()
  while read -r id; do
    [ -n "$id" ] && stored[$id]=$(( ${stored[$id]:-0} + 1 ))
  done < <(awk -F'\t' '$1 == "S" { print $3 }' "$SNAP" | grep -o 'hotel=[A-Za-z0-9_]*-[0-9]*$' | cut -d= -f2)
  stored_n=0
  for id in "${ALL_IDS[@]}"; do [ -n "${stored[$id]:-}" ] && stored_n=$(( stored_n + 1 )); done
  rows_n=$(grep -c . "$SNAP")
}

# The problems of a round's end, one a line, from the snapshot $SNAP read
# after the close and its counts (count_snapshot): every expected hotel is
# in "Staymarker" once and nothing else is there, and no desk has rows left
# in "Going", "Destinations" or "Failures".
round_end_problems() {
  local id i kind url airport reason attempts desk n
  for id in "${ALL_IDS[@]}"; do
    case "${stored[$id]:-0}" in
      1) ;;
      0) echo "LOST at the end: $id is not in Staymarker" ;;
      *) echo "DUPLICATE at the end: $id is ${stored[$id]} times in Staymarker" ;;
    esac
  done
  n=$(awk -F'\t' '$1 == "S"' "$SNAP" | grep -c .)
  [ "$n" -eq "${#ALL_IDS[@]}" ] || echo "Staymarker holds $n rows, not ${#ALL_IDS[@]}"
  for i in 0 1 2; do
    [ "${going_n[$i]}" -eq 0 ] || echo "${DESKS[$i]} has ${going_n[$i]} rows left in Going"
    [ "${dest_n[$i]}" -eq 0 ] || echo "${DESKS[$i]} has ${dest_n[$i]} rows left in Destinations"
  done
  while IFS=$'\t' read -r kind url airport reason attempts desk; do
    echo "GIVEN UP in Failures: $desk $kind $url ($airport): $reason, $attempts attempts"
  done < <(sql_or_abort 'SELECT "Kind", "Url", "AirPort", "Reason", "Attempts", "Desk" FROM "Failures" ORDER BY "Id"')
  n=$(awk -F'\t' '$1 != "S" && $1 != "G" && $1 != "D" && $1 != "F"' "$SNAP" | grep -c .)
  [ "$n" -eq 0 ] || echo "unreadable snapshot lines: $n"
}

# What desk $1 has to do after a restart, from the snapshot $SNAP: sets
# first_code (the code of its first "Destinations" row, or empty) and
# has_going (1 when it has rows in "Going").
work_of() {
  first_code=$(awk -F'\t' -v d="${DESKS[$1]}" '$1 == "D" && $2 == d { print $5 "\t" $3 }' "$SNAP" |
               sort -n | head -n 1 | cut -f2)
  has_going=0
  awk -F'\t' -v d="${DESKS[$1]}" '$1 == "G" && $2 == d { found = 1 } END { exit !found }' "$SNAP" && has_going=1
}

# Waits until no session of the database but this one has a statement under
# way, seen twice 50 ms apart (a statement a stopped desk had sent just
# before it stopped has been read by then). Returns 1 when that does not
# happen within the step timeout (statements end after 5 s, so it should).
settle() {
  local deadline quiet=0 n
  deadline=$(( $(hc_now_ms) + step_timeout * 1000 ))
  while [ "$(hc_now_ms)" -lt "$deadline" ]; do
    n=$(sql "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() AND pid <> pg_backend_pid() AND backend_type = 'client backend' AND state IN ('active', 'fastpath function call')") || n=x
    if [ "$n" = 0 ]; then
      quiet=$(( quiet + 1 ))
      [ "$quiet" -ge 2 ] && return 0
    else
      quiet=0
    fi
    sleep 0.05
  done
  return 1
}
