# Installing the legs' Debian packages (sourced by .ci/run, CI=true only).
#
# Two states of the package mirror have stopped CI before any leg ran:
#   - an index caught mid-sync: its size or hash disagrees with the signed
#     release file, so apt-get update drops it ("Mirror sync in progress?").
#     Lasting for days on the security archive's armhf index, it leaves a
#     fresh machine with no armhf security updates at all.
#   - the armhf side behind the amd64 side: a Multi-Arch: same package (libc6,
#     zlib1g, linux-libc-dev ...) must have the same version on both
#     architectures, and the amd64 one installed on the machine may be newer
#     than any armhf one an index offers.
# So: the update is tried three times; an index it dropped is fetched as it is
# and used unverified against the release file (the packages it lists are
# still checked against the hashes it gives); and an armhf package whose amd64
# twin is installed at a version no index offers for armhf is fetched from the
# archive's pool at that version.  The install still fails when a package
# cannot be had.

apt_update() {
    local attempt out
    for attempt in 1 2 3; do
        out=$(apt-get update -qq 2>&1) && return 0
        printf '%s\n' "$out"
        if [ "$attempt" = 3 ]; then
            log "apt-get update failed 3 times: going on with the package lists at hand"
            apt_take_dropped_indexes "$out"
        else
            log "apt-get update failed (a mirror may be syncing): trying again in 30 s"
            sleep 30
        fi
    done
}

# Fetches each index the update dropped as a size or hash mismatch and puts
# it where apt keeps its lists, under the name apt would have given it.
apt_take_dropped_indexes() {
    local url name tmp
    for url in $(printf '%s\n' "$1" | sed -n 's/^E: Failed to fetch \(http[^ ]*\/Packages\.xz\) .*/\1/p' | sort -u); do
        name=$(printf '%s' "${url%.xz}" | sed -e 's|^[a-z]*://||' -e 's|/|_|g')
        tmp=$(mktemp)
        if /usr/lib/apt/apt-helper download-file "$url" "$tmp" >/dev/null 2>&1 &&
            xz -dc "$tmp" >"/var/lib/apt/lists/$name.new"; then
            mv "/var/lib/apt/lists/$name.new" "/var/lib/apt/lists/$name"
            log "using $url as served (not the release file's version)"
        else
            rm -f "/var/lib/apt/lists/$name.new"
        fi
        rm -f "$tmp"
    done
}

# Candidate version apt would install of a package, or nothing.
apt_candidate() {
    apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -v '^(none)$' || true
}

# Downloads the armhf package $1 at the version its amd64 twin is installed
# at, from the pool of any archive in the sources, into $2; prints the file.
apt_fetch_twin() {
    local pkg=$1 dir=$2 version src prefix uri area file
    version=$(dpkg-query -W -f='${Version}' "$pkg:amd64" 2>/dev/null) || return 1
    [ -n "$version" ] || return 1
    [ "$version" != "$(apt_candidate "$pkg:armhf")" ] || return 1
    src=$(dpkg-query -W -f='${source:Package}' "$pkg:amd64")
    case "$src" in lib?*) prefix=${src:0:4} ;; *) prefix=${src:0:1} ;; esac
    file="${pkg}_${version#*:}_armhf.deb"
    for uri in $(apt-get indextargets --format '$(REPO_URI)' | sort -u); do
        for area in pool/updates/main pool/main; do
            if /usr/lib/apt/apt-helper download-file "$uri$area/$prefix/$src/$file" "$dir/$file" >/dev/null 2>&1; then
                printf '%s\n' "$dir/$file"
                return 0
            fi
        done
    done
    return 1
}

install_packages() {
    log "installing packages"
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx armhf; then
        dpkg --add-architecture armhf
    fi
    local pkgs
    pkgs=$(sed -e 's/#.*//' .ci/packages/*.txt | tr -s ' \n' '\n' | sed '/^$/d' | sort -u)
    apt_update
    # Local files for armhf twins no index offers: added while the resolver
    # names armhf packages it cannot install (a few rounds at most).
    local twins=() dir round out name file added
    local -A tried=()
    dir=$(mktemp -d)
    for round in 1 2 3 4 5 6; do
        # shellcheck disable=SC2086
        out=$(apt-get install -s --no-install-recommends $pkgs "${twins[@]}" 2>&1) && break
        added=0
        for name in $(printf '%s\n' "$out" | grep -o '[a-z0-9][a-z0-9.+-]*:armhf' | sed 's/:armhf$//' | sort -u); do
            [ -n "${tried[$name]:-}" ] && continue
            tried[$name]=1
            if file=$(apt_fetch_twin "$name" "$dir"); then
                log "armhf $name at its amd64 version: $(basename "$file")"
                twins+=("$file")
                added=1
            fi
        done
        [ "$added" = 1 ] || break
    done
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $pkgs "${twins[@]}" >/dev/null
    rm -rf "$dir"
}
