# shellcheck shell=bash
# What scripts/fault-test reads of a case: which database reader there is,
# snapshots of the four tables, what the export tool writes after the close,
# the figures of the site's request log, and the row a case puts in "Going"
# before the program starts. Source it; the functions use the script's
# variables (DB, SNAP, WORK, EXPORT_EXE, SITE_LOG, log_mark, press_mark) and
# end the test through its abort() when the database cannot be read.

# The tables are read with python3's sqlite3 module (the interpreter itself,
# not a version manager's shim that takes a second to start), or else with
# the sqlite3 command. Sets db_reader (python3 or sqlite3) and python;
# returns 1, saying why, when neither is there.
hc_find_db_reader() {
  db_reader=""
  python=""
  if command -v python3 >/dev/null 2>&1; then
    python="$(python3 -c 'import sqlite3, sys; print(sys.executable)' 2>/dev/null)"
  fi
  if [ -n "$python" ] && [ -x "$python" ]; then
    db_reader=python3
  elif command -v sqlite3 >/dev/null 2>&1; then
    db_reader=sqlite3
  else
    echo "need python3 (with its sqlite3 module) or the sqlite3 command to read the database" >&2
    return 1
  fi
}

# Puts one pending link ($1, of destination $2) into "Going" without a desk,
# as an earlier run (or version) left it: the program takes it over at start
# and starts in resume mode.
seed_going() {
  local sql="INSERT INTO \"Going\" (\"Url\", \"AirPort\") VALUES ('$1', '$2')"
  if [ "$db_reader" = python3 ]; then
    "$python" -c 'import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); c.execute(sys.argv[2]); c.commit()' \
      "$DB" "$sql" 2>>"$WORK/reader.log"
  else
    sqlite3 -batch "$DB" "$sql;" 2>>"$WORK/reader.log"
  fi || abort "cannot write Going of $DB (see $WORK/reader.log)"
}

# Reads the four tables into $SNAP.going (Url), $SNAP.stay (Url),
# $SNAP.failures (Kind, Url, Reason, Attempts) and $SNAP.destinations (Code,
# Owed), one row a line, fields split by tabs; $SNAP.missing names the tables
# the database lacks. Runs in the main shell so that a failure ends the test.
snapshot() {
  local attempt table
  for attempt in 1 2 3; do
    if [ "$db_reader" = python3 ]; then
      "$python" - "$DB" "$SNAP" 2>>"$WORK/reader.log" <<'PY' && return 0
import sqlite3, sys
db, out = sys.argv[1], sys.argv[2]
con = sqlite3.connect(db, timeout=5)
con.execute("BEGIN")  # one read transaction: the tables as of one moment
tables = {name for (name,) in con.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
queries = {
    "going": ("Going", 'SELECT "Url" FROM "Going" ORDER BY "Id"'),
    "stay": ("Staymarker", 'SELECT "Url" FROM "Staymarker"'),
    "failures": ("Failures", 'SELECT "Kind", "Url", "Reason", "Attempts" FROM "Failures" ORDER BY "Id"'),
    "destinations": ("Destinations", 'SELECT "Code", "Owed" FROM "Destinations" ORDER BY "Id"'),
}
missing = []
for suffix, (table, sql) in queries.items():
    rows = con.execute(sql).fetchall() if table in tables else []
    if table not in tables:
        missing.append(table)
    with open(out + "." + suffix, "w") as f:
        for row in rows:
            f.write("\t".join("" if v is None else str(v).replace("\t", " ").replace("\n", " ") for v in row) + "\n")
with open(out + ".missing", "w") as f:
    f.write("".join(t + "\n" for t in missing))
PY
    else
      local ok=1 tables
      tables="$(sqlite3 -batch -cmd '.timeout 5000' "$DB" "SELECT name FROM sqlite_master WHERE type = 'table';" 2>>"$WORK/reader.log")" || ok=0
      : >"$SNAP.missing"
      for table in Going Staymarker Failures Destinations; do
        grep -qx "$table" <<<"$tables" || echo "$table" >>"$SNAP.missing"
      done
      sql_rows() {  # table suffix sql
        if grep -qx "$1" "$SNAP.missing"; then : >"$SNAP.$2"; return 0; fi
        sqlite3 -batch -separator $'\t' -cmd '.timeout 5000' "$DB" "$3" >"$SNAP.$2" 2>>"$WORK/reader.log"
      }
      sql_rows Going going 'SELECT "Url" FROM "Going" ORDER BY "Id";' || ok=0
      sql_rows Staymarker stay 'SELECT "Url" FROM "Staymarker";' || ok=0
      sql_rows Failures failures 'SELECT "Kind", "Url", "Reason", "Attempts" FROM "Failures" ORDER BY "Id";' || ok=0
      sql_rows Destinations destinations 'SELECT "Code", "Owed" FROM "Destinations" ORDER BY "Id";' || ok=0
      [ "$ok" -eq 1 ] && return 0
    fi
    sleep 0.2
  done
  abort "cannot read the tables of $DB (see $WORK/reader.log)"
}

# After the close: "Staymarker" once more, through the project's own export
# tool, in place of what snapshot read.
export_staymarker() {
  local attempt
  for attempt in 1 2 3 4 5; do
    if "$EXPORT_EXE" --format jsonl >"$SNAP.stay.jsonl" 2>>"$WORK/export.log"; then
      grep -o '^{"Url":"[^"]*"' "$SNAP.stay.jsonl" | cut -d'"' -f4 >"$SNAP.stay"
      return 0
    fi
    sleep "$attempt"
  done
  abort "hotelcrawler-export failed (see $WORK/export.log)"
}

# After the close: "Failures" as the export tool writes it (CSV with a
# header line, lines ending in CR LF) into $SNAP.failures.csv, without the
# CRs. Sets failures_csv_n to its rows, or to -1 when the tool could not
# write it.
export_failures() {
  if "$EXPORT_EXE" --failures 2>>"$WORK/export.log" | tr -d '\r' >"$SNAP.failures.csv" &&
     [ "$(head -n 1 "$SNAP.failures.csv")" = "Kind,Url,AirPort,Reason,Attempts,FailedAt,Desk" ]; then
    failures_csv_n=$(( $(grep -c . "$SNAP.failures.csv") - 1 ))
  else
    failures_csv_n=-1
  fi
}

# Sets from the snapshot: going_n (rows of "Going"), stored (hotel id -> rows
# of "Staymarker"), stored_n (expected hotels stored), failures_n, dest_n.
count_tables() {
  local id
  going_n=$(grep -c . "$SNAP.going")
  failures_n=$(grep -c . "$SNAP.failures")
  dest_n=$(grep -c . "$SNAP.destinations")
  unset stored
  declare -gA stored=()
  while read -r id; do
    [ -n "$id" ] && stored[$id]=$(( ${stored[$id]:-0} + 1 ))
  done < <(grep -o "$ID_PATTERN" "$SNAP.stay" | cut -d= -f2)
  stored_n=0
  for id in "${ALL_IDS[@]}"; do [ -n "${stored[$id]:-}" ] && stored_n=$(( stored_n + 1 )); done
}

# --- what the site's log tells -------------------------------------------------------
# From the case's request lines: requests, faults by kind, requests for a
# result or detail page that had failed before, and requests since the press
# for a detail page that came sooner than a 429's Retry-After allowed ($1 seconds; listed in
# $WORK/early.txt). (Before the press the search timer walks the memo's lines
# by itself, outside the list, and its searches are not held to that.)
# Prints "requests drops 503s 429s retries early".
log_figures() {
  tail -n +$(( log_mark + 1 )) "$SITE_LOG" |
    awk -v wait_s="${1:-0}" -v press_line=$(( press_mark - log_mark )) -v early_file="$WORK/early.txt" '
      BEGIN { printf "" > early_file }
      /&airport=&/ || / GET \/fault\// { next }
      {
        t = $1
        if ($2 == "FAULT") { kind = $3; target = $5 } else { kind = ""; target = $3 }
        requests++
        if (kind == "drop") drops++
        if (kind == "503") unavailable++
        if (kind == "429") refused++
        if (target !~ /^\/(cannonball|hotsavail|hotsdetail)\.ctl\?/) next
        if (target in failed) retries++
        # A request that arrived within 50 ms of the refusal was sent before
        # its answer could tell anything: two copies in flight at once.
        if ((target in until) && t < until[target] && t > at[target] + 0.05 && target ~ /^\/hotsdetail\.ctl\?/) {
          early++
          printf "    asked again %.2f s after a 429: %s\n", t - at[target], target >> early_file
        }
        delete until[target]
        if (kind != "") failed[target] = 1
        # Stamps are taken when the line is read: allow a quarter second.
        if (kind == "429" && NR > press_line) { until[target] = t + wait_s - 0.25; at[target] = t }
      }
      END { print requests + 0, drops + 0, unavailable + 0, refused + 0, retries + 0, early + 0 }'
}
