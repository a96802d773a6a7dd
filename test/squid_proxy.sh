#!/usr/bin/env bash
# Squid (Debian's package) as the players' forward proxy for the HTTPS
# tests, run by CTest as a fixture:
#
#   squid_proxy.sh start DIR PORT SERVICE_PORT   starts it, returns once it
#                                                accepts connections
#   squid_proxy.sh stop DIR                      ends it and removes DIR
#
# It listens on 127.0.0.1 on three ports from PORT on, with a configuration,
# logs and state of its own in DIR and nothing of the system's squid:
#   PORT      tunnels CONNECT to localhost:SERVICE_PORT, and nothing else
#   PORT + 1  refuses every request, CONNECT included, by an acl (403)
#   PORT + 2  asks for proxy authentication first (407), which no client of
#             the tests has
# DIR/access.log has a line per request once it ended, as Squid writes it
# (a tunnel is "TCP_TUNNEL/200 ... CONNECT localhost:SERVICE_PORT").
set -euo pipefail

command=$1
dir=$2
squid=/usr/sbin/squid

# Ends the squid running on DIR's configuration, if any.
end_squid() {
  if [ -f "$dir/squid.conf" ] && [ -f "$dir/squid.pid" ]; then
    "$squid" -f "$dir/squid.conf" -k interrupt 2>/dev/null || true
    # Squid removes its pid file as it exits.
    for _ in $(seq 100); do
      [ -f "$dir/squid.pid" ] || break
      sleep 0.05
    done
  fi
}

# How many of the three ports accept a connection.
listening() {
  local count=0 p
  for p in "$port" $((port + 1)) $((port + 2)); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      count=$((count + 1))
    fi
  done
  echo "$count"
}

case $command in
  start)
    port=$3
    service_port=$4
    # A squid left by an interrupted run would hold the ports.
    end_squid
    rm -rf "$dir"
    mkdir -p "$dir"
    : >"$dir/passwd"
    cat >"$dir/squid.conf" <<CONF
http_port 127.0.0.1:$port name=tunnel
http_port 127.0.0.1:$((port + 1)) name=refusing
http_port 127.0.0.1:$((port + 2)) name=authenticating
acl refusing myportname refusing
acl authenticating myportname authenticating
acl service port $service_port
acl CONNECT method CONNECT
auth_param basic program /usr/lib/squid/basic_ncsa_auth $dir/passwd
auth_param basic children 1 startup=0
acl authenticated proxy_auth REQUIRED
http_access deny refusing
http_access deny authenticating !authenticated
http_access allow CONNECT service
http_access deny all
cache deny all
cache_mem 1 MB
pid_filename $dir/squid.pid
cache_log $dir/cache.log
access_log stdio:$dir/access.log
coredump_dir $dir
pinger_enable off
netdb_filename none
logfile_rotate 0
shutdown_lifetime 0 seconds
visible_hostname crashreport-tests
CONF
    # Started as root, Squid runs as the user proxy, which must write here.
    if [ "$(id -u)" -eq 0 ]; then
      chown -R proxy "$dir"
    fi
    # The ports are in the system's range for ephemeral ports, so a socket
    # of another test may hold one for a moment; Squid then serves the
    # others only, and starts again.
    for _ in 1 2 3 4 5; do
      "$squid" -f "$dir/squid.conf"
      for _ in $(seq 40); do
        [ "$(listening)" = 3 ] && exit 0
        sleep 0.05
      done
      grep 'Cannot bind' "$dir/cache.log" >&2 || true
      end_squid
      sleep 1
    done
    echo "squid_proxy: squid does not listen on 127.0.0.1:$port-$((port + 2))" >&2
    cat "$dir/cache.log" >&2 || true
    exit 1
    ;;
  stop)
    end_squid
    rm -rf "$dir"
    ;;
  *)
    echo "usage: squid_proxy.sh start DIR PORT SERVICE_PORT | stop DIR" >&2
    exit 2
    ;;
esac
