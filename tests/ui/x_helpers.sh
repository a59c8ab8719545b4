# Helpers for the tests that drive a real window on an X display with
# xdotool; sourced by them.

# Retries "$@" every 0.1 s for up to $1 seconds.
within() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

# The first visible window whose name matches $1, if any.
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
is_visible() { [ -n "$(visible "$1")" ]; }
is_hidden() { [ -z "$(visible "$1")" ]; }

focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
focus() {  # No window manager: give the window the keyboard ourselves.
  local window=$1 deadline=$((SECONDS + 5))
  until focused "$window"; do
    [ $SECONDS -lt $deadline ] || return 1
    xdotool windowfocus "$window" 2>/dev/null || true
    sleep 0.05
  done
}

same_bytes() { cmp -s "$1" "$2"; }

# Whether process $1 has ended (gone, or a zombie waiting for its parent).
has_ended() { [ ! -e "/proc/$1" ] || grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null; }
