import subprocess, time, statistics, sys, os
env=dict(os.environ, QT_QPA_PLATFORM='offscreen')
cmds={'help':['./apps/tavreg/tavreg','--help'],'json':['./apps/tavreg/tavreg','--json','--quiet']}
t={k:[] for k in cmds}
for r in range(15):
    for k in (['help','json'] if r%2==0 else ['json','help']):
        s=time.perf_counter(); subprocess.run(cmds[k],stdout=subprocess.DEVNULL,stderr=subprocess.DEVNULL,env=env); t[k].append(time.perf_counter()-s)
for k in t: print(k, '%.1f ms' % (statistics.median(t[k])*1000))
print('ratio %.2f' % (statistics.median(t['json'])/statistics.median(t['help'])))
