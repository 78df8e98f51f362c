# Shared by the bench scripts, which source it.

# A free TCP port on loopback.
free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Sends COUNT messages of SIZE bytes in one session to PORT with smtp-load ($LOAD); its report
# goes to $WORK/load.log.
send_load() {
  "$LOAD" --port "$1" --messages "$2" --size "$3" --deadline 600 > "$WORK/load.log"
}

# Ends the script, in NAME's words, unless the last load had all its COUNT messages confirmed.
check_confirmed() {
  grep -q "confirmed=$2 " "$WORK/load.log" && return 0
  echo "$1: not every message was confirmed:" >&2
  cat "$WORK/load.log" >&2
  exit 1
}
