#!/usr/bin/env python3
"""Snakemake's status command for Slurm: prints running, success or failed for a job id,
from scontrol (jobs still known to the controller) or sacct (accounting)."""
import subprocess
import sys

RUNNING = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "REQUEUED", "RESIZING",
           "STAGE_OUT", "SIGNALING"}


def state_of(jobid):
    proc = subprocess.run(["scontrol", "show", "job", "-o", jobid], capture_output=True, text=True)
    if proc.returncode == 0:
        for field in proc.stdout.split():
            if field.startswith("JobState="):
                return field.split("=", 1)[1]
    proc = subprocess.run(["sacct", "-n", "-X", "-P", "-o", "State", "-j", jobid], capture_output=True, text=True)
    if proc.returncode == 0 and proc.stdout.strip():
        return proc.stdout.split()[0]
    return None


def main():
    jobid = sys.argv[1]
    state = state_of(jobid)
    if state is None:
        print("running")  # not yet visible; Snakemake asks again
    elif state.split()[0] == "COMPLETED":
        print("success")
    elif state in RUNNING:
        print("running")
    else:
        print("failed")


if __name__ == "__main__":
    main()
