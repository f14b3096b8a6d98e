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

# stress_runs NAME RUNS BURNERS: calls the script's one_run with 1..RUNS
# while BURNERS burners load the machine, counts the runs that failed and
# fails when any did.
stress_runs() {
  local name="$1" runs="$2" count="$3" failed=0 start=$SECONDS
  start_burners "$count"
  for run in $(seq 1 "$runs"); do
    one_run "$run" || failed=$((failed + 1))
  done
  echo "$name: $runs runs with $count CPU burners, $failed with failures, $((SECONDS - start)) s"
  [[ $failed -eq 0 ]]
}
