#!/usr/bin/python3
"""Two real copies of the program in one folder, on a virtual X display (Xvfb): the
reminder's 開く runs `quorvel --open-report FOLDER` while a copy works there.

The second start ends at once, with success and without a word; the running copy opens
its execution report, and when the user closes it (Escape, sent through XTEST) the copy
works on.

usage: two_copies_test.py QUORVEL_BINARY RULE_BOOK
Exit 77 (skipped) where Xvfb or the X libraries are missing.
"""
import ctypes
import ctypes.util
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BINARY = os.path.abspath(sys.argv[1])
RULE_BOOK = os.path.abspath(sys.argv[2])

if shutil.which('Xvfb') is None:
    print('SKIP: Xvfb is not installed; run scripts/setup')
    sys.exit(77)
try:
    X = ctypes.CDLL(ctypes.util.find_library('X11') or 'libX11.so.6')
    XTEST = ctypes.CDLL(ctypes.util.find_library('Xtst') or 'libXtst.so.6')
except OSError as missing:
    print(f'SKIP: libX11 or libXtst is missing ({missing})')
    sys.exit(77)

Window = ctypes.c_ulong
Atom = ctypes.c_ulong
X.XOpenDisplay.restype = ctypes.c_void_p
X.XOpenDisplay.argtypes = [ctypes.c_char_p]
X.XDefaultRootWindow.restype = Window
X.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
X.XInternAtom.restype = Atom
X.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
X.XQueryTree.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(Window),
                         ctypes.POINTER(Window), ctypes.POINTER(ctypes.POINTER(Window)),
                         ctypes.POINTER(ctypes.c_uint)]
X.XGetWindowProperty.argtypes = [
    ctypes.c_void_p, Window, Atom, ctypes.c_long, ctypes.c_long, ctypes.c_int, Atom,
    ctypes.POINTER(Atom), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
X.XFree.argtypes = [ctypes.c_void_p]
X.XSetInputFocus.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_ulong]
X.XRaiseWindow.argtypes = [ctypes.c_void_p, Window]
X.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
X.XFlush.argtypes = [ctypes.c_void_p]
X.XKeysymToKeycode.restype = ctypes.c_ubyte
X.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
X.XCloseDisplay.argtypes = [ctypes.c_void_p]
XTEST.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [('x', ctypes.c_int), ('y', ctypes.c_int), ('width', ctypes.c_int),
                ('height', ctypes.c_int), ('border_width', ctypes.c_int),
                ('depth', ctypes.c_int), ('visual', ctypes.c_void_p), ('root', Window),
                ('c_class', ctypes.c_int), ('bit_gravity', ctypes.c_int),
                ('win_gravity', ctypes.c_int), ('backing_store', ctypes.c_int),
                ('backing_planes', ctypes.c_ulong), ('backing_pixel', ctypes.c_ulong),
                ('save_under', ctypes.c_int), ('colormap', ctypes.c_ulong),
                ('map_installed', ctypes.c_int), ('map_state', ctypes.c_int),
                ('all_event_masks', ctypes.c_long), ('your_event_mask', ctypes.c_long),
                ('do_not_propagate_mask', ctypes.c_long), ('override_redirect', ctypes.c_int),
                ('screen', ctypes.c_void_p)]


X.XGetWindowAttributes.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(XWindowAttributes)]
IS_VIEWABLE = 2
XK_ESCAPE = 0xff1b


def fail(text):
    print('FAIL: ' + text)
    sys.exit(1)


def wait_for(condition, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = condition()
        if found:
            return found
        time.sleep(0.05)
    return condition()


class Display:
    def __init__(self, name):
        self.dpy = X.XOpenDisplay(name.encode())
        if not self.dpy:
            fail('cannot open the virtual display ' + name)
        self.root = X.XDefaultRootWindow(self.dpy)
        self.net_wm_name = X.XInternAtom(self.dpy, b'_NET_WM_NAME', 0)
        self.utf8 = X.XInternAtom(self.dpy, b'UTF8_STRING', 0)

    def title(self, window):
        kind, fmt = Atom(), ctypes.c_int()
        count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        if X.XGetWindowProperty(self.dpy, window, self.net_wm_name, 0, 1024, 0, self.utf8,
                                ctypes.byref(kind), ctypes.byref(fmt), ctypes.byref(count),
                                ctypes.byref(after), ctypes.byref(data)) != 0 or not data:
            return ''
        text = ctypes.string_at(data, count.value).decode('utf-8', 'replace')
        X.XFree(data)
        return text

    def viewable(self, window):
        attributes = XWindowAttributes()
        if not X.XGetWindowAttributes(self.dpy, window, ctypes.byref(attributes)):
            return False
        return attributes.map_state == IS_VIEWABLE

    def shown_windows(self, title):
        X.XSync(self.dpy, 0)
        root, parent = Window(), Window()
        children, count = ctypes.POINTER(Window)(), ctypes.c_uint()
        if not X.XQueryTree(self.dpy, self.root, ctypes.byref(root), ctypes.byref(parent),
                            ctypes.byref(children), ctypes.byref(count)):
            return []
        windows = [children[i] for i in range(count.value)]
        if children:
            X.XFree(children)
        return [w for w in windows if self.viewable(w) and self.title(w) == title]

    def press_escape(self, window):
        X.XRaiseWindow(self.dpy, window)
        X.XSetInputFocus(self.dpy, window, 2, 0)  # RevertToParent, CurrentTime
        X.XSync(self.dpy, 0)
        time.sleep(0.3)
        code = X.XKeysymToKeycode(self.dpy, XK_ESCAPE)
        XTEST.XTestFakeKeyEvent(self.dpy, code, 1, 0)
        XTEST.XTestFakeKeyEvent(self.dpy, code, 0, 0)
        X.XFlush(self.dpy)


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(['Xvfb', '-displayfd', str(write_end), '-screen', '0',
                               '1280x1024x24', '-nolisten', 'tcp'],
                              pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b''
    while not number.endswith(b'\n'):
        piece = os.read(read_end, 16)
        if not piece:
            break
        number += piece
    os.close(read_end)
    if not number.strip():
        server.kill()
        print('SKIP: Xvfb did not start')
        sys.exit(77)
    return server, ':' + number.decode().strip()


def main():
    base = tempfile.mkdtemp(prefix='quorvel-two-')
    xvfb = first = None
    try:
        folder = os.path.join(base, 'データ')
        run = os.path.join(base, 'run')
        os.makedirs(folder)
        os.makedirs(run, mode=0o700)
        shutil.copy(RULE_BOOK, os.path.join(folder, 'test.dat'))
        with open(os.path.join(folder, 'test.log'), 'wb') as log:
            log.write(f'{int(time.time()) - 3600}\t1\tX\t12\tA:1 \t0\t1\t0\t0\t0\t2\r\n'.encode())
        with open(os.path.join(folder, 'user.dat'), 'wb') as balance:
            balance.write(b'quorvel\t1\tuser\t2\t0\t0\r\n')

        xvfb, display_name = start_xvfb()
        env = {k: v for k, v in os.environ.items()
               if k not in ('WAYLAND_DISPLAY', 'QT_QPA_PLATFORM', 'DBUS_SESSION_BUS_ADDRESS')}
        env.update(DISPLAY=display_name, QT_QPA_PLATFORM='xcb', HOME=base,
                   XDG_CONFIG_HOME=os.path.join(base, 'config'), XDG_RUNTIME_DIR=run,
                   LANG='C.UTF-8', QT_ACCESSIBILITY='0')
        display = Display(display_name)

        first = subprocess.Popen([BINARY, folder], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        if not wait_for(lambda: glob.glob(os.path.join(run, 'quorvel-*')), 30):
            fail('the first copy never listened for a second start')
        if not wait_for(lambda: display.shown_windows('Quorvel裁判所 Ver.0.91'), 30):
            fail('the first copy never showed its main menu')

        # The notification's 開く: the copy at work takes the request, and this start ends
        # at once, quietly, with success.
        began = time.monotonic()
        try:
            second = subprocess.run([BINARY, '--open-report', folder], env=env,
                                    capture_output=True, timeout=15)
        except subprocess.TimeoutExpired as late:
            fail('the second start did not end (a box of its own waits for OK): ' +
                 (late.stderr or b'').decode(errors='replace'))
        took = time.monotonic() - began
        if second.returncode != 0:
            fail(f'the second start ended with {second.returncode}: '
                 f'{second.stderr.decode(errors="replace")}')
        if second.stderr:
            fail('the second start said: ' + second.stderr.decode(errors='replace'))
        if took >= 1.5:
            fail(f'the second start waited {took:.1f} s for an answer')

        report = wait_for(lambda: display.shown_windows('執行報告'), 30)
        if not report:
            fail('the running copy did not open its execution report')
        # Longer than the socket's peer timeout (5 s): whatever the server does with the
        # connection meanwhile has happened when the window closes.
        time.sleep(6)
        if first.poll() is not None:
            fail(f'the first copy ended while its report was open ({first.returncode})')
        display.press_escape(report[0])
        if not wait_for(lambda: not display.shown_windows('執行報告'), 20):
            fail('Escape did not close the execution report')
        time.sleep(1.5)
        if first.poll() is not None:
            said = first.stderr.read().decode(errors='replace')
            fail(f'the first copy died when its report closed ({first.returncode}):\n{said}')
        # Still answering: the next 開く is taken as the first was.
        again = subprocess.run([BINARY, '--open-report', folder], env=env,
                               capture_output=True, timeout=60)
        if again.returncode != 0 or again.stderr:
            fail(f'a later start was not answered ({again.returncode}): '
                 f'{again.stderr.decode(errors="replace")}')
        if not wait_for(lambda: display.shown_windows('執行報告'), 30):
            fail('the running copy did not open its execution report again')
        print('ok')
    finally:
        if first is not None and first.poll() is None:
            first.send_signal(signal.SIGTERM)
            try:
                first.wait(10)
            except subprocess.TimeoutExpired:
                first.kill()
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait(10)
        shutil.rmtree(base, ignore_errors=True)


if __name__ == '__main__':
    main()
