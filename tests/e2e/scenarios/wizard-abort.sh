# The sample game installed as its installer leaves it: the registry key of
# the current user and the install folder with SETUP.INI.
game=$DRIVE_C/SampleGame
mkdir -p "$game"
cp "$FA2_ROOT"/examples/sample-game/* "$game/"
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' InstPath REG_SZ 'C:\SampleGame'
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' InstMode REG_DWORD 1

# Nothing was written to the game.
verify() {
  cmp -s "$game/GAME.DAT" "$FA2_ROOT/examples/sample-game/GAME.DAT"
}
