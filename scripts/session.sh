# Sourced by the scripts that run the program without a display (run, check-window, soak):
# a virtual X server, a window manager, a private session bus with the accessibility bus,
# and the stopping of everything started here. Not a program of its own.

started=()
# Stops what was started here, the newest first (the program before its X server).
stop_started() {
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    kill "${started[i]}" 2>/dev/null || true
    wait "${started[i]}" 2>/dev/null || true
  done
  started=()
}

# A private HOME in a temporary folder, with its own settings and runtime folders, so
# nothing of the user's is read or written. The caller removes "$HOME" at exit.
use_private_home() {
  HOME=$(mktemp -d "/tmp/skelvane-$1.XXXXXX")
  export HOME XDG_CONFIG_HOME=$HOME/.config XDG_RUNTIME_DIR=$HOME/run
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
}

# Xvfb on a display number it picks itself (-displayfd), so runs side by side never share
# one; DISPLAY is set once it answers.
start_virtual_display() {
  local number
  number=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 100); do [ -s "$number" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -1 "$number")
  rm -f "$number"
  [ "$DISPLAY" != : ] || { echo "no virtual X server started" >&2; return 1; }
}

# twm gives windows a title bar, as a desktop would.
start_window_manager() {
  twm >/dev/null 2>&1 &
  started+=($!)
}

# A private session bus with the accessibility bus, through which drive-window.py finds
# and presses the window's elements.
start_accessibility_bus() {
  local bus
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
  started+=("${bus##*$'\n'}")
  /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
  started+=($!)
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}

# The skelvane-camsim at ADDRESS:PORT, its standard input a pipe held on descriptor 3 of
# this shell: `echo >&3` presses the camera's button, `echo drop >&3` drops its streams.
# Its pid is $simulator_pid.
start_simulator() {  # start_simulator BIN_DIR ADDRESS PORT
  local pipe
  pipe=$(mktemp -u /tmp/skelvane-camsim.XXXXXX)
  mkfifo "$pipe"
  "$1/skelvane-camsim" --address "$2" --port "$3" <"$pipe" >/dev/null &
  simulator_pid=$!
  started+=($simulator_pid)
  exec 3>"$pipe"  # kept open: the simulator's input ends only with this shell
  rm -f "$pipe"
}

# The window id of the program's main window, waiting up to 30 s for it; empty if none.
main_window() {
  local window=""
  for _ in $(seq 300); do
    window=$(xwininfo -root -tree 2>/dev/null |
      awk '/"Skelvane" "Skelvane"/ && !/has no name/ && !/"Lumivor"/ {print $1; exit}')
    [ -n "$window" ] && break
    sleep 0.1
  done
  echo "$window"
}

# The window ids of the message boxes showing now (their caption is "Lumivor").
message_boxes() {
  xwininfo -root -tree 2>/dev/null | awk '/"Lumivor": \(/ {print $1}'
}

# The documents folder of the user's folder list, where the program stores its media.
documents_folder() {
  local documents=$HOME/Documents
  local dirs=${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs
  if [ -f "$dirs" ]; then documents=$(. "$dirs" && echo "${XDG_DOCUMENTS_DIR:-$documents}"); fi
  echo "$documents"
}
