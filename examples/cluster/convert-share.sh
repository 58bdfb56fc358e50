#!/bin/sh
# Converts one share of a collection of scenes; run it once for every share, on one machine or
# on many that see the same folders.
#
#   convert-share.sh LIST OUTPUT_DIR REPORT_DIR SHARES [SHARE]
#
# LIST names the scene files (or folders), one a line. SHARE (0 to SHARES-1) defaults to the
# index a job-array scheduler gives the task: SLURM_ARRAY_TASK_ID (Slurm job arrays) or
# JOB_COMPLETION_INDEX (Kubernetes indexed jobs). Each share writes REPORT_DIR/report-SHARE.json;
# `recaster report merge REPORT_DIR/report-*.json -o report.json` joins them afterwards.
# RECASTER names the program when it is not on the PATH.
set -eu
list=$1
out=$2
reports=$3
shares=$4
share=${5:-${SLURM_ARRAY_TASK_ID:-${JOB_COMPLETION_INDEX:?give SHARE or run as a job-array task}}}
exec "${RECASTER:-recaster}" batch --files-from "$list" --shard "$share/$shares" -o "$out" \
  --report "$reports/report-$share.json"
