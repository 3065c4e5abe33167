# The plan check of every scenario: `fa2 plan` is run on the scenario's game
# before the driver starts, and what it predicts is compared with what the
# first run of the updater (program 1 of the script) then did. Sourced by
# run-scenario.sh after scenario-lib.sh; uses WORK, WINEPREFIX, DRIVE_C, FA2,
# UPDATER and the registry values the setup added (FA2_REGISTRY).
#
#   fa2_plan_prepare SCRIPT SOURCES...   after the setup: the plan in
#                                        WORK/plan.txt, the game's files as
#                                        they are before the run; sets
#                                        FA2_PLAN_SIGNAL, the driver's
#                                        --first-exit signal (empty: no plan),
#                                        and FA2_PLAN_EXIT, the plan's status
#   fa2_plan_compare                     after the driver passed: one line
#                                        "ok   plan: ..." or "FAIL plan: ..."
#                                        per comparison
#
# The game is the one the updater looks for: InstPath, InstMode and DataPath
# under HKCU\Software\<CompanyName>\<GameDir> of its UPDATE.INI; every
# CD-ROM drive of the prefix (HKLM\Software\Wine\Drives) is a --disc, in
# the order of the letters. A data folder that does not exist yet (the
# updater makes it, one level) is planned as an empty one.
#
# When program 1 has ended, the driver signals FA2_PLAN_SIGNAL and the
# files are taken again. Then, by the plan's result:
#   would run, exit 1      every write line's destination holds its member
#                          (named by the last part of the line's path,
#                          letter case aside), every keep line's file is as
#                          it was (keep data: the same bytes), every skip
#                          line's destination is still no file (or as it was);
#   would run, other exit  the update not started (fa2_plan_started): no file
#                          of the game's folders changed; started: none, or
#                          the lines as above (a copy after them stopped);
#   refused or fails at    every text the player sees, in that order, among
#                          the boxes of program 1 (a box may go on after the
#                          text in further lines; "..." ends a shortened
#                          text; the plan's own folder and drive names, as
#                          I:\INSTALL, read as the prefix's); no game file
#                          changed when the plan says nothing is written,
#                          else the lines checked as above. A refusal at the
#                          start of the update that the player never
#                          started: no game file changed.
# A scenario whose plan cannot be compared says so with a line
# "# e2e: no plan: REASON" in its setup or script.

FA2_PLAN_SIGNAL=
FA2_PLAN_NOTE=  # why no plan was made
FA2_PLAN_ERROR= # why the plan could not be made although it should
FA2_PLAN_DIR=
FA2_PLAN_EXIT=
FA2_PLAN_FROM=() FA2_PLAN_TO=() # the plan's drives and folders, their names in the prefix
FA2_PLAN_FOLDERS=()             # the game's folders (install, data)
FA2_PLAN_DATA= FA2_PLAN_STANDIN= # the data folder, and the empty one planned for it when missing

# The Linux path of a Windows path in the prefix (its drive letter's folder).
fa2_linux_path() {
  [[ $1 =~ ^([A-Za-z]):(.*)$ ]] || return 1
  local drive rest=${BASH_REMATCH[2]//\\//}
  drive=$(readlink -f "$WINEPREFIX/dosdevices/${BASH_REMATCH[1],,}:") || return 1
  rest=${rest#/}
  rest=${rest%/}
  printf '%s\n' "$drive${rest:+/$rest}"
}

# The value of KEY in section [SETUP] of an UPDATE.INI (code page 932).
fa2_plan_ini_value() { # FILE KEY
  iconv -f CP932 -t UTF-8 "$1" 2>/dev/null | tr -d '\r' | awk -v key="${2^^}" '
    /^[ \t]*\[/ { section = toupper($0) ~ /^[ \t]*\[SETUP\]/; next }
    section && index($0, "=") {
      name = substr($0, 1, index($0, "=") - 1); gsub(/^[ \t]+|[ \t]+$/, "", name)
      if (toupper(name) != key) next
      value = substr($0, index($0, "=") + 1); gsub(/^[ \t]+|[ \t]+$/, "", value)
      print value; exit
    }'
}

# Every entry under the folders, each file with its size, time and bytes.
fa2_plan_state() { # DIR...
  local d
  for d in "$@"; do
    [[ -e $d ]] || continue
    find "$d" -type f -printf '%p file %s %T@\n' -o -printf '%p %y %l\n'
    find "$d" -type f -exec md5sum {} +
  done | LC_ALL=C sort -u
}

# The plan one step a line: the texts' line breaks (CR LF, CR) written as
# the driver prints them in its log, \r\n and \r.
fa2_plan_joined() {
  local line buffer=
  while IFS= read -r line; do
    if [[ $line == *$'\r' ]]; then
      buffer+="${line%$'\r'}\\r\\n"
      continue
    fi
    buffer+=$line
    printf '%s\n' "${buffer//$'\r'/\\r}"
    buffer=
  done <"$WORK/plan.txt"
  [[ -z $buffer ]] || printf '%s\n' "$buffer"
}

# The plan's lines that name a destination: KEY, decision, destination, the
# member's name, tab-separated (a stand-in data folder mapped back).
fa2_plan_lines() {
  local line re='^(UpdateFile[0-9]+) [^ ]+ (.+) -> (/.+): (write|keep data|keep|skip)( |$)'
  while IFS= read -r line; do
    [[ $line =~ $re ]] || continue
    local dest=${BASH_REMATCH[3]} name=${BASH_REMATCH[2]##*\\}
    [[ -n $FA2_PLAN_STANDIN && $dest == "$FA2_PLAN_STANDIN"/* ]] && dest=$FA2_PLAN_DATA${dest#"$FA2_PLAN_STANDIN"}
    printf '%s\t%s\t%s\t%s\n' "${BASH_REMATCH[1]}" "${BASH_REMATCH[4]}" "$dest" "$name"
  done <"$FA2_PLAN_DIR/plan"
}

# The plan names the folders by drives of its own (install: ... as
# I:\INSTALL, data: ... as J:\DATA, disc drive: ... as Q:): the names in
# the prefix for them, folders before drives, for the texts the player sees.
fa2_plan_drives() { # INSTPATH DATAPATH DISC-LETTER...
  local install=$1 data=$2 plan=$FA2_PLAN_DIR/plan name
  shift 2
  FA2_PLAN_FROM=() FA2_PLAN_TO=()
  name=$(sed -n 's/^install: .* as \([A-Z]:\\[^,]*\), InstMode .*$/\1/p' "$plan")
  [[ -n $name ]] && FA2_PLAN_FROM+=("$name" "${name%%\\*}") FA2_PLAN_TO+=("${install%\\}" "${install%%\\*}")
  name=$(sed -n 's/^data: .* as \([A-Z]:\\.*\)$/\1/p' "$plan")
  [[ -n $name && -n $data ]] && FA2_PLAN_FROM+=("$name" "${name%%\\*}") FA2_PLAN_TO+=("${data%\\}" "${data%%\\*}")
  while read -r name; do
    (($#)) || break
    FA2_PLAN_FROM+=("$name") FA2_PLAN_TO+=("$1")
    shift
  done < <(sed -n 's/^disc drive: .* as \([A-Z]:\) (CD-ROM)$/\1/p' "$plan")
}

# TEXT with the plan's folders and drives named as in the prefix.
fa2_plan_in_prefix() { # TEXT
  local text=$1 i
  for i in "${!FA2_PLAN_FROM[@]}"; do text=${text//"${FA2_PLAN_FROM[i]}"/"${FA2_PLAN_TO[i]}"}; done
  printf '%s\n' "$text"
}

# The destinations' files and the folders' state, into FA2_PLAN_DIR/WHEN.
fa2_plan_snapshot() { # WHEN
  local when=$FA2_PLAN_DIR/$1 key decision dest name
  mkdir -p "$when"
  while IFS=$'\t' read -r key decision dest name; do
    [[ -f $dest ]] && mkdir -p "$when${dest%/*}" && cp -a "$dest" "$when$dest"
  done <"$FA2_PLAN_DIR/lines"
  fa2_plan_state "${FA2_PLAN_FOLDERS[@]}" >"$when.state"
}

fa2_plan_prepare() { # SCRIPT SOURCES...: the script the driver plays, and the scenario's files
  local script=$1 optout
  shift
  FA2_PLAN_DIR=$WORK/plan
  mkdir -p "$FA2_PLAN_DIR"
  optout=$(grep -h -m1 '^# e2e: no plan' "$@" 2>/dev/null | head -1)
  if [[ -n $optout ]]; then
    optout=${optout#'# e2e: no plan'}
    optout=${optout#:}
    FA2_PLAN_NOTE="opted out:${optout:- (no reason given)}"
    [[ -n ${optout// /} ]] || FA2_PLAN_ERROR="the scenario opts out of the plan without a reason"
    return 0
  fi
  local first
  first=$(grep -m1 -E '^[[:space:]]*start([[:space:]]|$)' "$script" | sed 's/[[:space:]]*$//; s/^[[:space:]]*//')
  if [[ $first != start ]]; then
    FA2_PLAN_ERROR="program 1 of the script is not $UPDATER (${first:-no start}): opt out or start it first"
    return 0
  fi

  # The game the updater looks for.
  local members=$FA2_PLAN_DIR/members ini
  if ! env -u LD_PRELOAD "$FA2" extract "$UPDATER" -C "$members" >/dev/null 2>"$FA2_PLAN_DIR/extract.err"; then
    FA2_PLAN_ERROR="fa2 cannot read the updater: $(head -1 "$FA2_PLAN_DIR/extract.err")"
    return 0
  fi
  ini=$(find "$members" -maxdepth 1 -iname UPDATE.INI | head -1)
  local key company gamedir
  company=$(fa2_plan_ini_value "$ini" CompanyName)
  gamedir=$(fa2_plan_ini_value "$ini" GameDir)
  key="HKCU\\SOFTWARE\\${company^^}\\${gamedir^^}"
  local instpath=${FA2_REGISTRY["$key\\INSTPATH"]-} datapath=${FA2_REGISTRY["$key\\DATAPATH"]-}
  local instmode=${FA2_REGISTRY["$key\\INSTMODE"]-}
  if [[ -z $instpath || -z $instmode ]]; then
    FA2_PLAN_NOTE="none made: no game is installed (no InstPath and InstMode under HKCU\\Software\\$company\\$gamedir)"
    return 0
  fi
  local install arguments=()
  install=$(fa2_linux_path "$instpath")
  if [[ ! -d $install ]]; then
    FA2_PLAN_NOTE="none made: InstPath $instpath is no folder"
    return 0
  fi
  # The members that come as deltas, made from the installed files that are
  # their bases (one that is not stays unmade: its line then writes the full
  # member, or the plan refuses the update).
  env -u LD_PRELOAD "$FA2" extract "$UPDATER" -C "$members" --from "$install" >/dev/null 2>&1
  FA2_PLAN_FOLDERS=("$install")
  FA2_PLAN_STANDIN= FA2_PLAN_DATA=
  if [[ -n $datapath ]]; then
    FA2_PLAN_DATA=$(fa2_linux_path "$datapath")
    FA2_PLAN_FOLDERS+=("$FA2_PLAN_DATA")
    if [[ -d $FA2_PLAN_DATA ]]; then
      arguments+=(--data "$FA2_PLAN_DATA")
    elif [[ -d ${FA2_PLAN_DATA%/*} ]]; then
      FA2_PLAN_STANDIN=$FA2_PLAN_DIR/data
      mkdir -p "$FA2_PLAN_STANDIN"
      arguments+=(--data "$FA2_PLAN_STANDIN")
    else
      FA2_PLAN_NOTE="none made: DataPath $datapath and the folder it is in do not exist"
      return 0
    fi
  fi
  local entry letter disc letters=()
  for letter in {A..Z}; do
    entry="HKLM\\SOFTWARE\\WINE\\DRIVES\\$letter:"
    [[ ${FA2_REGISTRY["$entry"]-} == [Cc][Dd][Rr][Oo][Mm] ]] || continue
    disc=$(readlink -f "$WINEPREFIX/dosdevices/${letter,,}:") && [[ -d $disc ]] || continue
    arguments+=(--disc "$disc")
    letters+=("$letter:")
  done
  arguments+=(--mode "$((instmode))")

  env -u LD_PRELOAD "$FA2" plan "$UPDATER" --install "$install" "${arguments[@]}" \
    >"$WORK/plan.txt" 2>"$FA2_PLAN_DIR/plan.err"
  FA2_PLAN_EXIT=$?
  if ! grep -q '^result: ' "$WORK/plan.txt"; then
    FA2_PLAN_ERROR="fa2 plan made no plan: $(head -1 "$FA2_PLAN_DIR/plan.err")"
    return 0
  fi
  fa2_plan_joined >"$FA2_PLAN_DIR/plan"
  fa2_plan_lines >"$FA2_PLAN_DIR/lines"
  fa2_plan_drives "$instpath" "$datapath" "${letters[@]}"
  fa2_plan_snapshot before
  FA2_PLAN_SIGNAL=fa2-plan-first-exit
  fa2_on_signal "$FA2_PLAN_SIGNAL" fa2_plan_snapshot after
}

# A check of the plan, printed as fa2_check does.
fa2_plan_check() { # WHAT COMMAND...
  local what=$1
  shift
  what=${what//$DRIVE_C/C:}
  what=${what//$WORK\//}
  if ! "$@"; then
    echo "FAIL plan: $what"
    FA2_FAILURES=$((FA2_FAILURES + 1))
    return 1
  fi
  echo "ok   plan: $what"
}

# The box (as the driver prints it) shows TEXT: the same, or TEXT and
# further lines; a TEXT ending in "..." is the box's beginning.
fa2_plan_shows() { # BOX TEXT
  local box=$1 text=$2 shortage='^(ディスク容量が足りません。[A-Z]: ドライブに )[0-9]+( バイトの空き容量が必要です)$'
  # The bytes a drive lacks are the plan's count of what the run stages; the
  # file system takes whole clusters, so the run's own count may be higher.
  if [[ $text =~ $shortage ]]; then
    local head=${BASH_REMATCH[1]} tail=${BASH_REMATCH[2]}
    [[ $box =~ $shortage && ${BASH_REMATCH[1]} == "$head" && ${BASH_REMATCH[2]} == "$tail" ]]
    return
  fi
  [[ $box == "$text" || $box == "$text\\r"* || $box == "$text\\n"* ]] ||
    [[ $text == *... && $box == "${text%...}"* ]]
}

# Each of the texts, in order, among the boxes.
fa2_plan_seen() { # BOXES-FILE TEXT...
  local boxes=$1 box
  shift
  while IFS= read -r box && (($#)); do
    fa2_plan_shows "$box" "$1" && shift
  done <"$boxes"
  (($# == 0))
}

# What the player sees by the plan: the result's texts, else the first
# refusal's.
fa2_plan_texts() { # RESULT-LINE
  local result=$1 texts line
  if [[ $result == *'the player sees "'* ]]; then
    texts=${result#*the player sees \"}
    texts=${texts%%\"; *}
  elif [[ $result == *'no line applies: "'* ]]; then
    texts=${result#*no line applies: \"}
    texts=${texts%%\"; *}
  elif line=$(grep -m1 -E 'refused with ".*"$' "$FA2_PLAN_DIR/plan"); then
    texts=${line#*refused with \"}
    texts=${texts%\"}
  else
    return 0
  fi
  printf '%s\n' "${texts//'" / "'/$'\n'}"
}

# FILE has the bytes of the member NAME (letter case aside).
fa2_plan_same_member() { # FILE NAME
  local member base
  for member in "$FA2_PLAN_DIR"/members/*; do
    base=${member##*/}
    [[ ${base,,} == "${2,,}" ]] && { cmp -s "$1" "$member"; return; }
  done
  return 1
}

# Each line with a destination against the files after program 1.
fa2_plan_compare_lines() {
  local key decision dest name before after
  FA2_PLAN_COMPARED=0
  while IFS=$'\t' read -r key decision dest name; do
    before=$FA2_PLAN_DIR/before$dest after=$FA2_PLAN_DIR/after$dest
    FA2_PLAN_COMPARED=$((FA2_PLAN_COMPARED + 1))
    case $decision in
      write) fa2_plan_check "$key writes $dest: the member $name" fa2_plan_same_member "$after" "$name" ;;
      keep)
        fa2_plan_check "$key keeps $dest: bytes and time as before" \
          eval 'cmp -s "$before" "$after" && [[ $(stat -c %Y "$before") == $(stat -c %Y "$after") ]]' ;;
      'keep data') fa2_plan_check "$key keeps the data in $dest: bytes as before" cmp -s "$before" "$after" ;;
      skip) fa2_plan_check "$key skips $dest: no file written" eval '[[ ! -f $after ]] || cmp -s "$before" "$after"' ;;
    esac
  done <"$FA2_PLAN_DIR/lines"
}

# Whether the player started the update in program 1's wizard: Next
# pressed on its confirmation page (the second Next; Back counts one back).
fa2_plan_started() {
  tr -d '\r' <"$WORK/driver.log" | awk '/^# program 1 ended with /{ exit }
    /^ok +[0-9]+ (click 1|key enter)$/ { if (++page >= 2) started = 1 }
    /^ok +[0-9]+ click 4$/ { page-- }
    END { exit !started }'
}

fa2_plan_compare() {
  if [[ -n $FA2_PLAN_ERROR ]]; then
    fa2_plan_check "$FA2_PLAN_ERROR" false
    return
  fi
  if [[ -n $FA2_PLAN_NOTE ]]; then
    echo "skip plan: $FA2_PLAN_NOTE"
    return 0
  fi
  local result code boxes=$FA2_PLAN_DIR/boxes
  result=$(grep -m1 '^result: ' "$FA2_PLAN_DIR/plan")
  code=$(tr -d '\r' <"$WORK/driver.log" | sed -n 's/^# program 1 ended with \([0-9]*\)$/\1/p' | head -1)
  tr -d '\r' <"$WORK/driver.log" | sed -n '/^# program 1 ended with /q; s/^# box "\(.*\)"$/\1/p' >"$boxes"
  if [[ ! -f $FA2_PLAN_DIR/after.state || -z $code ]]; then
    fa2_plan_check "program 1 was seen to end (the driver's --first-exit signal)" false
    return
  fi
  local unchanged='cmp -s "$FA2_PLAN_DIR/before.state" "$FA2_PLAN_DIR/after.state"'
  local kind=${result#result: }
  kind=${kind%%:*}
  case $result in
    'result: would run:'*)
      if ((code == 1)); then
        fa2_plan_compare_lines
        echo "plan: files compared: would run, program 1 completed, $FA2_PLAN_COMPARED lines"
      elif ! fa2_plan_started; then
        fa2_plan_check "would run; the player did not start the update (program 1 ended with $code): no game file changed" \
          eval "$unchanged"
        echo "plan: not done compared: would run, the update not started"
      elif eval "$unchanged"; then
        # Stopped by what the plan cannot see (a file held by another
        # program, a cancelled disc prompt before any line) and undone.
        fa2_plan_check "would run; the update stopped (program 1 ended with $code): no game file changed" true
        echo "plan: not done compared: would run, the update stopped and left nothing"
      else
        # The update lines were written; a later copy stopped.
        fa2_plan_check "would run; the update stopped (program 1 ended with $code) with a copy line still to come" \
          eval "grep -E '^CopyFile' '$FA2_PLAN_DIR/plan' | grep -qvE ': not (selected|applied) '"
        fa2_plan_compare_lines
        echo "plan: files compared: would run, program 1 ended with $code after the update lines, $FA2_PLAN_COMPARED lines"
      fi ;;
    'result: refused:'* | 'result: fails at '*)
      if [[ $result != *'before its wizard opens'* ]] && ! fa2_plan_started; then
        fa2_plan_check "$kind when the update starts, which the player did not start (program 1 ended with $code): no game file changed" \
          eval "$unchanged"
        echo "plan: not done compared: $kind, the update not started"
        return
      fi
      local texts=() text shown=
      mapfile -t texts < <(fa2_plan_texts "$result" | while IFS= read -r text; do fa2_plan_in_prefix "$text"; done)
      for text in "${texts[@]}"; do shown+="${shown:+, then }\"$text\""; done
      if ((${#texts[@]})) && ! fa2_plan_check "$kind: the player saw $shown" fa2_plan_seen "$boxes" "${texts[@]}"; then
        sed 's/^/     box of program 1: /' "$boxes"
      fi
      if [[ $result == *'nothing is written' || $result == *'no game file is changed'* ]]; then
        fa2_plan_check "$kind, program 1 ended with $code: no game file changed" eval "$unchanged"
      else
        fa2_plan_compare_lines
      fi
      echo "plan: refusal compared: ${result#result: }" ;;
    *) fa2_plan_check "a result this check knows: $result" false ;;
  esac
}
