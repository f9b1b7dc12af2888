"""tavreg's start-up: `tavreg --json` on the bundled example against `tavreg --help`, run
alternately, 15 times each; prints the medians and their ratio.

    python3 bench/tavreg_startup.py [TAVREG]

run from anywhere; TAVREG defaults to build/apps/tavreg/tavreg of this repository."""
import os
import statistics
import subprocess
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
tavreg = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, 'build', 'apps', 'tavreg', 'tavreg')
env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
commands = {'help': [tavreg, '--help'], 'json': [tavreg, '--json', '--quiet']}
times = {k: [] for k in commands}
for r in range(15):
    for k in (['help', 'json'] if r % 2 == 0 else ['json', 'help']):
        start = time.perf_counter()
        subprocess.run(commands[k], stdout=subprocess.DEVNULL, env=env, check=True)
        times[k].append(time.perf_counter() - start)
for k in times:
    print(k, '%.1f ms' % (statistics.median(times[k]) * 1000))
print('ratio %.2f' % (statistics.median(times['json']) / statistics.median(times['help'])))
