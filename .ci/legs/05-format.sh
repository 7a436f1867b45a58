# Leg: new and changed lines of the C and C++ sources follow .clang-format
# (the tree is not reformatted as a whole).  The lines are those changed
# since the branch left main, or, on main itself, by the last commit;
# FORMAT_BASE names another base commit.
base=${FORMAT_BASE:-}
if [ -z "$base" ]; then
    if git rev-parse -q --verify main >/dev/null && [ "$(git rev-parse HEAD)" != "$(git rev-parse main)" ]; then
        base=$(git merge-base HEAD main)
    else
        base=HEAD~1
    fi
fi
if ! git rev-parse -q --verify "$base^{commit}" >/dev/null; then
    echo "format: base $base is not in this clone (shallow?); set FORMAT_BASE" >&2
    exit 1
fi
log "format of the lines changed since $(git rev-parse --short "$base")"
out=$(git clang-format --diff --extensions c,cc,cpp,h,hpp "$base" -- . 2>&1)
case "$out" in
    "" | *"no modified files to format"* | *"did not modify any files"*) echo "format: clean" ;;
    *)
        printf '%s\n' "$out"
        echo "format: the lines above do not follow .clang-format; fix with: git clang-format $base" >&2
        exit 1
        ;;
esac
