#!/usr/bin/python3
# Walks the accessible tree of a running quorvel with AT-SPI, as a screen reader sees it
# (started by bench/atspi_walk.sh, which says how).
import sys, time, pyatspi

def find_app(name, tries=60):
    for _ in range(tries):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name and name in app.name:
                return app
        time.sleep(0.5)
    return None

def dump(node, depth=0, out=None, maxdepth=12):
    try:
        role = node.getRoleName()
        name = node.name
        desc = node.description
    except Exception as e:
        return
    extra = ''
    try:
        t = node.queryText()
        txt = t.getText(0, -1)
        if txt and txt != name:
            extra = ' text=%r' % txt[:120]
    except Exception:
        pass
    try:
        st = node.getState()
        if not st.contains(pyatspi.STATE_SHOWING) and depth > 1:
            return
    except Exception:
        pass
    line = '%s%s %r%s%s' % ('  ' * depth, role, name, (' desc=%r' % desc) if desc else '', extra)
    out.append(line)
    if depth >= maxdepth:
        return
    try:
        n = node.childCount
    except Exception:
        return
    if role in ('table',) and n > 20:
        # header cells and the first row only
        for i in range(min(n, 12)):
            dump(node.getChildAtIndex(i), depth + 1, out, maxdepth)
        out.append('  ' * (depth + 1) + '... %d children' % n)
        return
    for i in range(n):
        dump(node.getChildAtIndex(i), depth + 1, out, maxdepth)

def find(node, pred):
    try:
        if pred(node):
            return node
        for i in range(node.childCount):
            r = find(node.getChildAtIndex(i), pred)
            if r is not None:
                return r
    except Exception:
        pass
    return None

def press(node):
    a = node.queryAction()
    for i in range(a.nActions):
        if a.getName(i) in ('Press', 'press', 'click'):
            a.doAction(i)
            return True
    a.doAction(0)
    return True

def main():
    app = find_app('quorvel')
    if app is None:
        print('no quorvel on the accessibility bus'); return 1
    steps = sys.argv[1:]
    for step in steps:
        if step.startswith('press:'):
            label = step[6:]
            time.sleep(1.0)
            b = None
            for i in reversed(range(app.childCount)):  # the topmost window first
                b = find(app.getChildAtIndex(i), lambda n: n.getRoleName() == 'push button' and n.name == label)
                if b is not None:
                    break
            if b is None:
                print('no button', label); continue
            press(b)
            time.sleep(2.0)
        elif step.startswith('type:'):
            # type:<accessible name>=<text>
            nm, text = step[5:].split('=', 1)
            e = find(app, lambda n: n.name == nm and n.getRoleName() in ('text', 'entry'))
            if e is None:
                print('no field', nm); continue
            et = e.queryEditableText()
            et.setTextContents(text)
            time.sleep(1.0)
        elif step == 'dump':
            out = []
            for i in range(app.childCount):
                dump(app.getChildAtIndex(i), 0, out)
            print('\n'.join(out))
            print('-----')
    return 0

sys.exit(main())
