# Leg: the API reference from the public headers, with Doxygen; any warning
# (an undocumented function, a broken reference) fails it.  Reuses build/.
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target docs
test -s build/docs/html/index.html
