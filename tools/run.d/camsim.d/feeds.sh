# camsim's detection feeds: the scenario of the main job (FEEDS_SCENARIO to
# pick another, e.g. scenarios/two-people-crossing.json). Sourced by
# tools/run.d/10-camsim.sh, which starts camsim with camsim_args.
feeds_scenario="${FEEDS_SCENARIO:-$top/scenarios/person-walking.json}"
camsim_args+=(--feeds-scenario "$feeds_scenario")
feedtools="$top/build/platform/feedtools"
cat >> "$run/hints.txt" <<HINTS
camsim feeds (scenario $feeds_scenario): watch them with
  CAMROOT=$CAMROOT $feedtools/detfeed-sub
  CAMROOT=$CAMROOT $feedtools/scenefeed-sub
  CAMROOT=$CAMROOT $feedtools/mbx-sub
  other scenes: CAMROOT=$CAMROOT $top/build/platform/camsim/camsimctl scenario-load path=$top/scenarios/car-passing.json
  objects against camera aim: $top/tools/plot_feeds_trace.py $run/camsim-trace.csv aim.png
  tracking figures and plot of the last complete loop:
    $top/tools/track-report --trace $run/camsim-trace.csv --pass -1 --scenario $feeds_scenario --out $run
HINTS
