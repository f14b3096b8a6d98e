# Sourced by the stress scripts: start_burners N starts N CPU-burning
# processes, which are stopped when the script exits.
burners=()
stop_burners() { ((${#burners[@]})) && kill "${burners[@]}" 2>/dev/null; wait 2>/dev/null; }
start_burners() {
  trap stop_burners EXIT
  for _ in $(seq 1 "$1"); do
    ( while :; do :; done ) &
    burners+=($!)
  done
}
