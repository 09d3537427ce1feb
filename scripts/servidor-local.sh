# Sourced by the scripts that drive the program against the bundled server program on loopback.
# Needs $servidor (the server program) and $work (a scratch folder).

# Starts the server with the given options on 127.0.0.1 and a free port; sets server_pid and porta.
iniciar_servidor_local() {
  local out=$work/servidor.out
  : >"$out"
  "$servidor" --porta 0 --endereco 127.0.0.1 "$@" >"$out" 2>"$work/servidor.err" &
  server_pid=$!
  porta=""
  for _ in $(seq 1 500); do
    porta=$(head -n1 "$out" 2>/dev/null)
    [ -n "$porta" ] && return 0
    sleep 0.01
  done
  echo "$(basename "$0"): the server did not start" >&2
  cat "$work/servidor.err" >&2
  exit 2
}

# Stops it with SIGTERM (a clean stop: temporary files gone, counts written) and waits.
parar_servidor_local() {
  kill -TERM "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
  server_pid=""
}
