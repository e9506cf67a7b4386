# Sourced by the test and run scripts: a private X display, a private PulseAudio with two null
# sinks, and a fresh Wine prefix, all inside one temporary directory that testenv_stop removes.
#   testenv_start        start everything, export the variables below
#   testenv_stop         stop everything and remove the directory
#   testenv_sink_module  the PulseAudio module index of a sink (relay_out or test_src)
# Exports: TESTENV_DIR DISPLAY WINEPREFIX WINEDEBUG WINEDLLOVERRIDES XDG_RUNTIME_DIR
#          PULSE_RUNTIME_PATH PULSE_SERVER

testenv_start() {
  TESTENV_DIR=$(mktemp -d /tmp/kestrune-env.XXXXXX)
  export TESTENV_DIR
  export XDG_RUNTIME_DIR="$TESTENV_DIR/run"
  export PULSE_RUNTIME_PATH="$TESTENV_DIR/pulse"
  mkdir -p "$XDG_RUNTIME_DIR" "$PULSE_RUNTIME_PATH"
  chmod 700 "$XDG_RUNTIME_DIR" "$PULSE_RUNTIME_PATH"

  # Display: keep the caller's one when asked, otherwise a private Xvfb on a free number.
  if [ -z "${TESTENV_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$TESTENV_DIR/xvfb.log" 2>&1 &
    echo $! >"$TESTENV_DIR/xvfb.pid"
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X${n}" ] && break
      sleep 0.1
    done
  fi

  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=relay_out sink_properties=device.description=RelayOut" \
    --load="module-null-sink sink_name=test_src sink_properties=device.description=TestSource" \
    >"$TESTENV_DIR/pulse.log" 2>&1 &
  echo $! >"$TESTENV_DIR/pulse.pid"
  export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
  local i
  for i in $(seq 1 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done

  export WINEPREFIX="$TESTENV_DIR/wine"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >"$TESTENV_DIR/wineboot.log" 2>&1 || true
  wineserver -w 2>/dev/null || true
  # This Wine does not look for its own fonts where fonts-wine puts them; in the prefix's font
  # folder it finds Marlett, which draws the caption buttons.
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  # Captions and frames in screenshots even without a window manager.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
}

testenv_sink_module() {
  pactl list short modules | awk -v s="sink_name=$1" 'index($0, s) { print $1; exit }'
}

testenv_stop() {
  [ -n "${TESTENV_DIR:-}" ] || return 0
  WINEPREFIX="$TESTENV_DIR/wine" wineserver -k 2>/dev/null || true
  local f
  for f in pulse xvfb; do
    if [ -f "$TESTENV_DIR/$f.pid" ]; then
      kill "$(cat "$TESTENV_DIR/$f.pid")" 2>/dev/null || true
      wait "$(cat "$TESTENV_DIR/$f.pid")" 2>/dev/null || true
    fi
  done
  rm -rf "$TESTENV_DIR"
  unset TESTENV_DIR
}
