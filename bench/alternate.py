#!/usr/bin/env python3
"""Times commands side by side: each round runs every command once, in turn,
through hyperfine (so a disturbance on the machine hits all of them alike), and
the figure of each command is its median over the rounds. Each round starts one
command further on, so that none always runs first: on a virtual machine the
first run after a pause is often the slow one.

  bench/alternate.py [--rounds N] [--prepare CMD] [--floors I,J] [--json FILE] CMD...

--prepare runs before every single run (hyperfine's --prepare), for example
'sync; echo 3 > /proc/sys/vm/drop_caches' for cold-cache figures. Prints one
line per command: its median, the spread of its runs, the median processor
time (user + system) and the command. With --floors (1-based positions of the
floor commands), each other command's median is then given as a ratio to the
larger floor median of the same run."""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--prepare", default=None)
    parser.add_argument("--floors", default="", help="positions of the floor commands, 1-based")
    parser.add_argument("--json", default=None, help="write the medians here")
    parser.add_argument("commands", nargs="+")
    args = parser.parse_args()

    times = [[] for _ in args.commands]
    cpu = [[] for _ in args.commands]
    with tempfile.TemporaryDirectory() as work:
        export = os.path.join(work, "round.json")
        count = len(args.commands)
        for round_ in range(args.rounds):
            order = [(round_ + k) % count for k in range(count)]
            call = ["hyperfine", "-N", "--runs", "1", "--style", "none", "--export-json", export]
            if args.prepare:
                call += ["--prepare", args.prepare]
            subprocess.run(call + [args.commands[i] for i in order], check=True,
                           stdout=subprocess.DEVNULL)
            with open(export) as f:
                for i, result in zip(order, json.load(f)["results"]):
                    times[i] += result["times"]
                    cpu[i].append(result["user"] + result["system"])

    medians = []
    for command, runs, used in zip(args.commands, times, cpu):
        median = statistics.median(runs)
        medians.append(median)
        print(f"  {median * 1000:8.1f} ms  (runs {min(runs) * 1000:.1f}..{max(runs) * 1000:.1f} ms,"
              f" cpu {statistics.median(used) * 1000:.0f} ms)  $ {command}")
    floors = [int(i) - 1 for i in args.floors.split(",") if i]
    if floors:
        floor = max(floors, key=lambda i: medians[i])
        for i, command in enumerate(args.commands):
            if i not in floors:
                print(f"  ratio {medians[i] / medians[floor]:.2f}x  "
                      f"({medians[i] * 1000:.1f} ms / {medians[floor] * 1000:.1f} ms of "
                      f"{'the larger floor' if len(floors) > 1 else 'the floor'},"
                      f" {args.commands[floor].split()[0].split('/')[-1]})  $ {command}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"commands": args.commands, "medians": medians, "times": times}, f)
    return 0


if __name__ == "__main__":
    sys.exit(main())
