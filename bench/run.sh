#!/usr/bin/env bash
# Benchmarks osprey against Postfix (SMTP) and Dovecot (POP3) on this
# machine, with the same load for both, A B A B over several rounds, and
# prints a table. Run as root on Debian; see bench/README.md.
#
#   bash bench/run.sh                    # full run: osprey, Postfix, Dovecot
#   bash bench/run.sh --quick            # smoke run against osprey only
#   bash bench/run.sh --osprey PATH      # use this osprey binary
#
# The servers it starts use free ports and keep their data in one temporary
# folder; Postfix and Dovecot listen on 127.0.0.1 only (osprey has no setting
# for its address), and all load goes to 127.0.0.1. Everything it starts is
# stopped on exit.
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD

usage() {
  cat <<'EOF'
usage: bench/run.sh [options]
  --quick              smoke run: osprey only, small loads, one round
  --osprey PATH        the osprey binary (default: a Release build in build-bench)
  --tools DIR          where pop3_load and smtp_idle are (default: next to osprey's build)
  --rounds N           rounds of A B (default 3)
  --messages M         SMTP messages per run at 4 KiB (default 1000)
  --large-messages M   SMTP messages per run at 256 KiB (default 200)
  --relay-messages M   relayed messages per run (default 1000; a multiple of 10)
  --sessions LIST      parallel SMTP sessions, comma-separated (default 1,10,50,200)
  --pop3-users C       parallel POP3 users, one connection each (default 10)
  --pop3-messages N    messages in each POP3 mailbox (default 1000)
  --pop3-size BYTES    size of each POP3 message (default 4096)
  --idle N             idle SMTP connections (default 500)
  --keep               keep the temporary folder (its path is printed)
EOF
}

quick=0 keep=0 osprey="" tools=""
rounds=3 smtp_small=1000 smtp_large=200 sessions=1,10,50,200 relay_count=1000
pop3_users=10 pop3_messages=1000 pop3_size=4096 idle_count=500
while (($#)); do
  case "$1" in
    --quick) quick=1 ;;
    --keep) keep=1 ;;
    --osprey) osprey=$2; shift ;;
    --tools) tools=$2; shift ;;
    --rounds) rounds=$2; shift ;;
    --messages) smtp_small=$2; shift ;;
    --large-messages) smtp_large=$2; shift ;;
    --relay-messages) relay_count=$2; shift ;;
    --sessions) sessions=$2; shift ;;
    --pop3-users) pop3_users=$2; shift ;;
    --pop3-messages) pop3_messages=$2; shift ;;
    --pop3-size) pop3_size=$2; shift ;;
    --idle) idle_count=$2; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
if ((quick)); then
  rounds=1 smtp_small=100 smtp_large=10 pop3_users=4 pop3_messages=50 idle_count=50 relay_count=100
  sessions=1,10
fi
peers=$((!quick))

if ((EUID != 0)); then
  echo "bench/run.sh: run as root (it installs packages and starts mail servers)" >&2
  exit 2
fi

log() { printf '[bench] %s\n' "$*" >&2; }
die() { printf 'bench/run.sh: %s\n' "$*" >&2; exit 1; }

# --- Cleanup: everything started here is stopped on exit ---------------------

WORK="" OSPREY_PID="" IDLE_PID="" POSTFIX_CONF="" DOVECOT_PID=""
cleanup() {
  local rc=$?
  set +e
  [[ -n "$IDLE_PID" ]] && kill "$IDLE_PID" 2>/dev/null && wait "$IDLE_PID" 2>/dev/null
  [[ -n "${SAMPLER_PID:-}" ]] && kill "$SAMPLER_PID" 2>/dev/null
  stop_osprey
  stop_postfix
  stop_dovecot
  stop_sinks
  if [[ -n "$WORK" ]]; then
    if ((keep)); then log "kept $WORK"; else rm -rf "$WORK"; fi
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- Small helpers ------------------------------------------------------------

USED_PORTS=" "
# A port nobody listens on or uses (per /proc/net/tcp), and not handed out yet.
free_port() {
  local p hex
  for _ in $(seq 1 200); do
    p=$((20000 + RANDOM % 40000))
    hex=$(printf ':%04X ' "$p")
    [[ "$USED_PORTS" == *" $p "* ]] && continue
    if ! grep -qs "$hex" /proc/net/tcp /proc/net/tcp6; then
      USED_PORTS+="$p "
      echo "$p"
      return
    fi
  done
  die "no free port found"
}

# True once something listens on 127.0.0.1:PORT (or any address).
listening() {
  local hex
  hex=$(printf '%04X' "$1")
  awk -v h="$hex" '$4 == "0A" && ($2 ~ ":" h "$") { found = 1 } END { exit !found }' \
    /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

wait_until() {  # SECONDS COMMAND...: polls every 50 ms
  local limit=$1
  shift
  local deadline=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.${2:-1}f\", $1 }"; }

# Number of files in a folder (bash globbing: no process per poll).
count_files() {
  local f
  shopt -s nullglob
  f=("$1"/*)
  shopt -u nullglob
  echo "${#f[@]}"
}

folder_has() { (($(count_files "$1") >= $2)); }  # FOLDER COUNT

empty_folder() { find "$1" -mindepth 1 -maxdepth 1 -type f -delete; }

# All processes below and including PID.
process_tree() {
  local root=$1 f line pid rest
  local -A kids=()
  for f in /proc/[0-9]*/stat; do
    read -r line 2>/dev/null <"$f" || continue
    pid=${line%% *}
    rest=${line##*) }
    set -- $rest
    kids[$2]+=" $pid"
  done
  local queue=("$root") out=()
  while ((${#queue[@]})); do
    pid=${queue[0]}
    queue=("${queue[@]:1}")
    out+=("$pid")
    for f in ${kids[$pid]:-}; do queue+=("$f"); done
  done
  echo "${out[@]}"
}

# "RSS_KIB PSS_KIB NPROC" summed over the given processes.
memory_of() {
  local rss=0 pss=0 n=0 pid v
  for pid in "$@"; do
    v=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || continue
    [[ -n "$v" ]] || continue
    rss=$((rss + v))
    v=$(awk '/^Pss:/ { print $2 }' "/proc/$pid/smaps_rollup" 2>/dev/null)
    pss=$((pss + ${v:-0}))
    n=$((n + 1))
  done
  echo "$rss $pss $n"
}

# Hex of a length-prefixed text in Heron's list layout (texts under 255 bytes).
hex_text() {
  (( ${#1} < 255 )) || die "text too long for the list layout: $1"
  printf '%02x' "${#1}"
  printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'
}
hex_u16() { printf '%02x%02x' $(($1 & 255)) $(($1 >> 8)); }

# --- What the run needs -------------------------------------------------------

bash scripts/install-deps.sh

if [[ -z "$osprey" ]]; then
  log "building osprey and the load tools (Release) in build-bench"
  cmake -S "$SRC" -B "$SRC/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHERON_TESTS=OFF -DHERON_DESKTOP=OFF \
    -UCMAKE_CXX_FLAGS >/dev/null
  cmake --build "$SRC/build-bench" -j 2 --target osprey heronctl bench_tools >/dev/null
  osprey=$SRC/build-bench/service/osprey
fi
[[ -x "$osprey" ]] || die "not an executable: $osprey"
osprey=$(readlink -f "$osprey")
[[ -n "$tools" ]] || tools=$(dirname "$osprey")/../bench
[[ -x "$tools/pop3_load" && -x "$tools/smtp_idle" && -x "$tools/smtp_load" && -x "$tools/fsync_rate" ]] ||
  die "the load tools are not in $tools (build the bench_tools target)"
tools=$(readlink -f "$tools")
heronctl=$(dirname "$osprey")/../heronctl/heronctl
[[ -x "$heronctl" ]] || die "heronctl not found beside $osprey (build the heronctl target)"
heronctl=$(readlink -f "$heronctl")

WORK=$(mktemp -d "${TMPDIR:-/tmp}/heron-bench.XXXXXX")
chmod 0755 "$WORK"  # the peers' unprivileged users reach their folders through it

install_peers() {
  log "installing the peers (not started by the install)"
  bash "$SRC/scripts/install-deps.sh" --peers >/dev/null
}

if ((peers)); then install_peers; fi

# --- Test identities ----------------------------------------------------------

DOMAIN=bench.test
SENDER=loadgen@sender.example  # not a local domain: no authentication needed
PASSWORD=benchpw
# One certificate (ECDSA P-256) for every server's TLS.
TLS_CERT=$WORK/tls/cert.pem TLS_KEY=$WORK/tls/key.pem
mkdir -p "$WORK/tls"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj "/CN=localhost" -keyout "$TLS_KEY" -out "$TLS_CERT" >/dev/null 2>&1 ||
  die "openssl could not make the test certificate"
POP3_NAMES=()
for i in $(seq 1 "$pop3_users"); do POP3_NAMES+=("$(printf 'pop%02d' "$i")"); done
POP3_LIST=$(IFS=,; echo "${POP3_NAMES[*]}")
# Relay loads: ten destination domains, each with its exchanger on a
# loopback address, port 25: an smtp-sink that keeps every message, except
# the last domain's, which never sends its greeting.
RELAY_SINK_ADDR=127.0.0.40 RELAY_DEAD_ADDR=127.0.0.49
RELAY_DOMAINS=()
for i in $(seq 0 9); do RELAY_DOMAINS+=("d$i.relay.test"); done
relay_host() { [[ "$1" == d9.* ]] && echo "$RELAY_DEAD_ADDR" || echo "$RELAY_SINK_ADDR"; }
NOBODY_UID=$(id -u nobody)
NOBODY_GID=$(id -g nobody)

# --- osprey -------------------------------------------------------------------

HERON=$WORK/heron
OSPREY_SMTP=$(free_port)
OSPREY_POP3=$(free_port)
OSPREY_MAILBOX=$HERON/Mailboxes/admin

osprey_set() { HERON_HOME=$HERON "$heronctl" set "$3" "$4"; }  # number|text SUBKEY NAME VALUE
osprey_set_binary() {  # SUBKEY NAME HEX
  local root='HKEY_LOCAL_MACHINE\Software\Tallyworks, Inc.\Heron Mail Service'
  sqlite3 "$HERON/registry.db" >/dev/null <<EOF
PRAGMA busy_timeout=5000;
INSERT OR IGNORE INTO reg_keys(path) VALUES('$root\\$1');
INSERT OR REPLACE INTO reg_values(key, name, type, data) VALUES('$root\\$1', '$2', 3, X'$3');
EOF
}

configure_osprey() {
  mkdir -p "$HERON"
  osprey_set number Settings SmtpPort "$OSPREY_SMTP"
  osprey_set number Settings Port "$OSPREY_POP3"
  osprey_set number Settings LogLevel 1
  osprey_set number Settings ConnectionsLimit $((idle_count + 1000))
  osprey_set number Settings Timeout 900
  # Every load comes from one address: its guards would cap the figures.
  osprey_set number Settings MaxConnectionsPerIp 0
  osprey_set number Settings RobotProtected 0
  # No DNS look-ups of any kind: every load stays on loopback, as for Postfix.
  osprey_set number Settings CheckDNSBL 0
  osprey_set number Settings BlockDynIP 0
  osprey_set number Settings BlockDynIP2 0
  osprey_set text Settings TlsCertificateFile "$TLS_CERT"
  osprey_set text Settings TlsPrivateKeyFile "$TLS_KEY"
  osprey_set_binary Domains Extensions "$(hex_u16 1)$(hex_text "$DOMAIN")"
  # Relaying: every relay domain has its fixed exchanger (no DNS), the load
  # sender relays without logging in.
  osprey_set number Settings RelayMessages 1
  osprey_set number Settings AuthRemote 0
  local routes d
  routes=$(hex_u16 ${#RELAY_DOMAINS[@]})
  for d in "${RELAY_DOMAINS[@]}"; do routes+=$(hex_text "$d|$(relay_host "$d")"); done
  osprey_set_binary Relay MxRecords "$routes"
  # Accounts: admin (the default account, empty password) and the POP3 users.
  local hex name
  hex=$(hex_u16 $((pop3_users + 1)))$(hex_text admin)$(hex_text Administrator)$(hex_text "")00000000
  for name in "${POP3_NAMES[@]}"; do
    hex+=$(hex_text "$name")$(hex_text "")$(hex_text "$PASSWORD")00000000
  done
  osprey_set_binary UserAccounts Users "$hex"
}

start_osprey() {
  HERON_HOME=$HERON "$osprey" -d >>"$WORK/osprey.out" 2>&1 &
  OSPREY_PID=$!
  wait_until 20 listening "$OSPREY_SMTP" && wait_until 5 listening "$OSPREY_POP3" || {
    cat "$WORK/osprey.out" >&2
    die "osprey did not open its ports"
  }
}

stop_osprey() {
  [[ -n "$OSPREY_PID" ]] || return 0
  kill -TERM "$OSPREY_PID" 2>/dev/null || true
  local i
  for i in $(seq 1 200); do kill -0 "$OSPREY_PID" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$OSPREY_PID" 2>/dev/null || true
  wait "$OSPREY_PID" 2>/dev/null || true
  OSPREY_PID=""
}

osprey_pids() { [[ -n "$OSPREY_PID" ]] && echo "$OSPREY_PID"; }

# --- Postfix -------------------------------------------------------------------

PF=$WORK/postfix
POSTFIX_SMTP=""
VMAIL=$WORK/vmail
POSTFIX_MAILBOX=$VMAIL/bench/Maildir/new

configure_postfix() {
  POSTFIX_SMTP=$(free_port)
  mkdir -p "$PF/etc" "$PF/queue" "$PF/data" "$VMAIL/bench/Maildir"/{new,cur,tmp}
  chown postfix "$PF/data"
  chown -R "$NOBODY_UID:$NOBODY_GID" "$VMAIL"
  cat >"$PF/etc/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $PF/queue
data_directory = $PF/data
mail_owner = postfix
setgid_group = postdrop
myhostname = mx.$DOMAIN
mydomain = $DOMAIN
myorigin = $DOMAIN
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
biff = no
# One test user, delivered by virtual(8) into a Maildir.
virtual_mailbox_domains = $DOMAIN
virtual_mailbox_base = $VMAIL
virtual_mailbox_maps = texthash:$PF/etc/vmailbox
virtual_uid_maps = static:$NOBODY_UID
virtual_gid_maps = static:$NOBODY_GID
# The relay domains go to their fixed exchangers, as osprey's MxRecords.
transport_maps = texthash:$PF/etc/transport
# Enough smtpd processes for the idle sessions (the default is 100).
default_process_limit = $((idle_count + 100))
# The log goes to a file (no syslog needed); logging stays at its default.
maillog_file_prefixes = $PF
maillog_file = $PF/maillog
# STARTTLS offered, with the certificate osprey uses.
smtpd_tls_security_level = may
smtpd_tls_cert_file = $TLS_CERT
smtpd_tls_key_file = $TLS_KEY
EOF
  echo "bench@$DOMAIN bench/Maildir/" >"$PF/etc/vmailbox"
  local d
  for d in "${RELAY_DOMAINS[@]}"; do echo "$d smtp:[$(relay_host "$d")]:25"; done >"$PF/etc/transport"
  # Debian's master.cf, without chroot (the queue folder has no copy of /etc).
  cat >"$PF/etc/master.cf" <<EOF
127.0.0.1:$POSTFIX_SMTP inet n - n - - smtpd
pickup     unix  n - n 60 1 pickup
tlsmgr     unix  - - n 1000? 1 tlsmgr
cleanup    unix  n - n -  0 cleanup
qmgr       unix  n - n 300 1 qmgr
rewrite    unix  - - n -  - trivial-rewrite
bounce     unix  - - n -  0 bounce
defer      unix  - - n -  0 bounce
trace      unix  - - n -  0 bounce
verify     unix  - - n -  1 verify
flush      unix  n - n 1000? 0 flush
proxymap   unix  - - n -  - proxymap
proxywrite unix  - - n -  1 proxymap
smtp       unix  - - n -  - smtp
relay      unix  - - n -  - smtp
showq      unix  n - n -  - showq
error      unix  - - n -  - error
retry      unix  - - n -  - error
discard    unix  - - n -  - discard
local      unix  - n n -  - local
virtual    unix  - n n -  - virtual
lmtp       unix  - - n -  - lmtp
anvil      unix  - - n -  1 anvil
scache     unix  - - n -  1 scache
postlog    unix-dgram n - n - 1 postlogd
EOF
  POSTFIX_CONF=$PF/etc
  postfix -c "$POSTFIX_CONF" check >/dev/null 2>&1 || true  # creates the queue folders
}

postfix_master_pid() {
  local f=$PF/queue/pid/master.pid
  [[ -s "$f" ]] && tr -d ' \n' <"$f"
}

start_postfix() {
  postfix -c "$POSTFIX_CONF" start >/dev/null 2>&1 || {
    tail -20 "$PF/maillog" >&2 2>/dev/null
    die "postfix did not start"
  }
  wait_until 20 listening "$POSTFIX_SMTP" || die "postfix did not open its port"
}

stop_postfix() {
  [[ -n "$POSTFIX_CONF" ]] || return 0
  local pid
  pid=$(postfix_master_pid) || pid=""
  [[ -n "$pid" ]] || return 0
  postfix -c "$POSTFIX_CONF" stop >/dev/null 2>&1 || true
  local i p
  for i in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  # Anything left of this instance (its master and the master's children).
  for p in $(process_tree "$pid"); do kill -KILL "$p" 2>/dev/null || true; done
  rm -f "$PF/queue/pid/master.pid"
}

postfix_pids() { local pid; pid=$(postfix_master_pid) && process_tree "$pid"; }

# --- Dovecot ------------------------------------------------------------------

DC=$WORK/dovecot
DOVECOT_POP3=""

configure_dovecot() {
  DOVECOT_POP3=$(free_port)
  mkdir -p "$DC/run" "$DC/state"
  cat >"$DC/dovecot.conf" <<EOF
base_dir = $DC/run
state_dir = $DC/state
instance_name = heron-bench
protocols = pop3
listen = 127.0.0.1
ssl = yes
ssl_cert = <$TLS_CERT
ssl_key = <$TLS_KEY
disable_plaintext_auth = no
auth_mechanisms = plain
log_path = $DC/dovecot.log
mail_location = maildir:$VMAIL/%n/Maildir
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%n $DC/users
}
userdb {
  driver = passwd-file
  args = username_format=%n $DC/users
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $DOVECOT_POP3
  }
}
EOF
  local name
  : >"$DC/users"
  for name in bench "${POP3_NAMES[@]}"; do
    echo "$name:{PLAIN}$PASSWORD:$NOBODY_UID:$NOBODY_GID::$VMAIL/$name::" >>"$DC/users"
    mkdir -p "$VMAIL/$name/Maildir"/{new,cur,tmp}
  done
  chmod 0644 "$DC/users"
  chown -R "$NOBODY_UID:$NOBODY_GID" "$VMAIL"
}

start_dovecot() {
  dovecot -c "$DC/dovecot.conf" || die "dovecot did not start"
  wait_until 20 test -s "$DC/run/master.pid" || die "dovecot wrote no master.pid"
  DOVECOT_PID=$(cat "$DC/run/master.pid")
  wait_until 20 listening "$DOVECOT_POP3" || die "dovecot did not open its port"
}

stop_dovecot() {
  [[ -n "$DOVECOT_PID" ]] || return 0
  local pids p
  pids=$(process_tree "$DOVECOT_PID")
  kill -TERM "$DOVECOT_PID" 2>/dev/null || true
  local i
  for i in $(seq 1 100); do kill -0 "$DOVECOT_PID" 2>/dev/null || break; sleep 0.1; done
  for p in $pids; do kill -KILL "$p" 2>/dev/null || true; done
  DOVECOT_PID=""
}

# --- Loads ---------------------------------------------------------------------

# The kernel's count of connections dropped because a listen queue was full
# (each costs the client a SYN retransmission, a second or more).
listen_overflows() {
  awk '/^TcpExt:/ { if (!seen) { split($0, name); seen = 1; next }
    for (i = 1; i <= NF; i++) if (name[i] == "ListenOverflows") print $i }' /proc/net/netstat
}

# Peak memory (KiB, PSS: pages shared between a server's processes count
# once) of a server's processes while a load runs: sampled every 0.2 s into a
# file until the sampler is stopped, and once more then.
SAMPLER_PID=""
start_sampler() {  # PIDS_FUNCTION FILE
  local pids_of=$1 file=$2
  echo 0 >"$file"
  (
    peak=0
    while :; do
      read -r _ pss _ <<<"$(memory_of $($pids_of))"
      ((pss > peak)) && { peak=$pss; echo "$peak" >"$file"; }
      sleep 0.2
    done
  ) &
  SAMPLER_PID=$!
  SAMPLER_OF=$pids_of SAMPLER_FILE=$file
}
stop_sampler() {
  if [[ -n "$SAMPLER_PID" ]]; then
    kill "$SAMPLER_PID" 2>/dev/null || true
    wait "$SAMPLER_PID" 2>/dev/null || true
    local pss last
    read -r _ pss _ <<<"$(memory_of $($SAMPLER_OF))"
    last=$(cat "$SAMPLER_FILE")
    ((pss > last)) && echo "$pss" >"$SAMPLER_FILE"
  fi
  SAMPLER_PID=""
}

# SMTP acceptance with smtp_load: messages per second from the first
# connection until the last message is a file in the recipient's mailbox
# folder, the latency per message (connect to the reply after the data) and
# of the greeting, listen-queue overflows and the server's peak memory.
# Sets SMTP_RATE, SMTP_P50, SMTP_P99, SMTP_GREET99, SMTP_OVERFLOWS and
# SMTP_PEAK_KIB (each "fail" when the run failed).
smtp_load() {  # PORT MAILBOX_FOLDER RECIPIENT COUNT SIZE SESSIONS PIDS_FUNCTION [--flood | "--tls starttls"]
  local port=$1 folder=$2 rcpt=$3 count=$4 size=$5 conc=$6 pids_of=$7 flood=${8:-} t0 t1 out o0
  SMTP_RATE=fail SMTP_P50=fail SMTP_P99=fail SMTP_GREET99=fail SMTP_OVERFLOWS=fail SMTP_PEAK_KIB=fail
  empty_folder "$folder"
  o0=$(listen_overflows)
  start_sampler "$pids_of" "$WORK/peak"
  t0=$(now)
  if ! out=$(timeout $((300 + count)) "$tools/smtp_load" --port "$port" --sessions "$conc" \
    --messages "$count" --size "$size" --from "$SENDER" --to "$rcpt" $flood 2>&1); then
    stop_sampler
    log "smtp_load failed: ${out:0:300}"
    return
  fi
  if ! wait_until $((60 + count / 20)) folder_has "$folder" "$count"; then
    stop_sampler
    log "only $(count_files "$folder") of $count messages reached $folder"
    return
  fi
  t1=$(now)
  stop_sampler
  SMTP_OVERFLOWS=$(($(listen_overflows) - o0))
  SMTP_PEAK_KIB=$(cat "$WORK/peak")
  empty_folder "$folder"
  SMTP_RATE=$(calc "$count / ($t1 - $t0)")
  SMTP_P50=$(sed -E 's/.* p50_ms=([0-9.]+).*/\1/' <<<"$out")
  SMTP_P99=$(sed -E 's/.* p99_ms=([0-9.]+).*/\1/' <<<"$out")
  SMTP_GREET99=$(sed -E 's/.* greet_p99_ms=([0-9.]+).*/\1/' <<<"$out")
}

# Messages per run for a session count: enough for every session to send
# several, within the time of a run.
smtp_count() {  # SIZE SESSIONS
  local base=$smtp_small
  (($1 > 4096)) && base=$smtp_large
  local n=$((base * $2 / 10))
  ((n < base / 5)) && n=$((base / 5))
  ((n > base * 2)) && n=$((base * 2))
  echo "$n"
}

# One message of about SIZE bytes: headers, then lines of 76 characters.
make_message() {  # SIZE EOL
  local size=$1 eol=$2 text line
  text="From: <$SENDER>${eol}To: <user@$DOMAIN>${eol}Subject: retrieval load${eol}"
  text+="Date: Mon, 1 Jan 2024 00:00:00 +0000${eol}Message-ID: <load@sender.example>${eol}${eol}"
  line=$(printf '%076d' 0 | tr 0 x)
  while ((${#text} + 76 + ${#eol} <= size)); do text+="$line$eol"; done
  printf '%s' "$text"
}

# The exchangers of the relay loads (Postfix's smtp-sink). False when port
# 25 of their addresses cannot be had.
SINK_DIR="" SINK_PIDS=()
start_sinks() {
  SINK_DIR=$WORK/sink
  mkdir -p "$SINK_DIR"
  chown nobody "$SINK_DIR"
  smtp-sink -u nobody -d "$SINK_DIR/%M." "$RELAY_SINK_ADDR:25" 1024 >/dev/null 2>&1 &
  SINK_PIDS+=($!)
  smtp-sink -u nobody -W CONNECT:3600 "$RELAY_DEAD_ADDR:25" 1024 >/dev/null 2>&1 &
  SINK_PIDS+=($!)
  sleep 0.5
  kill -0 "${SINK_PIDS[0]}" 2>/dev/null && kill -0 "${SINK_PIDS[1]}" 2>/dev/null && listening 25
}
stop_sinks() {
  local p
  for p in "${SINK_PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  SINK_PIDS=()
}

# Relays COUNT messages of 4 KiB, one recipient each, over 10 sessions,
# through the server on PORT to the domains given (in turn); waits for the
# sink to hold EXPECT of them. Sets RELAY_RATE, RELAY_P50, RELAY_P99.
relay_load() {  # PORT COUNT EXPECT DOMAIN...
  local port=$1 count=$2 expect=$3 out to="" d i=0
  shift 3
  RELAY_RATE=fail RELAY_P50=fail RELAY_P99=fail
  for d in "$@"; do to+="${to:+,}r$((i++))@$d"; done
  empty_folder "$SINK_DIR"
  if ! out=$(timeout $((400 + count)) "$tools/smtp_load" --port "$port" --sessions 10 \
    --messages "$count" --size 4096 --from "$SENDER" --to "$to" --sink "$SINK_DIR" \
    --sink-expect "$expect" --sink-wait $((120 + count / 10)) 2>&1); then
    log "relay load failed: ${out:0:400}"
    return
  fi
  RELAY_RATE=$(sed -nE 's/.*relay_msgs_per_s=([0-9.]+).*/\1/p' <<<"$out")
  RELAY_P50=$(sed -nE 's/.*relay_p50_ms=([0-9.]+).*/\1/p' <<<"$out")
  RELAY_P99=$(sed -nE 's/.*relay_p99_ms=([0-9.]+).*/\1/p' <<<"$out")
}

# Fills each POP3 user's mailbox with pop3_messages copies of one message.
fill_osprey_mailboxes() {
  local msg name i
  msg=$(make_message "$pop3_size" $'\r\n')
  for name in "${POP3_NAMES[@]}"; do
    mkdir -p "$HERON/Mailboxes/$name"
    empty_folder "$HERON/Mailboxes/$name"
    for ((i = 1; i <= pop3_messages; i++)); do
      printf '%s' "$msg" >"$HERON/Mailboxes/$name/$(printf '%024x%08x' "$RANDOM$RANDOM" "$i").eml"
    done
  done
}

fill_dovecot_mailboxes() {
  local msg name i base
  msg=$(make_message "$pop3_size" $'\n')  # Maildir files hold LF line ends
  base=$(date +%s)
  for name in "${POP3_NAMES[@]}"; do
    empty_folder "$VMAIL/$name/Maildir/new"
    empty_folder "$VMAIL/$name/Maildir/cur"
    for ((i = 1; i <= pop3_messages; i++)); do
      printf '%s' "$msg" >"$VMAIL/$name/Maildir/new/$base.M${i}P$$.bench"
    done
  done
  chown -R "$NOBODY_UID:$NOBODY_GID" "$VMAIL"
}

# Sets POP3_MPS and POP3_MIB (or "fail"), POP3_CONNECT (seconds until every
# connection was greeted) and POP3_OVERFLOWS.
pop3_run() {  # PORT [stls]
  local out o0 tls=()
  [[ -n "${2:-}" ]] && tls=(--tls "$2")
  POP3_MPS=fail POP3_MIB=fail POP3_CONNECT=fail POP3_OVERFLOWS=0
  o0=$(listen_overflows)
  if ! out=$("$tools/pop3_load" --port "$1" --users "$POP3_LIST" --password "$PASSWORD" \
    --expect "$pop3_messages" --timeout 120 "${tls[@]}" 2>"$WORK/pop3_load.err"); then
    log "pop3_load failed: $(head -c 300 "$WORK/pop3_load.err") $out"
    return
  fi
  POP3_OVERFLOWS=$(($(listen_overflows) - o0))
  POP3_MPS=$(sed -E 's/.*msgs_per_s=([0-9.]+).*/\1/' <<<"$out")
  POP3_MIB=$(sed -E 's/.*mib_per_s=([0-9.]+).*/\1/' <<<"$out")
  POP3_CONNECT=$(sed -E 's/.*connect_s=([0-9.]+).*/\1/' <<<"$out")
}

# Idle sessions: resident memory of the server's processes before and while
# idle_count connections that have read the greeting stay open.
# Sets IDLE_RESULT to "rss_before_kib rss_after_kib rss_per_conn_kib pss_per_conn_kib".
idle_run() {  # PORT PIDS_FUNCTION
  local port=$1 pids_of=$2 before after greeted
  IDLE_RESULT="fail fail fail fail"
  sleep 1
  read -r -a before <<<"$(memory_of $($pids_of))"
  "$tools/smtp_idle" --port "$port" --count "$idle_count" --hold 120 >"$WORK/idle.out" 2>&1 &
  IDLE_PID=$!
  if ! wait_until 90 grep -q '^ready' "$WORK/idle.out"; then
    kill "$IDLE_PID" 2>/dev/null || true; wait "$IDLE_PID" 2>/dev/null || true; IDLE_PID=""
    log "smtp_idle did not get ready"
    return
  fi
  sleep 1
  read -r -a after <<<"$(memory_of $($pids_of))"
  greeted=$(sed -nE 's/^ready .*greeted=([0-9]+).*/\1/p' "$WORK/idle.out")
  kill "$IDLE_PID" 2>/dev/null || true; wait "$IDLE_PID" 2>/dev/null || true; IDLE_PID=""
  if [[ "$greeted" != "$idle_count" ]]; then
    log "only ${greeted:-0} of $idle_count idle sessions were greeted"
    return
  fi
  IDLE_RESULT="${before[0]} ${after[0]} $(calc "(${after[0]} - ${before[0]}) / $idle_count")"
  IDLE_RESULT+=" $(calc "(${after[1]} - ${before[1]}) / $idle_count")"
}

# --- The run --------------------------------------------------------------------

configure_osprey
start_osprey
if ((peers)); then
  configure_postfix
  configure_dovecot
  start_postfix
  start_dovecot
fi
relay_ok=0
if start_sinks; then
  relay_ok=1
else
  stop_sinks
  log "relay loads skipped: port 25 of $RELAY_SINK_ADDR or $RELAY_DEAD_ADDR cannot be had"
fi
log "osprey: SMTP $OSPREY_SMTP, POP3 $OSPREY_POP3$( ((peers)) &&
  echo "; Postfix: SMTP $POSTFIX_SMTP; Dovecot: POP3 $DOVECOT_POP3"); work folder $WORK"

# Figures, one list per (load, server): values separated by spaces, by round.
declare -A R=()
add() { R[$1]+="$2 "; }

# The disk's own rate of durable small writes, in the folder the servers use.
FSYNC1=$("$tools/fsync_rate" --folder "$WORK" --writers 1 --seconds $((quick ? 2 : 5)) | sed 's/.*=//')
FSYNC8=$("$tools/fsync_rate" --folder "$WORK" --writers 8 --seconds $((quick ? 2 : 5)) | sed 's/.*=//')
log "fsync rate: $FSYNC1/s with one writer, $FSYNC8/s with 8"

run_started=$SECONDS
for ((round = 1; round <= rounds; round++)); do
  log "round $round of $rounds"
  # 1. SMTP acceptance, 4 KiB and 256 KiB, at each session count; then
  # the flood case: 10 sessions of 4 KiB while one client pipelines NOOP.
  for size in 4096 262144; do
    for conc in ${sessions//,/ }; do
      count=$(smtp_count "$size" "$conc")
      for who in heron peer; do
        if [[ $who == heron ]]; then
          smtp_load "$OSPREY_SMTP" "$OSPREY_MAILBOX" "admin@$DOMAIN" "$count" "$size" "$conc" osprey_pids
        else
          ((peers)) || continue
          smtp_load "$POSTFIX_SMTP" "$POSTFIX_MAILBOX" "bench@$DOMAIN" "$count" "$size" "$conc" postfix_pids
        fi
        k=smtp$size.$conc
        add "$k.msgs.$who" "$SMTP_RATE"; add "$k.p50.$who" "$SMTP_P50"; add "$k.p99.$who" "$SMTP_P99"
        add "$k.ovf.$who" "$SMTP_OVERFLOWS"; add "$k.peak.$who" "$SMTP_PEAK_KIB"
        log "  SMTP $((size / 1024)) KiB x $conc sessions $who: $SMTP_RATE msgs/s, p50 $SMTP_P50 ms," \
          "p99 $SMTP_P99 ms, $SMTP_OVERFLOWS overflows, peak PSS ${SMTP_PEAK_KIB} KiB"
      done
    done
  done
  count=$(smtp_count 4096 10)
  for who in heron peer; do
    if [[ $who == heron ]]; then
      smtp_load "$OSPREY_SMTP" "$OSPREY_MAILBOX" "admin@$DOMAIN" "$count" 4096 10 osprey_pids --flood
    else
      ((peers)) || continue
      smtp_load "$POSTFIX_SMTP" "$POSTFIX_MAILBOX" "bench@$DOMAIN" "$count" 4096 10 postfix_pids --flood
    fi
    add "flood.msgs.$who" "$SMTP_RATE"; add "flood.greet99.$who" "$SMTP_GREET99"
    add "flood.peak.$who" "$SMTP_PEAK_KIB"
    log "  flood $who: others $SMTP_RATE msgs/s, greeting p99 $SMTP_GREET99 ms, peak ${SMTP_PEAK_KIB} KiB"
  done
  # The same 4 KiB load with STARTTLS before the mail, a full handshake
  # per message.
  for who in heron peer; do
    if [[ $who == heron ]]; then
      smtp_load "$OSPREY_SMTP" "$OSPREY_MAILBOX" "admin@$DOMAIN" "$count" 4096 10 osprey_pids "--tls starttls"
    else
      ((peers)) || continue
      smtp_load "$POSTFIX_SMTP" "$POSTFIX_MAILBOX" "bench@$DOMAIN" "$count" 4096 10 postfix_pids "--tls starttls"
    fi
    add "smtptls.msgs.$who" "$SMTP_RATE"; add "smtptls.p50.$who" "$SMTP_P50"
    add "smtptls.p99.$who" "$SMTP_P99"
    log "  SMTP over TLS $who: $SMTP_RATE msgs/s, p50 $SMTP_P50 ms, p99 $SMTP_P99 ms"
  done
  # 2. Relaying: to one destination; then to ten, one of which never
  # answers (the figures are those of the other nine).
  if ((relay_ok)); then
    for who in heron peer; do
      if [[ $who == heron ]]; then port=$OSPREY_SMTP; else ((peers)) || continue; port=$POSTFIX_SMTP; fi
      relay_load "$port" "$relay_count" "$relay_count" "${RELAY_DOMAINS[0]}"
      add "relay.msgs.$who" "$RELAY_RATE"; add "relay.p50.$who" "$RELAY_P50"
      add "relay.p99.$who" "$RELAY_P99"
      log "  relay $who: $RELAY_RATE msgs/s delivered, p50 $RELAY_P50 ms, p99 $RELAY_P99 ms"
      relay_load "$port" "$relay_count" $((relay_count * 9 / 10)) "${RELAY_DOMAINS[@]}"
      add "relaydead.msgs.$who" "$RELAY_RATE"; add "relaydead.p99.$who" "$RELAY_P99"
      log "  relay with one dead destination $who: the others $RELAY_RATE msgs/s, p99 $RELAY_P99 ms"
    done
  fi
  # 3. POP3 retrieval.
  fill_osprey_mailboxes
  pop3_run "$OSPREY_POP3"
  add pop3.heron "$POP3_MPS"; add pop3mib.heron "$POP3_MIB"
  add pop3conn.heron "$POP3_CONNECT"; add pop3ovf.heron "$POP3_OVERFLOWS"
  log "  POP3 osprey: $POP3_MPS msgs/s, $POP3_MIB MiB/s (connecting: ${POP3_CONNECT}s," \
    "$POP3_OVERFLOWS listen queue overflows)"
  if ((peers)); then
    fill_dovecot_mailboxes
    pop3_run "$DOVECOT_POP3"
    add pop3.peer "$POP3_MPS"; add pop3mib.peer "$POP3_MIB"
    add pop3conn.peer "$POP3_CONNECT"; add pop3ovf.peer "$POP3_OVERFLOWS"
    log "  POP3 Dovecot: $POP3_MPS msgs/s, $POP3_MIB MiB/s (connecting: ${POP3_CONNECT}s," \
      "$POP3_OVERFLOWS listen queue overflows)"
  fi
  # The same retrieval after STLS.
  for who in heron peer; do
    if [[ $who == heron ]]; then
      fill_osprey_mailboxes
      pop3_run "$OSPREY_POP3" stls
    else
      ((peers)) || continue
      fill_dovecot_mailboxes
      pop3_run "$DOVECOT_POP3" stls
    fi
    add pop3tls.$who "$POP3_MPS"; add pop3tlsmib.$who "$POP3_MIB"
    log "  POP3 over TLS $who: $POP3_MPS msgs/s, $POP3_MIB MiB/s"
  done
  # 4. Idle sessions, each server freshly started so that memory kept from
  # the loads above (or idle processes kept from an earlier round) does not
  # hide the cost of new sessions.
  stop_osprey
  start_osprey
  idle_run "$OSPREY_SMTP" osprey_pids
  read -r b a per pss <<<"$IDLE_RESULT"
  add idle_before.heron "$b"; add idle_after.heron "$a"
  add idle_per.heron "$per"; add idle_pss.heron "$pss"
  log "  idle osprey: $b -> $a KiB RSS, $per KiB/connection (PSS $pss)"
  if ((peers)); then
    stop_postfix
    start_postfix
    idle_run "$POSTFIX_SMTP" postfix_pids
    read -r b a per pss <<<"$IDLE_RESULT"
    add idle_before.peer "$b"; add idle_after.peer "$a"
    add idle_per.peer "$per"; add idle_pss.peer "$pss"
    log "  idle Postfix: $b -> $a KiB RSS, $per KiB/connection (PSS $pss)"
  fi
done
run_seconds=$((SECONDS - run_started))

# --- The table ------------------------------------------------------------------

# Median of numbers (a "fail" among them makes it "fail").
median() {
  local v
  for v in "$@"; do [[ "$v" == fail ]] && { echo fail; return; }; done
  printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END {
    if (NR == 0) { print "n/a"; exit }
    m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
    printf "%.1f", m }'
}

# Median over rounds of the per-round ratio Heron/peer.
ratio() {
  local -a h p
  read -r -a h <<<"${R[$1.heron]:-}"
  read -r -a p <<<"${R[$1.peer]:-}"
  ((${#p[@]})) || { echo "-"; return; }
  local i out=()
  for i in "${!h[@]}"; do
    if [[ "${h[$i]}" == fail || "${p[$i]:-fail}" == fail ]]; then echo fail; return; fi
    out+=("$(calc "${h[$i]} / ${p[$i]}" 3)")
  done
  printf '%s\n' "${out[@]}" | sort -g | awk '{ a[NR] = $1 } END {
    m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
    printf "%.2f", m }'
}

fig() { local -a v; read -r -a v <<<"${R[$1]:-}"; ((${#v[@]})) && median "${v[@]}" || echo "-"; }
kib2mib() { [[ "$1" == fail || "$1" == - ]] && echo "$1" || calc "$1 / 1024"; }

cores=$(nproc)
cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
fs=$(df --output=fstype "$WORK" | tail -1)
if ((peers)); then
  dovecot_fsync=$(doveconf -c "$DC/dovecot.conf" -h mail_fsync 2>/dev/null || echo "?")
  peer_smtp=Postfix peer_pop3=Dovecot
else
  peer_smtp="-" peer_pop3="-"
fi

row() {  # LABEL KEY BETTER [mib | count]
  local h p r
  h=$(fig "$2.heron")
  p=$(fig "$2.peer")
  r=$(ratio "$2")
  [[ "${4:-}" == count ]] && r="-"
  if [[ "${4:-}" == mib ]]; then h=$(kib2mib "$h"); p=$(kib2mib "$p"); fi
  printf '| %s | %s | %s | %s | %s |\n' "$1" "$h" "$p" "$r" "$3"
}

echo
echo "Heron osprey vs $( ((peers)) && echo "Postfix (SMTP) and Dovecot (POP3)" || echo "no peers (--quick)")"
echo "Machine: $cores cores, $cpu, $mem; work folder on $fs"
if ((peers)); then
  echo "fsync: osprey on (each message synced before its 250 reply, and again in the mailbox);"
  echo "       Postfix on (its default: queue file synced before the 250 reply);"
  echo "       Dovecot mail_fsync=$dovecot_fsync"
else
  echo "fsync: osprey on (each message synced before its 250 reply, and again in the mailbox)"
fi
echo "Rounds: $rounds (osprey, then peer, in each); figures are medians over rounds;"
echo "ratio = median of the per-round ratios Heron/peer. Load generators:"
echo "smtp_load (one message per connection), pop3_load, smtp_idle. Run time ${run_seconds}s."
echo
printf '| load | Heron | %s | Heron/peer | better |\n' "peer"
echo "|---|---|---|---|---|"
for size in 4096 262144; do
  for conc in ${sessions//,/ }; do
    k=smtp$size.$conc
    row "SMTP $((size / 1024)) KiB, $(smtp_count "$size" "$conc") msgs, $conc sessions: msgs/s into mailbox ($peer_smtp)" "$k.msgs" higher
    row "SMTP $((size / 1024)) KiB, $conc sessions: p50 latency per message, ms" "$k.p50" lower
    row "SMTP $((size / 1024)) KiB, $conc sessions: p99 latency per message, ms" "$k.p99" lower
    row "SMTP $((size / 1024)) KiB, $conc sessions: listen queue overflows per run" "$k.ovf" lower count
    row "SMTP $((size / 1024)) KiB, $conc sessions: peak PSS, MiB" "$k.peak" lower mib
  done
done
row "Flood: 10 sessions of 4 KiB beside one NOOP flood: msgs/s of the others" flood.msgs higher
row "Flood: greeting p99 of the others, ms" flood.greet99 lower
row "Flood: peak PSS, MiB" flood.peak lower mib
echo "| Disk: fsyncs/s, one writer / 8 writers (no server) | $FSYNC1 / $FSYNC8 | - | - | - |"
row "SMTP over TLS (STARTTLS per message), 4 KiB, 10 sessions: msgs/s into mailbox ($peer_smtp)" smtptls.msgs higher
row "SMTP over TLS: p50 latency per message, ms" smtptls.p50 lower
row "SMTP over TLS: p99 latency per message, ms" smtptls.p99 lower
row "Relay $relay_count msgs of 4 KiB, 10 sessions, one destination: msgs/s delivered" relay.msgs higher
row "Relay: p50 from the 250 to the exchanger's receipt, ms" relay.p50 lower
row "Relay: p99 from the 250 to the exchanger's receipt, ms" relay.p99 lower
row "Relay to 10 destinations, one never answers: msgs/s delivered to the others" relaydead.msgs higher
row "Relay, one destination never answers: p99 of the others, ms" relaydead.p99 lower
row "POP3 $pop3_users users x $pop3_messages msgs of $((pop3_size / 1024)) KiB: msgs/s ($peer_pop3)" pop3 higher
row "POP3 same run: MiB/s ($peer_pop3)" pop3mib higher
row "POP3: seconds until all $pop3_users connections were greeted (not in the rates)" pop3conn lower
row "POP3: listen queue overflows per run" pop3ovf lower count
row "POP3 over TLS (STLS), same load: msgs/s ($peer_pop3)" pop3tls higher
row "POP3 over TLS: MiB/s ($peer_pop3)" pop3tlsmib higher
row "Idle: RSS before, MiB ($peer_smtp)" idle_before lower mib
row "Idle: RSS with $idle_count idle SMTP sessions, MiB ($peer_smtp)" idle_after lower mib
row "Idle: RSS per connection, KiB ($peer_smtp)" idle_per lower
row "Idle: PSS per connection, KiB ($peer_smtp)" idle_pss lower
echo
echo "Per round (Heron | peer):"
for key in $(printf '%s\n' "${!R[@]}" | sed 's/\.\(heron\|peer\)$//' | sort -u); do
  printf '  %-22s %s| %s\n' "$key" "${R[$key.heron]:-}" "${R[$key.peer]:--}"
done

# One machine-readable line per figure.
result() {  # NAME SESSIONS KEY [mib | count]
  local h p r
  h=$(fig "$3.heron"); p=$(fig "$3.peer"); r=$(ratio "$3")
  [[ "${4:-}" == count || "$p" == - ]] && r="-"
  if [[ "${4:-}" == mib ]]; then h=$(kib2mib "$h"); p=$(kib2mib "$p"); fi
  echo "RESULT load=$1 sessions=$2 heron=$h peer=$p ratio=$r"
}
echo
for size in 4096 262144; do
  for conc in ${sessions//,/ }; do
    n=smtp$((size / 1024))k
    result "$n" "$conc" "smtp$size.$conc.msgs"
    result "$n.p50_ms" "$conc" "smtp$size.$conc.p50"
    result "$n.p99_ms" "$conc" "smtp$size.$conc.p99"
    result "$n.overflows" "$conc" "smtp$size.$conc.ovf" count
    result "$n.peak_mib" "$conc" "smtp$size.$conc.peak" mib
  done
done
result flood.others_msgs 10 flood.msgs
result flood.greet_p99_ms 10 flood.greet99
result flood.peak_mib 11 flood.peak mib
keep() {  # WHO: the others' rate under the flood over the rate without it
  local f n
  f=$(fig "flood.msgs.$1"); n=$(fig "smtp4096.10.msgs.$1")
  [[ "$f" == fail || "$f" == - || "$n" == fail || "$n" == - ]] && { echo "$f"; return; }
  calc "$f / $n" 2
}
echo "RESULT load=flood.others_kept sessions=10 heron=$(keep heron) peer=$(keep peer) ratio=-"
echo "RESULT load=fsync sessions=1 heron=$FSYNC1 peer=- ratio=-"
echo "RESULT load=fsync sessions=8 heron=$FSYNC8 peer=- ratio=-"
result smtp4k_tls 10 smtptls.msgs
result smtp4k_tls.p50_ms 10 smtptls.p50
result smtp4k_tls.p99_ms 10 smtptls.p99
result relay.msgs_per_s 10 relay.msgs
result relay.p50_ms 10 relay.p50
result relay.p99_ms 10 relay.p99
result relay_one_dead.others_msgs_per_s 10 relaydead.msgs
result relay_one_dead.others_p99_ms 10 relaydead.p99
result pop3 "$pop3_users" pop3
result pop3.mib_per_s "$pop3_users" pop3mib
result pop3_tls "$pop3_users" pop3tls
result pop3_tls.mib_per_s "$pop3_users" pop3tlsmib
result idle.kib_per_conn "$idle_count" idle_per

# A failed figure fails the run.
for key in "${!R[@]}"; do
  [[ " ${R[$key]} " == *" fail "* ]] && die "some loads failed (see the messages above)"
done
exit 0
