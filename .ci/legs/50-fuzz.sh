# Leg: every libFuzzer target of fuzz/ runs 60 seconds (two at once); any
# finding fails the leg.  The findings of the past replay in every ctest run.
fuzz/run.sh --seconds 60 --jobs "$JOBS"
