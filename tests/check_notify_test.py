#!/usr/bin/python3
"""quorvel --check, the real program, against a notification service on a private session
bus: python3-dbusmock's notification template records every Notify call.

usage: check_notify_test.py QUORVEL_BINARY RULE_BOOK [unittest arguments]
QV_NOTIFY_RECORD, when set, names a file that receives the recorded Notify call.
"""
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import dbus
    import dbusmock
except ImportError as missing:
    print(f'SKIP: python3-dbusmock is not installed ({missing}); run scripts/setup')
    sys.exit(77)
if shutil.which('dbus-daemon') is None:
    print('SKIP: dbus-daemon is not installed; run scripts/setup')
    sys.exit(77)

BINARY = os.path.abspath(sys.argv[1])
RULE_BOOK = os.path.abspath(sys.argv[2])
del sys.argv[1:3]

DAY = 86400
OVERDUE_TEXT = '未執行の判決が3件あります（量刑計45ポイント、最も古いものは5日前）'


def read(path, mode='rb'):
    with open(path, mode) as f:
        return f.read()


def snapshot(folder):
    return {name: read(os.path.join(folder, name)) for name in os.listdir(folder)}


def english(text, *known):
    """Latin words left in text once the paths, file and option names it quotes are gone."""
    for name in sorted(known, key=len, reverse=True):
        text = text.replace(name, '')
    return re.findall(r'[A-Za-z]{2,}', text)


def record(time_, total, executed):
    return f'{time_}\t1\tX\t{total}\tA:1 \t{1 if executed else 0}\t1\t0\t0\t0\t2\r\n'.encode()


class CheckNotifyTest(dbusmock.DBusTestCase):
    @classmethod
    def setUpClass(cls):
        cls.start_session_bus()
        cls.bus = cls.get_dbus()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='quorvel-check-')
        self.config = os.path.join(self.dir, 'config')
        os.makedirs(os.path.join(self.config, 'quorvel'))
        with open(os.path.join(self.config, 'quorvel', 'quorvel.conf'), 'w') as conf:
            conf.write('[reminder]\ndays=3\n')
        self.mock = None
        self.log = os.path.join(self.dir, 'notify.log')

    def tearDown(self):
        if self.mock is not None:
            self.mock.terminate()
            self.mock.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start_mock(self, parameters=None):
        self.mock_log = open(self.log, 'wb')
        self.mock, self.obj = self.spawn_server_template(
            'notification_daemon', parameters or {}, stdout=self.mock_log)
        self.addCleanup(self.mock_log.close)

    def notify_calls(self):
        return [call for call in self.obj.GetCalls(dbus_interface=dbusmock.MOCK_IFACE)
                if call[1] == 'Notify']

    def folder(self, name, log=None, balance=None):
        path = os.path.join(self.dir, name)
        os.makedirs(path)
        shutil.copy(RULE_BOOK, os.path.join(path, 'test.dat'))
        if log is not None:
            with open(os.path.join(path, 'test.log'), 'wb') as f:
                f.write(log)
        if balance is not None:
            with open(os.path.join(path, 'user.dat'), 'wb') as f:
                f.write(balance)
        return path

    def overdue_folder(self, name='data'):
        now = int(time.time())
        return self.folder(name, record(now - 5 * DAY - 60, 20, False) +
                           record(now - DAY, 15, False) + record(now - 60, 10, False) +
                           record(now - 40 * DAY, 99, True))

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items()
               if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM')}
        env['XDG_CONFIG_HOME'] = self.config
        env['XDG_RUNTIME_DIR'] = self.dir
        env.update(extra)
        return env

    def check(self, *args, **extra):
        return subprocess.run([BINARY, '--check', *args], env=self.env(**extra),
                              capture_output=True, timeout=60, text=True)

    def test_an_overdue_folder_sends_one_notification_with_open(self):
        self.start_mock()
        data = self.overdue_folder()
        # A copy of the program at work holds the folder and the log: the check only reads.
        held = os.open(data, os.O_RDONLY | os.O_DIRECTORY)
        log = open(os.path.join(data, 'test.log'), 'rb')
        fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        fcntl.flock(log, fcntl.LOCK_EX | fcntl.LOCK_NB)
        before = snapshot(data)
        try:
            result = self.check(data)
        finally:
            os.close(held)
            log.close()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, OVERDUE_TEXT + '\n')
        self.assertEqual(snapshot(data), before, 'nothing written in the data folder')

        calls = self.notify_calls()
        self.assertEqual(len(calls), 1)
        app, replaces, icon, summary, body, actions, hints, timeout = calls[0][2]
        self.assertEqual(app, 'Quorvel裁判所')
        self.assertEqual(replaces, 0)
        self.assertTrue(icon)
        self.assertEqual(summary, OVERDUE_TEXT)
        self.assertEqual(body, 'データフォルダ: ' + data)
        self.assertEqual(list(actions)[1::2], ['開く', '開く'])
        self.assertIn('open', list(actions)[0::2])
        self.assertEqual(hints['desktop-entry'], 'quorvel')
        self.assertEqual(timeout, -1)
        self.mock_log.flush()
        recorded = read(self.log, 'rb').decode('utf-8')
        self.assertEqual(recorded.count(' Notify '), 1, recorded)
        if os.environ.get('QV_NOTIFY_RECORD'):
            with open(os.environ['QV_NOTIFY_RECORD'], 'w', encoding='utf-8') as out:
                out.write(recorded)

    def test_nothing_overdue_sends_nothing(self):
        self.start_mock()
        now = int(time.time())
        cases = [
            ('empty', None, None, '知らせることはありません（未執行の判決0件）\n'),
            # The reminder's unit names the folder by its bytes: a name that is not UTF-8
            # reaches the folder itself.
            (os.fsdecode(b'not-utf8-\xff\x81'), None, None,
             '知らせることはありません（未執行の判決0件）\n'),
            ('young', record(now - 60, 5, False) + record(now - 90 * DAY, 7, True),
             b'quorvel\t1\tuser\t500\t0\t0\r\n',
             '知らせることはありません（未執行の判決1件、最も古いものは今日、'
             'ポイント残高500ポイント）\n'),
        ]
        for name, log, balance, text in cases:
            with self.subTest(name):
                result = self.check(self.folder(name, log, balance))
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, text)
        self.assertEqual(self.notify_calls(), [])

    def test_a_balance_over_its_limit_is_told(self):
        self.start_mock()
        with open(os.path.join(self.config, 'quorvel', 'quorvel.conf'), 'a') as conf:
            conf.write('balanceOn=true\nbalanceAbove=100\n')
        data = self.folder('data', None, b'quorvel\t1\tuser\t150\t0\t0\r\n')
        result = self.check(data)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout,
                         'ポイント残高が150ポイントあります（100ポイントを超えています）\n')
        self.assertEqual(len(self.notify_calls()), 1)

    def test_without_a_notification_service_it_only_prints(self):
        data = self.overdue_folder()
        for what, address, why in [
                ('a bus without the service', os.environ['DBUS_SESSION_BUS_ADDRESS'],
                 '通知サービスが動いていません'),
                ('no bus at all', 'unix:path=' + os.path.join(self.dir, 'no-bus'),
                 'セッションバスにつながっていません')]:
            with self.subTest(what):
                result = self.check(data, DBUS_SESSION_BUS_ADDRESS=address)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, OVERDUE_TEXT + '\n')
                # Japanese to the end: neither the bus's nor the toolkit's English.
                self.assertEqual(result.stderr, f'quorvel: デスクトップに通知できませんでした（{why}）。'
                                                '知らせることは上のとおりです。\n')

    def wait_for_notify(self, process):
        for _ in range(300):
            if self.notify_calls() or process.poll() is not None:
                return
            time.sleep(0.1)

    def report_processes(self, data):
        found = []
        for pid in filter(str.isdigit, os.listdir('/proc')):
            try:
                with open(f'/proc/{pid}/cmdline', 'rb') as f:
                    argv = f.read().split(b'\0')
            except OSError:
                continue
            if b'--open-report' in argv and os.fsencode(data) in argv:
                found.append(int(pid))
        return found

    def test_open_starts_the_execution_report_and_closing_starts_nothing(self):
        self.start_mock({'capabilities': 'body actions'})
        for answer in ['closed', 'open']:
            with self.subTest(answer):
                data = self.overdue_folder(answer)
                self.obj.ClearCalls(dbus_interface=dbusmock.MOCK_IFACE)
                # The report it opens needs a window system: offscreen here.
                process = subprocess.Popen([BINARY, '--check', data],
                                           env=self.env(QT_QPA_PLATFORM='offscreen'),
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.wait_for_notify(process)
                self.assertIsNone(process.poll(), 'the check waits for the answer')
                # Each notification of the mock gets the next id: 1, then 2.
                note = dbus.UInt32(1 if answer == 'closed' else 2)
                if answer == 'open':
                    self.obj.EmitSignal('org.freedesktop.Notifications', 'ActionInvoked', 'us',
                                        [note, 'open'], dbus_interface=dbusmock.MOCK_IFACE)
                else:
                    self.obj.CloseNotification(note,
                                               dbus_interface='org.freedesktop.Notifications')
                self.assertEqual(process.wait(timeout=30), 0)
                process.stdout.close()
                process.stderr.close()
                started = []
                for _ in range(100 if answer == 'open' else 10):
                    started = self.report_processes(data)
                    if started:
                        break
                    time.sleep(0.1)
                for pid in started:
                    os.kill(pid, 15)
                self.assertEqual(len(started), 1 if answer == 'open' else 0)

    def test_problems_give_1_and_bad_requests_2(self):
        os.mkfifo(os.path.join(self.folder('fifo'), 'test.log'))
        os.makedirs(os.path.join(self.dir, 'no-rule-book'))
        cases = [
            ('a folder that is not there', [os.path.join(self.dir, 'missing')], 1),
            ('a folder without test.dat', [os.path.join(self.dir, 'no-rule-book')], 1),
            ('a FIFO as the log is not waited on', [os.path.join(self.dir, 'fifo')], 1),
            ('two folders', ['a', 'b'], 2),
            ('an option of the export', ['--utf8'], 2),
        ]
        for what, args, code in cases:
            with self.subTest(what):
                result = self.check(*args)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertEqual(result.stdout, '')
                self.assertTrue(result.stderr)
                self.assertEqual(english(result.stderr, BINARY, *args, 'quorvel', 'test.dat',
                                         'test.log', 'FIFO', '--help', '--export-csv', '--from', '--to', '--utf8'),
                                 [], result.stderr)


if __name__ == '__main__':
    unittest.main(verbosity=2)
