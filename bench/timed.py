#!/usr/bin/env python3
"""Runs a command and appends to FILE its wall time and its processor time
(user and system, from wait4), in seconds, to the microsecond: the script's
own start is not counted. Exits with the command's status.
Usage: timed.py FILE COMMAND [ARGS...]"""
import os
import sys
import time


def main():
    out, cmd = sys.argv[1], sys.argv[2:]
    t0 = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        try:
            os.execvp(cmd[0], cmd)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - t0
    with open(out, "a") as f:
        f.write("%.6f %.6f\n" % (wall, usage.ru_utime + usage.ru_stime))
    sys.exit(os.waitstatus_to_exitcode(status))


if __name__ == "__main__":
    main()
