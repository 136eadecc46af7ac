#!/usr/bin/python3
# Walks the accessible tree of a running quorvel with AT-SPI, as a screen reader sees it
# (started by bench/atspi_walk.sh, which says how).
import re, subprocess, sys, time, pyatspi

# Roles a user reaches and a screen reader must name.
CONTROLS = {'push button', 'toggle button', 'check box', 'radio button', 'combo box', 'text',
            'entry', 'spin button', 'slider', 'table', 'list', 'tree table', 'page tab',
            'menu item', 'date editor', 'password text'}
# Blanks between single wide characters: a letter-spaced caption read one letter at a time.
LETTER_SPACED = re.compile(r'(?:[^\x00-\x7f] ){2,}[^\x00-\x7f]')
MARKUP = re.compile(r'<\s*/?\s*[a-zA-Z][^>]*>|&[a-z]+;')
INVISIBLE = re.compile('[\u200b-\u200f\u2060-\u2064\ufeff]')

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
        if not st.contains(pyatspi.STATE_SHOWING) and depth > 0:
            return
    except Exception:
        pass
    line = '%s%s %r%s%s' % ('  ' * depth, role, name, (' desc=%r' % desc) if desc else '', extra)
    out.append(line)
    for problem in problems(node, role, name, desc):
        FOUND.append('%s: %s %r%s' % (problem, role, name, (' desc=%r' % desc) if desc else ''))
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

FOUND = []

def problems(node, role, name, desc):
    if role in CONTROLS and not name.strip():
        try:
            enabled = node.getState().contains(pyatspi.STATE_ENABLED)
        except Exception:
            enabled = True
        yield 'nameless' if enabled else 'nameless (disabled)'
    for what, text in (('name', name), ('description', desc)):
        if LETTER_SPACED.search(text or ''):
            yield 'letter-spaced ' + what
        if MARKUP.search(text or ''):
            yield 'markup in ' + what
        if INVISIBLE.search(text or ''):
            yield 'invisible characters in ' + what
    if role == 'label':
        # A label read under a name other than the text it shows now is stale.
        try:
            shown = node.queryText().getText(0, -1)
        except Exception:
            shown = None
        if shown is not None and name and shown != name and shown.strip():
            yield 'label named apart from its text (%r)' % shown[:60]
    if role == 'slider':
        try:
            value = node.queryValue().currentValue
            yield 'info: value %s (as the window shows it?)' % value
        except Exception:
            pass

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
    try:
        act(node)
    except Exception as e:
        # A button that opens a menu or a modal box answers after it closes: go on.
        print('(no answer from %r: %s)' % (node.name, type(e).__name__))

def act(node):
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
        elif step.startswith('item:'):
            # a menu item, or any control with an action, by its name
            label = step[5:]
            time.sleep(1.0)
            b = find(app, lambda n: n.name == label and n.getRoleName() in ('menu item', 'push button', 'check box', 'radio button'))
            if b is None:
                print('no item', label); continue
            press(b)
            time.sleep(2.0)
        elif step.startswith('key:'):
            time.sleep(0.5)
            subprocess.run(['xdotool', 'key', step[4:]])
            time.sleep(1.5)
        elif step.startswith('echo:'):
            print('=====', step[5:])
        elif step == 'dump':
            out = []
            for i in range(app.childCount):
                dump(app.getChildAtIndex(i), 0, out)
            print('\n'.join(out))
            print('-----')
    found = list(dict.fromkeys(FOUND))
    print('===== findings: %d' % sum(1 for f in found if not f.startswith('info:')))
    for f in found:
        print('  ' + f)
    return 0

sys.exit(main())
