# Install folder C:\SampleGame (install mode 1), data folder C:\SaveData.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SaveData'
data=$DRIVE_C/SaveData
mkdir -p "$data" "$GAME/SUB" "$GAME/表示"
NEWER="2027-06-01 00:00:00"
start_time=$(date +%s)

# What the player has before the update.
printf 'old readme\r\n' >"$GAME/README.TXT"; touch -d "$NEWER UTC" "$GAME/README.TXT"
touch -d "$NEWER UTC" "$GAME/GAME.EXE"
printf 'old read-only\r\n' >"$GAME/READONLY.DAT"; touch -d "$NEWER UTC" "$GAME/READONLY.DAT"
chmod a-w "$GAME/READONLY.DAT"
printf 'my saved game\r\n' >"$data/SAVE1.DAT"; touch -d "$FA2_OLD_TIME UTC" "$data/SAVE1.DAT"
printf 'old inner\r\n' >"$GAME/SUB/INNER.DAT"; touch -d "$FA2_OLD_TIME UTC" "$GAME/SUB/INNER.DAT"

# Update A: no DataFolder.
a=$WORK/update-a
mkdir -p "$a"
fa2_cp932 "$a/UPDATE.INI" <<'INI'
[SETUP]
CompanyName=SampleSoft
GameTitle=サンプルゲーム
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=Lines-A

[UPDATE]
; u: written when the installed file is older; kept when it is newer (U = u)
UpdateFile00=u,GAME.DAT
UpdateFile01=U,README.TXT
; d: data path; an existing file keeps its content, a missing one is written
UpdateFile02=d,SAVE1.DAT
UpdateFile03=d,SAVE2.DAT
; o: only over an existing file, whatever its time
UpdateFile04=o,GAME.EXE
UpdateFile05=o,OPTION.DAT
; plain lines: always written, a read-only file included
UpdateFile06=NEWFILE.DAT
UpdateFile07=READONLY.DAT
; mode fields: install mode 1 takes the first, drops the second
UpdateFile08=1,u,MODE1.DAT
UpdateFile09=2,u,MODE2.DAT
; a folder in the path: the member is named by the last part
UpdateFile10=u,SUB\INNER.DAT
; Shift-JIS names whose second bytes are backslashes (表, ソ)
UpdateFile11=u,表示\ソ.DAT
; after the gap (no UpdateFile12) nothing is read
UpdateFile13=u,NEVER.DAT
INI
for f in GAME.DAT README.TXT SAVE1.DAT SAVE2.DAT GAME.EXE OPTION.DAT NEWFILE.DAT READONLY.DAT \
  MODE1.DAT MODE2.DAT INNER.DAT ソ.DAT NEVER.DAT; do
  printf 'new %s\r\n' "$f" >"$a/$f"
done
fa2_make_updater lines-a "$a" || return 1
UPDATER=$WORK/lines-a.exe

# Update B: DataFolder DLC, below both folders.
b=$WORK/update-b
mkdir -p "$b"
fa2_cp932 "$b/UPDATE.INI" <<'INI'
[SETUP]
CompanyName=SampleSoft
GameTitle=サンプルゲーム
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=Lines-B
DataFolder=DLC
AgreementTitle=INTRO.TXT

[UPDATE]
UpdateFile00=u,DLC1.DAT
UpdateFile01=d,DLCSAVE.DAT
INI
for f in DLC1.DAT DLCSAVE.DAT; do printf 'new %s\r\n' "$f" >"$b/$f"; done
printf '%s' '追加データ %s %i %d %02i %llu %n 100%% です' | iconv -f UTF-8 -t CP932 >"$b/INTRO.TXT"
fa2_make_updater lines-b "$b" --member INTRO.TXT=compressed || return 1
LINES_B=$(fa2_winpath "$WORK/lines-b.exe")

# Update C: OverwriteOnly.
c=$WORK/update-c
mkdir -p "$c"
fa2_cp932 "$c/UPDATE.INI" <<'INI'
[SETUP]
CompanyName=SampleSoft
GameTitle=サンプルゲーム
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=Lines-C

[UPDATE]
OverwriteOnly=1
UpdateFile00=MISSING.DAT
UpdateFile01=SUB
UpdateFile02=u,NEWFILE.DAT
INI
printf 'missing\r\n' >"$c/MISSING.DAT"
printf 'newer %s\r\n' NEWFILE.DAT >"$c/NEWFILE.DAT"
fa2_make_updater lines-c "$c" || return 1
LINES_C=$(fa2_winpath "$WORK/lines-c.exe")

written() { # FILE MEMBER-FOLDER: the member's bytes and time
  fa2_expect_same "$1" "$2/$(basename "$1")"
  fa2_expect_mtime "$1" "$FA2_MEMBER_TIME"
}

verify() {
  written "$GAME/GAME.DAT" "$a"
  fa2_expect_text "$GAME/README.TXT" $'old readme\r\n'
  fa2_expect_mtime "$GAME/README.TXT" "$NEWER"
  # A kept data file is written back with its own bytes, without a stamp.
  fa2_expect_text "$data/SAVE1.DAT" $'my saved game\r\n'
  fa2_check "SAVE1.DAT rewritten during the run" test "$(fa2_mtime "$data/SAVE1.DAT")" -ge "$start_time"
  written "$data/SAVE2.DAT" "$a"
  written "$GAME/GAME.EXE" "$a"
  fa2_expect_missing "$GAME/OPTION.DAT"
  written "$GAME/NEWFILE.DAT" "$c"
  written "$GAME/READONLY.DAT" "$a"
  fa2_check "READONLY.DAT writable now" test -w "$GAME/READONLY.DAT" -a "$(stat -c %a "$GAME/READONLY.DAT")" != 444
  written "$GAME/MODE1.DAT" "$a"
  fa2_expect_missing "$GAME/MODE2.DAT"
  written "$GAME/SUB/INNER.DAT" "$a"
  fa2_expect_missing "$GAME/INNER.DAT"
  written "$GAME/表示/ソ.DAT" "$a"
  fa2_expect_missing "$GAME/NEVER.DAT"
  fa2_expect_same "$GAME/SETUP.INI" "$FA2_ROOT/examples/sample-game/SETUP.INI"
  fa2_expect_mtime "$GAME/SETUP.INI" "$FA2_OLD_TIME"
  fa2_expect_missing "$data/GAME.DAT"
  # Update B
  written "$GAME/DLC/DLC1.DAT" "$b"
  written "$data/DLC/DLCSAVE.DAT" "$b"
  fa2_expect_missing "$GAME/DLCSAVE.DAT"
  fa2_expect_missing "$data/DLCSAVE.DAT"
  # Update C
  fa2_expect_missing "$GAME/MISSING.DAT"
  fa2_check "SUB is still a folder" test -d "$GAME/SUB"
  fa2_expect_no_leftovers "$GAME"
  fa2_expect_no_leftovers "$data"
}
