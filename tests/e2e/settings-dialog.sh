# The settings dialog of the running program, driven through its controls' own messages: the
# changed values reach the INI file and the Run key, a new output device while relaying asks for
# a restart (the relay goes on), a failed check keeps the dialog open, and a sample rate chosen
# and left unsaved stays chosen.
# With KESTRUNE_SCREENSHOTS set to a directory, a picture of the dialog goes there.
source "$(dirname "$0")/lib/app.sh"

tone_pid=""
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null
  stop_all
  # The autostart entry must not start the program in the tests that share this prefix.
  wine reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v OVKestrune /f >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/tone.wav" synth 5 sine 1000 vol 0.1
(while pacat --device=test_src "$TESTENV_DIR/tone.wav" 2>/dev/null; do :; done) &
tone_pid=$!

a=$(app_dir)
cat >"$a/Kestrune.ini" <<'INI'
[Setting]
Source=Monitor of TestSource
Destination=RelayOut
Buffer=100
Auto=1
FadeIn=0.5
SilenceTime=0
INI
start_app "$a" Online 30000
echo "ok online"

ini_value() {
  tr -d '\r' <"$a/Kestrune.ini" | awk -F= -v k="$1" '$1 == k { print substr($0, length(k) + 2); exit }'
}

# Opens the dialog from the main window's button and waits for it.
open_dialog() {
  probe click SBSettings >/dev/null
  probe wait SBSave "Save settings" 10000 >/dev/null || fail "the dialog did not open"
}

# Waits for a message box with the text; prints nothing.
wait_box() {
  local i
  for i in $(seq 1 50); do
    probe boxes | grep -qF "$1" && return 0
    sleep 0.2
  done
  fail "no box saying '$1' (boxes: $(probe boxes))"
}

open_dialog
[ "$(probe selected BSDestination)" = "RelayOut" ] || fail "output device shown: $(probe selected BSDestination)"
[ "$(probe selected BSSource)" = "Monitor of TestSource" ] || fail "input device shown: $(probe selected BSSource)"
[ "$(probe value SliderBuffer)" = "10" ] || fail "buffer slider: $(probe value SliderBuffer)"
[ "$(probe text LBBuffer)" = "100 ms" ] || fail "buffer label: $(probe text LBBuffer)"
[ "$(probe selected RGBlkSize)" = "Large" ] || fail "block size: $(probe selected RGBlkSize)"
echo "ok the dialog shows the settings"

if [ -n "${KESTRUNE_SCREENSHOTS:-}" ]; then
  sleep 0.5
  id=$(xwininfo -root -tree | awk '/"Settings"/ { print $1; exit }')
  [ -n "$id" ] && import -window "$id" "$KESTRUNE_SCREENSHOTS/settings-dialog.png" &&
    echo "ok screenshot $KESTRUNE_SCREENSHOTS/settings-dialog.png"
fi

probe set SliderBuffer 20
probe wait LBBuffer "200 ms" 3000 >/dev/null || fail "buffer label after the move: $(probe text LBBuffer)"
probe set sVolume 150
probe select BSDestination PulseAudio
probe check CBAutoStart 1
probe check cbTray 1
probe select RGSend "After plugins"
probe set EFadeIn 1.5
sleep 0.5
[ "$(probe checked CBAutoStart)" = "1" ] || fail "autostart not checked"
[ "$(probe selected RGSend)" = "After plugins" ] || fail "send stream: $(probe selected RGSend)"
[ "$(probe text LVolume)" = "150%" ] || fail "volume label: $(probe text LVolume)"
echo "ok values changed through the controls"

probe click SBSave
wait_box "For apply of the new settings it is necessary to restart player"
echo "ok restart asked for: $(probe boxes)"
probe answer OK
[ "$(probe text LabStatus)" = "Online" ] || fail "status after the settings: $(probe text LabStatus)"
echo "ok the relay goes on"

[ "$(ini_value Buffer)" = "200" ] || fail "Buffer in the file: $(ini_value Buffer)"
[ "$(ini_value Destination)" = "PulseAudio" ] || fail "Destination in the file: $(ini_value Destination)"
[ "$(ini_value Volume)" = "150" ] || fail "Volume in the file: $(ini_value Volume)"
[ "$(ini_value ToTray)" = "1" ] || fail "ToTray in the file: $(ini_value ToTray)"
[ "$(ini_value Send)" = "1" ] || fail "Send in the file: $(ini_value Send)"
case "$(ini_value FadeIn)" in 1.5 | 1,5) ;; *) fail "FadeIn in the file: $(ini_value FadeIn)" ;; esac
[ "$(ini_value Source)" = "Monitor of TestSource" ] || fail "Source in the file: $(ini_value Source)"
echo "ok INI: Buffer=200 Destination=PulseAudio Volume=150 ToTray=1 Send=1 FadeIn=$(ini_value FadeIn)"

run=$(wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v OVKestrune 2>/dev/null | tr -d '\r' |
  awk '/OVKestrune/ { sub(/^.*REG_SZ[ \t]+/, ""); print; exit }')
want=$(winepath -w "$a/Kestrune.exe" 2>/dev/null | tr -d '\r')
[ "${run,,}" = "${want,,}" ] || fail "Run key holds '$run', not '$want'"
echo "ok Run key: $run"

# Interactive mode with program ID 0 is refused; the dialog stays open.
open_dialog
probe check CBSourceMode 1
probe set EPID 0
probe click SBSave
wait_box "The program ID (PID) must not be equal 0"
probe answer OK
probe wait SBSave "Save settings" 3000 >/dev/null || fail "the dialog closed after a failed check"
[ "$(ini_value SourceMode)" = "0" ] || fail "SourceMode written: $(ini_value SourceMode)"
echo "ok program ID 0 refused"

# A sample rate chosen and not saved stays chosen, in the program only.
probe select CBFreq 48000
sleep 0.3
probe close
sleep 1
probe boxes | grep -q . && fail "a box after closing the dialog: $(probe boxes)"
[ "$(ini_value Freq)" != "2" ] || fail "Freq written without saving"
open_dialog
[ "$(probe selected CBFreq)" = "48000" ] || fail "rate after closing: $(probe selected CBFreq)"
[ "$(probe checked CBSourceMode)" = "0" ] || fail "interactive mode kept without saving"
probe close
echo "ok unsaved sample rate kept"
