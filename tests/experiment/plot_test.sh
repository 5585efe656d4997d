#!/usr/bin/env bash
# Draws a small file of each kind with the plotting script and checks that
# every picture came out: SVG text with a path, PNG with its signature. A
# wrong kind and an unreadable file are refused with a non-zero status.
set -euo pipefail
plot=$1 work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work"
printf 'time,mean,smoothed,replications\n50,1,1,4\n100,2,1.5,4\n150,3,,4\n' > welch.csv
printf 'lower,upper,hits\n,0,1\n0,2,2\n2,4,1\n4,,2\n' > bins.csv
printf 'time,content\n0.0000000,0\n1.0000000,1\n1.5000000,0\n' > content.csv
bash "$plot" welch welch.csv welch.svg
bash "$plot" histogram bins.csv bins.png "Waits"
bash "$plot" content content.csv content.svg
grep -q '<svg' welch.svg && grep -q '<path' welch.svg
grep -q '<svg' content.svg
[ "$(head -c 8 bins.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]
if bash "$plot" bars bins.csv x.svg 2>/dev/null; then echo "unknown kind accepted"; exit 1; fi
if bash "$plot" welch missing.csv x.svg 2>/dev/null; then echo "missing file accepted"; exit 1; fi
if bash "$plot" welch welch.csv x.pdf 2>/dev/null; then echo "unknown format accepted"; exit 1; fi
echo "plots drawn"
