# The program starts with its window and "STOP", refuses a second start from the same path
# (bringing the first forward), and starts again from another path.
source "$(dirname "$0")/lib/app.sh"
trap stop_all EXIT

a=$(app_dir)
start_app "$a" STOP 20000
line=$(probe windows | head -1)
echo "$line" | grep -q 'Orvanta Kestrune 1\.0\.1\.5' || fail "caption: $line"
echo "ok window TOV_Kestrune: $line"

# Same path: ends by itself without a window of its own.
start=$(date +%s)
(cd "$a" && timeout 30 wine Kestrune.exe) || fail "second start did not end by itself"
echo "ok second start ended after $(($(date +%s) - start)) s"
[ "$(probe windows | wc -l)" -eq 1 ] || fail "a second window appeared: $(probe windows)"

# Another path: a second instance.
b=$(app_dir)
(cd "$b" && wine Kestrune.exe) &
for _ in $(seq 1 40); do
  [ "$(probe windows | wc -l)" -eq 2 ] && break
  sleep 0.5
done
[ "$(probe windows | wc -l)" -eq 2 ] || fail "copy under another path did not start: $(probe windows)"
echo "ok copy under another path started"

# A first instance that is minimised, or hidden in the tray, comes back whole on a second start.
stop_all
for tray in 0 1; do
  c=$(app_dir)
  printf '[Setting]\nToTray=%s\n' "$tray" >"$c/Kestrune.ini"
  start_app "$c" STOP 20000
  [ "$tray" -eq 0 ] && probe minimize
  for _ in $(seq 1 20); do
    probe windows | grep -q minimised && break
    sleep 0.5
  done
  probe windows | grep -q minimised || fail "ToTray=$tray: the window did not minimise: $(probe windows)"
  (cd "$c" && timeout 30 wine Kestrune.exe) || fail "ToTray=$tray: second start did not end by itself"
  for _ in $(seq 1 20); do
    probe windows | grep -q 'visible normal' && break
    sleep 0.5
  done
  probe windows | grep -q 'visible normal' || fail "ToTray=$tray: first window not restored: $(probe windows)"
  echo "ok ToTray=$tray: the minimised first instance came back on a second start"
  stop_all
done
