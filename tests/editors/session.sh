# Sourced: Kdenlive and Shotcut on a display of their own, with this
# checkout's effect descriptions and a home that is not the user's. Needs
# $root (the checkout) and $session (an empty folder); FREI0R_PATH names the
# plugin's folder. session_start, then editor_start for each editor, and
# session_stop at the end, which ends only what was started here.

session_start() {
  mkdir -p "$session/home/.local/share/kdenlive/effects" "$session/run" "$session/tmp"
  chmod 700 "$session/run"
  # Kdenlive leaves a lock in the temporary folder until it closes normally,
  # and asks about a crash at its next start if it finds one.
  export TMPDIR="$session/tmp"
  cp "$root/plugins/frei0r/kdenlive/frei0r_pelx04.xml" "$session/home/.local/share/kdenlive/effects/"
  export HOME="$session/home" XDG_RUNTIME_DIR="$session/run" QT_QPA_PLATFORM=xcb
  # Xvfb writes the display number it took once it is ready.
  Xvfb -displayfd 1 -screen 0 1600x1000x24 -nolisten tcp >"$session/display" 2>"$session/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$session/display" ] && break; sleep 0.1; done
  [ -s "$session/display" ] || return 1
  export DISPLAY=":$(cat "$session/display")"
  # Kdenlive will not start without a session bus.
  dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$session/dbus" || return 1
  export DBUS_SESSION_BUS_ADDRESS="$(sed -n 1p "$session/dbus")"
  dbus_pid=$(sed -n 2p "$session/dbus")
  # Shotcut 22.12 reads filters only from <its binary>/../share/shotcut, so a
  # copy of its binary gets a prefix of its own: Debian's filters and ours.
  prefix="$session/shotcut"
  mkdir -p "$prefix/bin" "$prefix/share/shotcut/qml/filters"
  cp "$(command -v shotcut)" "$prefix/bin/"
  for item in /usr/share/shotcut/* /usr/share/shotcut/qml/*; do
    case "$item" in */qml | */filters) ;; *) ln -s "$item" "$prefix/share/shotcut/${item#/usr/share/shotcut/}" ;; esac
  done
  ln -s /usr/share/shotcut/qml/filters/* "$prefix/share/shotcut/qml/filters/"
  ln -s "$root/plugins/frei0r/shotcut/pelx04" "$prefix/share/shotcut/qml/filters/pelx04"
}

# EDITOR LOG ARGS...: start it in the background (its pid in $editor_pid).
editor_start() {
  program=kdenlive
  [ "$1" = shotcut ] && program="$prefix/bin/shotcut"
  log="$2"
  shift 2
  "$program" "$@" >"$log" 2>&1 &
  editor_pid=$!
}

# LOG PATTERN SECONDS: wait until PATTERN is in LOG.
editor_wait() {
  for _ in $(seq $(($3 * 5))); do
    grep -qas "$2" "$1" && return 0
    kill -0 "$editor_pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# An editor asks before it closes a changed project: it is killed instead.
editor_stop() {
  kill -9 "$editor_pid" 2>/dev/null || :
  wait "$editor_pid" 2>/dev/null || :
}

# NAME: the editor's main window to the full screen (there is no
# window manager to do it), so its panels are drawn at their size.
editor_window_full() {
  window=$(timeout -k 5 30 xdotool search --sync --onlyvisible --pid "$editor_pid" --name "$1" | tail -n 1)
  xdotool windowsize "$window" 1600 1000 windowmove "$window" 0 0
}

session_stop() {
  [ -n "${dbus_pid:-}" ] && kill "$dbus_pid" 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null || :
}
