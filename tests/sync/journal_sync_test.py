#!/usr/bin/python3
"""Two computers, one folder, a real sync engine between them, and one journal per computer.

The desktop's folder has been in use (a balance of 526); the laptop was set up with the
samples and started once before it joined. Both act apart while the folder is paused
(decide, 削除, 執行, the point report) through journal_actor, which appends each action to
its own computer's journal; then the folder resumes. Each computer brings its files up to
the journals it holds; once the engines settle, both hold byte-identical files, every
sentence once in the log or the trash, no identifier twice, and the balance a replay of
the actions gives (526 stays: the samples brought nothing), and the engine's conflict copies
of the files moved to conflicts/. A second round of actions and syncs must hold the same.

usage: journal_sync_test.py JOURNAL_ACTOR RULE_BOOK
Then three computers (a third with an empty folder joins) act apart and settle the same
way.

Exit 0 passed, 1 failed, 77 skipped (syncthing missing).
"""
import os
import runpy
import shutil
import sys
import types

HERE = os.path.dirname(os.path.abspath(__file__))
# The engines, their settings and the waits are the two-computer test's own: loaded from
# it with this test's programs as its arguments (it runs nothing on load).
sys.argv = [sys.argv[0], sys.argv[1], sys.argv[1], sys.argv[2]]
two = types.SimpleNamespace(**runpy.run_path(os.path.join(HERE, 'two_computers_test.py'),
                                             run_name='two_computers'))

T0 = 1780000000


def sentences(engine):
    """The folded sentences: (origin, n) -> (id, live)."""
    return {(line[1], line[2]): (line[3], line[4] == '1')
            for line in two.actor(engine, 'sentences') if line[0] == 'sentence'}


def start_all_and_settle(engines, poll, rescan, what):
    """Each computer brings its files up to the journals it holds; the engines carry the
    result until both hold the same files twice in a row."""
    for _ in range(3):
        for engine in engines:
            two.actor(engine, 'start')
            engine.scan()
        two.wait_for(what, poll, 60, step=0.5, between=rescan)
        # A start after the last arrival changes nothing: the files are the fold.
        if all(two.actor(e, 'start') == [['start']] for e in engines):
            return
    raise two.Failure(f'{what}: the files kept changing')


def check_folders(engines, decided, expected):
    a = engines[0]
    files = two.tree(a.data)
    two.check(all(files == two.tree(e.data) for e in engines[1:]), 'the computers hold different files')
    # The engine's copies of the files both rewrote hold nothing the journals lack: parked.
    stray = [path for path in files if two.CONFLICT.match(path)]
    two.check(not stray, f'conflict copies left beside the files: {stray}')
    log = two.records(files.get('test.log', b''))
    trash = [line.split(b'\t') for line in files.get('test.trs', b'').split(b'\r\n')[:-1]]
    ids = [r[0] for r in log] + [t[6] for t in trash if len(t) > 6 and t[1] == b'log']
    two.check(len(ids) == len(set(ids)), f'an identifier given twice: {sorted(ids)}')
    folded = sentences(a)
    mine = {k for k in folded if not k[0].startswith('#')}
    two.check(mine == set(decided), f'sentences {sorted(mine)} where {sorted(decided)} were decided')
    two.check(two.balance(a.data) == expected, f'balance {two.balance(a.data)}, replay gives {expected}')


def join(engines):
    """The first engine's folder has been in use (a balance of 526), the second was set up
    with the samples and started once, any further one is empty; the engines start and
    connect, and every computer brings its files up to the journals."""
    for engine in engines:
        engine.configure(*[e for e in engines if e is not engine])
    for engine, balance, kind in zip(engines, (b'a\tb\tc\t526\te\tf', b'quorvel\t1\tuser\t0\t0\t0\r\n'),
                                     ('data', 'sample')):
        shutil.copy(two.RULE_BOOK, os.path.join(engine.data, 'test.dat'))
        with open(os.path.join(engine.data, 'user.dat'), 'wb') as f:
            f.write(balance)
        two.actor(engine, 'base', kind, 'start')
    for engine in engines:
        engine.start()
        two.wait_for(f'syncthing {engine.name} to answer', lambda: engine.rest('system/ping'), 30)
    two.wait_for('the engines to connect',
                 lambda: all(x.connected(y) for x in engines for y in engines if x is not y), 60)
    poll, rescan = two.in_sync(*engines)
    start_all_and_settle(engines, poll, rescan, 'the computers to join')
    return poll, rescan


def run(root):
    """Two computers, two rounds; then three."""
    return two_computers(os.path.join(root, 'two')) or three_computers(os.path.join(root, 'three'))


def two_computers(root):
    a = two.Engine(root, 'desktop')
    b = two.Engine(root, 'laptop')
    engines = [a, b]
    try:
        poll, rescan = join(engines)
        two.check(two.balance(b.data) == 526, f'the laptop joined with {two.balance(b.data)}, not 526')
        two.say('ok: the laptop joined; 526 stays on both')

        decided, events = [], []
        first = [tuple(line[1:3]) for line in two.actor(a, 'decide', T0 + 10, 1, 5, 'decide', T0 + 20, 2, 7)]
        decided += first
        events += [(T0 + 10, 5), (T0 + 20, 7)]
        start_all_and_settle(engines, poll, rescan, 'the first decisions to arrive')

        for round_ in range(2):
            for engine in engines:
                engine.pause_folder(True)
            two.wait_for('the folder to pause',
                         lambda: all(e.rest(f'config/folders/{two.FOLDER_ID}')['paused'] for e in engines), 20)
            t = T0 + 1000 * (round_ + 1)
            done_a = two.actor(a, 'decide', t + 10, 3, 4, 'delete', t + 20, *first[0], 'start')
            done_b = two.actor(b, 'decide', t + 10, 4, 6,  # the same second as the desktop's
                               'mark', t + 15, *first[1], 1, 'report', t + 30, 3,
                               'delete', t + 40, *first[0], 'start')  # deleted there too
            decided += [tuple(done_a[0][1:3]), tuple(done_b[0][1:3])]
            # The first sentence's points are taken once: the laptop's delete finds it gone.
            events += [(t + 10, 4), (t + 10, 6), (t + 20, -5), (t + 30, -3)]
            two.say(f'round {round_ + 1}: both sides acted apart')
            for engine in engines:
                engine.pause_folder(False)
            start_all_and_settle(engines, poll, rescan, f'round {round_ + 1} to settle')
            check_folders(engines, decided, two.expected_balance(526, events))
            two.say(f'ok: round {round_ + 1}: both computers hold the same files, every sentence '
                    f'once, the balance {two.balance(a.data)}')
            if round_ == 0:
                # Put back on the desktop, to be deleted on both sides again next round.
                two.actor(a, 'restore', t + 500, *first[0])
                events.append((t + 500, 5))
                start_all_and_settle(engines, poll, rescan, 'the restore to arrive')
                check_folders(engines, decided, two.expected_balance(526, events))
        return 0
    finally:
        for engine in engines:
            engine.stop()


def three_computers(root):
    """A desktop with real data, a laptop with the samples and a tablet with nothing join;
    all three act apart, each on what it had seen, and end byte-identical. No file is
    written by two of them, so no version of one can be lost whichever copy a sync keeps."""
    engines = [two.Engine(root, name) for name in ('desktop', 'laptop', 'tablet')]
    a, b, c = engines
    try:
        poll, rescan = join(engines)
        first = [tuple(line[1:3]) for line in two.actor(a, 'decide', T0 + 10, 1, 5, 'decide', T0 + 20, 2, 7)]
        start_all_and_settle(engines, poll, rescan, 'the first decisions to arrive')

        for engine in engines:
            engine.pause_folder(True)
        two.wait_for('the folder to pause',
                     lambda: all(e.rest(f'config/folders/{two.FOLDER_ID}')['paused'] for e in engines), 20)
        t = T0 + 1000
        decided = first + [tuple(two.actor(a, 'decide', t + 10, 3, 4, 'start')[0][1:3]),
                           tuple(two.actor(b, 'decide', t + 10, 4, 6, 'report', t + 30, 3, 'start')[0][1:3]),
                           tuple(two.actor(c, 'decide', t + 10, 5, 2, 'delete', t + 20, *first[0],
                                           'mark', t + 25, *first[1], 1, 'start')[0][1:3])]
        events = [(T0 + 10, 5), (T0 + 20, 7), (t + 10, 4), (t + 10, 6), (t + 10, 2), (t + 20, -5), (t + 30, -3)]
        for engine in engines:
            engine.pause_folder(False)
        start_all_and_settle(engines, poll, rescan, 'the three computers to settle')
        check_folders(engines, decided, two.expected_balance(526, events))
        two.say(f'ok: three computers hold the same files, every sentence once, the balance '
                f'{two.balance(a.data)}')
        return 0
    finally:
        for engine in engines:
            engine.stop()


if __name__ == '__main__':
    sys.exit(two.main(run, 'quorvel-journal-sync-'))
