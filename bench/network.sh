#!/bin/sh
# A network file system on this machine, for `make bench-network`: an sshd
# of its own on a local port (its own host and user keys, nothing of the
# system's ssh setup used) and an sshfs mount of a directory through it.
#
#   sh bench/network.sh up DIR     mounts DIR/export at DIR/mnt
#   sh bench/network.sh down DIR   unmounts it and stops the sshd
#
# Needs the Debian packages sshfs and openssh-server, and FUSE. The port is
# NET_PORT (default 2222).
set -eu
cmd=${1:?up or down}
dir=$(mkdir -p "${2:?directory}" && cd "$2" && pwd)
port=${NET_PORT:-2222}

case "$cmd" in
up)
    for tool in sshfs /usr/sbin/sshd ssh-keygen; do
        command -v "$tool" >/dev/null 2>&1 || { echo "$tool missing (Debian: sshfs, openssh-server)" >&2; exit 2; }
    done
    mkdir -p "$dir/keys" "$dir/export" "$dir/mnt" /run/sshd
    chmod 700 "$dir/keys"
    [ -f "$dir/keys/host" ] || ssh-keygen -q -t ed25519 -N '' -f "$dir/keys/host"
    [ -f "$dir/keys/user" ] || ssh-keygen -q -t ed25519 -N '' -f "$dir/keys/user"
    cp "$dir/keys/user.pub" "$dir/keys/authorized"
    cat > "$dir/keys/sshd_config" <<CONF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/keys/host
PidFile $dir/keys/sshd.pid
AuthorizedKeysFile $dir/keys/authorized
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
Subsystem sftp internal-sftp
CONF
    /usr/sbin/sshd -f "$dir/keys/sshd_config"
    sshfs -p "$port" -o "IdentityFile=$dir/keys/user,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null" \
        -o reconnect "$(id -un)@127.0.0.1:$dir/export" "$dir/mnt"
    echo "mounted $dir/export at $dir/mnt (sshfs over 127.0.0.1:$port)"
    ;;
down)
    fusermount -u "$dir/mnt" 2>/dev/null || umount "$dir/mnt" 2>/dev/null || true
    if [ -f "$dir/keys/sshd.pid" ]; then
        kill "$(cat "$dir/keys/sshd.pid")" 2>/dev/null || true
        rm -f "$dir/keys/sshd.pid"
    fi
    echo "unmounted $dir/mnt"
    ;;
*)
    echo "usage: $0 up|down DIR" >&2
    exit 2
    ;;
esac
