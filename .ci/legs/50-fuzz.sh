# Leg: every libFuzzer target of fuzz/ runs 45 seconds, three at once on the
# two cores (two rounds for six targets: about 90 s of fuzzing after a build
# of about two minutes); any finding fails the leg.  The findings of the past
# replay in every ctest run.
fuzz/run.sh --seconds 45 --jobs 3
