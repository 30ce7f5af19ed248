#!/usr/bin/env python3
"""Snakemake's status command for Slurm: prints running, success or failed for a job id,
from scontrol (jobs still known to the controller) or sacct (accounting)."""
import subprocess
import sys

RUNNING = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "REQUEUED", "RESIZING",
           "STAGE_OUT", "SIGNALING"}


def ask(args):
    try:
        return subprocess.run(args, capture_output=True, text=True, timeout=60)
    except (subprocess.TimeoutExpired, OSError):
        return None


def state_of(jobid):
    """The job's state; None while Slurm cannot be asked, GONE when it no longer knows the job."""
    proc = ask(["scontrol", "show", "job", "-o", jobid])
    if proc is None:
        return None
    if proc.returncode == 0:
        for field in proc.stdout.split():
            if field.startswith("JobState="):
                return field.split("=", 1)[1]
    known = "Invalid job id" not in proc.stderr
    acct = ask(["sacct", "-n", "-X", "-P", "-o", "State", "-j", jobid])
    if acct is not None and acct.returncode == 0 and acct.stdout.strip():
        return acct.stdout.split()[0]
    return None if known else "GONE"


def main():
    jobid = sys.argv[1]
    state = state_of(jobid)
    if state is None:
        print("running")  # Slurm cannot be asked now; Snakemake asks again
    elif state.split()[0] == "COMPLETED":
        print("success")
    elif state in RUNNING:
        print("running")
    else:
        print("failed")


if __name__ == "__main__":
    main()
