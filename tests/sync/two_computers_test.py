#!/usr/bin/python3
"""Two computers, one folder, a real sync engine between them.

Two syncthing instances on 127.0.0.1 (no discovery, relays, NAT traversal, usage or crash
reports, upgrades), each with its own home and one folder shared with the other, stand
for a desktop and a laptop. The folder is synced, then paused on both sides (the laptop
away), both sides act in it (decide, 執行, 削除, the point report, an article edit, through
sync_actor, which runs the windows' core actions at given times), the folder resumed:
syncthing leaves its conflict copies. Then `quorvel --merge-conflicts` on one side, synced to the other, must leave both
with the union of the records, the balance replayed in time order and the copies under
conflicts/.

usage: two_computers_test.py QUORVEL SYNC_ACTOR RULE_BOOK
Exit 0 passed, 1 failed, 77 skipped (syncthing missing, or the program has no
--merge-conflicts yet: then everything up to the merge was still checked).
"""
import calendar
import ctypes
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

SKIP = 77
if shutil.which('syncthing') is None:
    print('SKIP: syncthing is not installed; run scripts/setup')
    sys.exit(SKIP)

QUORVEL, ACTOR, RULE_BOOK = (os.path.abspath(a) for a in sys.argv[1:4])
for program in (QUORVEL, ACTOR):
    if not os.access(program, os.X_OK):
        print(f'FAIL: {program} is not a program to run')
        sys.exit(1)
FOLDER_ID = 'quorvel'
WHOLE_RUN_SECONDS = 200  # under the test's own timeout, so the cleanup still runs
# The six files of a folder and how the sync engine names its copies of them.
DATA_FILES = ['test.dat', 'test.log', 'user.dat', 'user.ldg', 'test.trs', 'test.rsn']
CONFLICT = re.compile(r'^(?P<stem>[^/]+?)\.sync-conflict-(?P<date>\d{8})-(?P<time>\d{6})-'
                      r'(?P<device>[A-Z2-7]{7})(?P<ext>\.[^./]*)?$')
T0 = 1780000000  # the times the actions take place at (late May 2026)


class Failure(Exception):
    pass


def out_of_time(signum, frame):
    raise Failure(f'the whole run took longer than {WHOLE_RUN_SECONDS} s')


def terminated(signum, frame):
    raise Failure(f'stopped by signal {signum}')


def remove_when_gone(root):
    """A helper that removes root once this script is gone, however it ends (a kill -9 by
    a test runner too): it waits for the end of a pipe only this script holds, detached
    (its shell ends at once) so that a runner killing this script's children misses it."""
    helper = subprocess.Popen(['sh', '-c', 'exec 3<&0; (cat <&3 >/dev/null; rm -rf "$0") &',
                               root], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, start_new_session=True)
    helper.wait(timeout=10)
    return helper


STARTED = time.monotonic()


def say(text):
    print(f'[{time.monotonic() - STARTED:5.1f} s] {text}', flush=True)


def check(condition, what):
    if not condition:
        raise Failure(what)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def die_with_parent():
    # A killed test leaves no sync engine running behind it; a Ctrl+C reaches the script,
    # which stops the engines itself.
    ctypes.CDLL('libc.so.6', use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    os.setpgrp()


def wait_for(what, condition, seconds, step=0.25, between=None):
    """Polls condition until it gives a true value, for at most seconds; between runs
    after every failed poll (a rescan, say)."""
    deadline = time.monotonic() + seconds
    last = None
    while True:
        try:
            result = condition()
            if result:
                return result
        except (OSError, urllib.error.URLError, ValueError) as error:
            last = error
        if time.monotonic() > deadline:
            raise Failure(f'timed out after {seconds} s waiting for {what}'
                          + (f' (last error: {last})' if last else ''))
        if between is not None:
            between()
        time.sleep(step)


def tree(folder, top_only=False):
    """Every regular file under folder (the engine's own marker and temporaries aside), by
    relative path, with its bytes."""
    files = {}
    for dirpath, dirnames, filenames in os.walk(folder):
        dirnames[:] = [] if top_only else [d for d in dirnames if d != '.stfolder']
        for name in filenames:
            if name.startswith('.syncthing.') or name.startswith('~syncthing~'):
                continue
            path = os.path.join(dirpath, name)
            with open(path, 'rb') as f:
                files[os.path.relpath(path, folder)] = f.read()
    return files


def records(log_bytes):
    """The log's records as lists of CP932 byte fields."""
    return [line.split(b'\t') for line in log_bytes.split(b'\r\n')[:-1] if line]


def balance(folder):
    with open(os.path.join(folder, 'user.dat'), 'rb') as f:
        return int(f.read().split(b'\t')[3])


class Engine:
    """One syncthing instance: its home, its data folder, its REST API."""

    def __init__(self, root, name):
        self.name = name
        self.home = os.path.join(root, name, 'home')
        self.data = os.path.join(root, name, 'data')
        self.log_path = os.path.join(root, name, 'syncthing.log')
        os.makedirs(os.path.join(self.data, '.stfolder'))
        self.env = dict(os.environ, HOME=os.path.join(root, name), STNOUPGRADE='1',
                        STNORESTART='1', STNODEFAULTFOLDER='1', TZ='UTC',
                        # one process, no monitor above it, so it dies with this script
                        STMONITORED='1',
                        XDG_CONFIG_HOME=os.path.join(root, name, 'config'),
                        XDG_STATE_HOME=os.path.join(root, name, 'state'))
        self.process = None
        subprocess.run(['syncthing', 'generate', '--home', self.home, '--no-default-folder',
                        '--skip-port-probing'], env=self.env, check=True, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.config = ET.parse(os.path.join(self.home, 'config.xml'))
        self.id = self.config.getroot().find('device').get('id')
        self.short = self.id[:7]
        self.api_key = self.config.getroot().find('gui/apikey').text
        self.gui_port = free_port()
        self.listen_port = free_port()

    def configure(self, *others):
        """Listens on 127.0.0.1 only and shares the folder with the other engines."""
        root = self.config.getroot()
        root.find('gui/address').text = f'127.0.0.1:{self.gui_port}'
        options = root.find('options')
        settings = {
            'listenAddress': f'tcp://127.0.0.1:{self.listen_port}',
            'globalAnnounceEnabled': 'false', 'localAnnounceEnabled': 'false',
            'relaysEnabled': 'false', 'natEnabled': 'false', 'urAccepted': '-1',
            'autoUpgradeIntervalH': '0', 'crashReportingEnabled': 'false',
            'startBrowser': 'false', 'reconnectionIntervalS': '1', 'setLowPriority': 'false',
        }
        for key, value in settings.items():
            element = options.find(key)
            if element is None:
                element = ET.SubElement(options, key)
            element.text = value
        for other in others:
            peer = ET.SubElement(root, 'device', id=other.id, name=other.name,
                                 compression='metadata', introducer='false')
            ET.SubElement(peer, 'address').text = f'tcp://127.0.0.1:{other.listen_port}'
            ET.SubElement(peer, 'paused').text = 'false'
        # Scans only when asked (db/scan), so what each side has sent is known.
        folder = ET.SubElement(root, 'folder', id=FOLDER_ID, label=FOLDER_ID, path=self.data,
                               type='sendreceive', rescanIntervalS='3600',
                               fsWatcherEnabled='false', ignorePerms='false')
        for device in (self, *others):
            ET.SubElement(folder, 'device', id=device.id)
        ET.SubElement(folder, 'maxConflicts').text = '-1'
        ET.SubElement(folder, 'markerName').text = '.stfolder'
        self.config.write(os.path.join(self.home, 'config.xml'))

    def start(self):
        self.log_file = open(self.log_path, 'wb')
        self.process = subprocess.Popen(
            ['syncthing', 'serve', '--home', self.home, '--no-browser', '--no-restart',
             '--no-upgrade', '--no-default-folder'],
            env=self.env, stdout=self.log_file, stderr=subprocess.STDOUT,
            preexec_fn=die_with_parent)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        if self.process is not None:
            self.log_file.close()

    def rest(self, path, method='GET', body=None, **params):
        if self.process.poll() is not None:
            raise Failure(f'syncthing {self.name} ended (exit {self.process.returncode})')
        url = f'http://127.0.0.1:{self.gui_port}/rest/{path}'
        if params:
            url += '?' + urllib.parse.urlencode(params)
        headers = {'X-API-Key': self.api_key}
        data = None
        if body is not None:
            data = json.dumps(body).encode()
            headers['Content-Type'] = 'application/json'
        request = urllib.request.Request(url, data=data, method=method, headers=headers)
        with urllib.request.urlopen(request, timeout=5) as response:
            body = response.read()
        return json.loads(body) if body.strip() else None

    def scan(self):
        try:
            self.rest('db/scan', 'POST', folder=FOLDER_ID)
        except (OSError, urllib.error.URLError):
            pass  # a scan already running, say: the next poll asks again

    def pause_folder(self, paused):
        self.rest(f'config/folders/{FOLDER_ID}', 'PATCH', body={'paused': paused})

    def connected(self, other):
        connection = self.rest('system/connections')['connections'].get(other.id, {})
        return connection.get('connected', False)

    def settled(self, other):
        """Nothing to pull here, nothing the other side still needs from here."""
        status = self.rest('db/status', folder=FOLDER_ID)
        completion = self.rest('db/completion', folder=FOLDER_ID, device=other.id)
        return (status['state'] == 'idle' and status['needTotalItems'] == 0
                and status['pullErrors'] == 0 and completion['completion'] == 100
                and completion['needItems'] == 0 and completion['needDeletes'] == 0)


def computer(engine):
    """The environment of the program on engine's computer: both computers are this one
    machine, so each is told its own name for its journal lines."""
    env = {k: v for k, v in os.environ.items()
           if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM')}
    env.update(TZ='UTC', QUORVEL_DEVICE=engine.name)
    return env


def actor(engine, *actions):
    """Runs sync_actor in engine's folder; its lines, split at TAB."""
    args = [ACTOR, engine.data] + [a if isinstance(a, bytes) else str(a) for a in actions]
    done = subprocess.run(args, capture_output=True, timeout=60, env=computer(engine))
    if done.returncode != 0:
        raise Failure(f'sync_actor {actions}: exit {done.returncode}: '
                      f'{done.stderr.decode(errors="replace")}')
    return [line.split('\t') for line in done.stdout.decode().splitlines()]


def quorvel(engine, *args):
    """The program, without a display, on engine's computer."""
    return subprocess.run([QUORVEL] + list(args), capture_output=True, timeout=60,
                          env=computer(engine))


def in_sync(*engines):
    """Every engine at rest and every folder holding the same files, byte for byte, twice in
    a row (a copy made by a pull is seen by the next rescan)."""
    state = {'last': None}
    pairs = [(x, y) for x in engines for y in engines if x is not y]

    def poll():
        if not all(x.connected(y) and x.settled(y) for x, y in pairs):
            state['last'] = None
            return False
        files = tree(engines[0].data)
        if any(files != tree(e.data) for e in engines[1:]):
            state['last'] = None
            return False
        same = state['last'] == files
        state['last'] = files
        return same

    def rescan():
        for engine in engines:
            engine.scan()

    return poll, rescan


def expected_balance(start, events):
    """The balance that doing every action of both sides in time order gives: credits add,
    deletes and reports take, never below 0."""
    figure = start
    for _, delta in sorted(events, key=lambda e: e[0]):
        figure = figure + delta if delta >= 0 else max(0, figure + delta)
    return figure


def run(root):
    a = Engine(root, 'desktop')
    b = Engine(root, 'laptop')
    engines = [a, b]
    try:
        a.configure(b)
        b.configure(a)

        # The desktop has been in use: the sample rule book, a balance and a few sentences.
        shutil.copy(RULE_BOOK, os.path.join(a.data, 'test.dat'))
        with open(os.path.join(a.data, 'user.dat'), 'wb') as f:
            f.write(b'quorvel\t1\tuser\t500\t0\t0\r\n')
        before = [actor(a, 'decide', T0 + 100 * k, article, level)[0]
                  for k, (article, level) in enumerate([(1, 0), (2, 3), (3, 0), (4, 5), (5, 0),
                                                        (1, 2)])]
        ids = [line[1] for line in before]
        points = {line[1]: int(line[3]) for line in before}
        actor(a, 'execute', T0 + 600, ids[0])

        # One after the other: the laptop's first dial then finds the desktop listening,
        # while the desktop's found nobody, so the two do not dial each other at once (the
        # loser of such a race waits for the engine's next round, up to a minute).
        for engine in engines:
            engine.start()
            wait_for(f'syncthing {engine.name} to answer', lambda: engine.rest('system/ping'), 30)
        wait_for('the two engines to connect', lambda: a.connected(b) and b.connected(a), 60)
        say('the two engines are connected')
        poll, rescan = in_sync(a, b)
        wait_for('the laptop to receive the folder', poll, 45, step=0.5, between=rescan)
        say('the laptop has the desktop\'s folder')
        check(set(DATA_FILES) - {'test.trs'} <= set(tree(b.data)), 'the laptop lacks a file')
        start = balance(a.data)

        # Apart: each side stops syncing the folder. The connection stays up, so coming back
        # together needs no redial (which the engine may put off for up to a minute after a
        # paused device is resumed).
        for engine in engines:
            engine.pause_folder(True)
        wait_for('the folder to pause on both sides',
                 lambda: all(e.rest(f'config/folders/{FOLDER_ID}')['paused'] for e in engines), 20)
        say('the folder is paused on both sides')

        remark_a = 'デスクトップで直した備考'.encode('cp932')
        remark_b = 'ノートで直した備考'.encode('cp932')
        done_a = actor(a,
                       'decide', T0 + 1000, 1, 0,
                       'execute', T0 + 1050, ids[1],
                       'decide', T0 + 1100, 2, 0,
                       'delete', T0 + 1150, ids[2],
                       'report', T0 + 1200, 5, 0, 0, 0,
                       'decide', T0 + 1300, 3, 1,
                       'edit', T0 + 1350, 4, remark_a,
                       'decide', T0 + 1400, 2, 0)
        done_b = actor(b,
                       'decide', T0 + 1025, 4, 0,
                       'execute', T0 + 1075, ids[3],
                       'decide', T0 + 1125, 5, 2,
                       'delete', T0 + 1175, ids[4],
                       'execute', T0 + 1180, ids[2],  # deleted on the desktop meanwhile
                       'report', T0 + 1225, 0, 3, 0, 0,
                       'decide', T0 + 1325, 1, 0,
                       'edit', T0 + 1375, 5, remark_b,
                       'decide', T0 + 1400, 3, 0)  # the same second as the desktop's last
        sides = {'desktop': tree(a.data), 'laptop': tree(b.data)}
        say(f'both sides acted apart: {len(done_a)} and {len(done_b)} actions')

        # Together again: each side scans its changes first (a folder that resumes starts
        # with a scan, and pulls nothing before it), then the engines settle, leaving their
        # conflict copies on both sides.
        resumed = time.time()
        for engine in engines:
            engine.pause_folder(False)
        wait_for('both sides to hold the same files after the pause', poll, 60, step=0.5,
                 between=rescan)
        synced = tree(a.data)
        copies = {path: CONFLICT.match(path) for path in synced if CONFLICT.match(path)}
        for name in DATA_FILES:
            stem, ext = os.path.splitext(name)
            found = [p for p, m in copies.items() if m['stem'] == stem and m['ext'] == ext]
            check(len(found) == 1, f'one conflict copy of {name} expected, found {found} '
                                   f'among {sorted(synced)}')
            match = copies[found[0]]
            # The engines run in UTC, so the name's time is UTC.
            stamp = calendar.timegm(time.strptime(match['date'] + match['time'], '%Y%m%d%H%M%S'))
            check(resumed - 5 <= stamp <= time.time() + 5,
                  f'{found[0]}: made at {stamp}, not after the folder resumed at {resumed}')
            # Each side's version is kept: one as the file, the other as the copy.
            versions = {synced[name], synced[found[0]]}
            check(versions == {sides['desktop'][name], sides['laptop'][name]},
                  f'{name}: the two sides\' versions are not the file and its copy')
            # Named for one of the two computers (this engine names the one whose version
            # it kept as the file, not the copy's).
            check(match['device'] in (a.short, b.short),
                  f'{found[0]}: device {match["device"]} is neither {a.short} nor {b.short}')
        say(f'ok: the folder syncs again and both sides hold the same files, with the conflict '
            f'copies {sorted(copies)}')

        # The merge, from the command line on the desktop.
        merge = quorvel(a, '--merge-conflicts', a.data)
        told = merge.stderr.decode(errors='replace')
        check(merge.returncode == 0, f'--merge-conflicts: exit {merge.returncode}: {told}')
        check(told.strip(), '--merge-conflicts said nothing on stderr about what it merged')
        a.scan()
        wait_for('the merge to reach the laptop', poll, 60, step=0.5, between=rescan)
        say('merged on the desktop, synced to the laptop')

        merged = tree(a.data)
        check(merged == tree(b.data), 'the two sides differ after the merge')
        top = tree(a.data, top_only=True)
        check(not any(CONFLICT.match(p) for p in top), f'copies left beside the files: {top}')
        kept = {bytes_ for path, bytes_ in merged.items()
                if path.split(os.sep)[0] == 'conflicts'}
        for path in copies:
            check(synced[path] in kept, f'{path} is not kept under conflicts/')

        # The sentences: the union of both sides, each once; deletes stay deleted.
        log = records(merged['test.log'])
        by_id = {}
        for record in log:
            by_id.setdefault(record[0].decode(), []).append(record)
        check(all(len(v) == 1 for v in by_id.values()), 'an identifier is in the log twice')
        gone = {ids[2], ids[4]}
        check(not gone & set(by_id), f'a deleted sentence is back: {gone & set(by_id)}')
        trash = merged.get('test.trs', b'')
        for id_ in gone:
            check(f'\t{id_}\t'.encode() in trash, f'{id_} is not in the merged trash')
        decided = [line for line in done_a + done_b if line[0] == 'decide']
        kept_ids = set(ids) - gone
        check(kept_ids <= set(by_id), f'sentences of before the pause lost: {kept_ids - set(by_id)}')
        clash = str(T0 + 1400)
        for line in decided:
            check(line[1] in by_id or line[1] == clash, f'sentence {line[1]} lost')
        same_second = [i for i in by_id if int(i) >= T0 + 1400]
        check(len(same_second) == 2, f'the two sentences of one second are not both kept: '
                                     f'{same_second}')
        check(len(log) == len(kept_ids) + len(decided),
              f'{len(log)} records, {len(kept_ids) + len(decided)} expected')
        for id_ in (ids[0], ids[1], ids[3]):
            check(by_id[id_][0][5] == b'1', f'{id_}: the mark 執行 of one side is lost')
        check([r[0] for r in log] == sorted(r[0] for r in log), 'records out of decision order')
        reasons = {line.split(b'\t')[0].decode() for line in merged['test.rsn'].split(b'\r\n')}
        check(set(by_id) <= reasons, f'verdict texts lost: {sorted(set(by_id) - reasons)}')

        # The balance: both sides' actions replayed in time order; the ledger explains it.
        events = []
        for line in done_a + done_b:
            if line[0] == 'decide':
                events.append((int(line[2]), int(line[3])))
            elif line[0] == 'delete':
                events.append((int(line[2]), -points[line[1]]))
            elif line[0] == 'report':
                events.append((int(line[2]), -int(line[3])))
        want = expected_balance(start, events)
        for engine in engines:
            check(balance(engine.data) == want,
                  f'{engine.name}: balance {balance(engine.data)}, the replay gives {want}')
            ledger = actor(engine, 'check')[0]
            check(ledger[3] == 'agrees', f'{engine.name}: the ledger says {ledger[1]}, '
                                         f'the file {ledger[2]}')
        for side in sides.values():
            for line in side['user.ldg'].split(b'\r\n')[:-1]:
                when, _, id_ = line.split(b'\t')[:3]
                check(any(l.split(b'\t')[0] == when and l.split(b'\t')[2] == id_
                          for l in merged['user.ldg'].split(b'\r\n')[:-1]),
                      f'ledger line lost: {line!r}')

        # The rule book: each side's article edit.
        articles = {l.split(b'\t')[0]: l.split(b'\t') for l in
                    merged['test.dat'].split(b'\r\n')[1:] if l}
        check(articles[b'4'][5] == remark_a, 'the desktop\'s article edit is lost')
        check(articles[b'5'][5] == remark_b, 'the laptop\'s article edit is lost')

        # A second merge finds nothing left to do.
        again = quorvel(a, '--merge-conflicts', a.data)
        check(again.returncode == 0, f'second --merge-conflicts: exit {again.returncode}')
        check(tree(a.data) == merged, 'a second merge changed the folder')
        say('ok: both sides hold the union of the records, the replayed balance and the '
            'copies under conflicts/')
        return 0
    except Failure:
        for engine in engines:
            if os.path.exists(engine.log_path):
                with open(engine.log_path, 'rb') as f:
                    tail = f.read()[-3000:].decode(errors='replace')
                print(f'--- syncthing {engine.name} (last lines) ---\n{tail}')
        raise
    finally:
        for engine in engines:
            engine.stop()


def main(scenario=None, prefix='quorvel-sync-'):
    """Runs scenario (this test's own by default) in a fresh root, removed however it ends."""
    signal.signal(signal.SIGALRM, out_of_time)
    signal.signal(signal.SIGTERM, terminated)  # so the cleanup below runs
    signal.signal(signal.SIGINT, terminated)
    signal.alarm(WHOLE_RUN_SECONDS)
    root = tempfile.mkdtemp(prefix=prefix)
    remover = remove_when_gone(root)
    try:
        status = (scenario or run)(root)
    except Failure as failure:
        print(f'FAIL: {failure}')
        status = 1
    finally:
        signal.alarm(0)
        shutil.rmtree(root, ignore_errors=True)
        remover.stdin.close()
    say('done')
    return status


if __name__ == '__main__':
    sys.exit(main())
