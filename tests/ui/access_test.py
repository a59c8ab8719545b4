#!/usr/bin/python3
# The window over the accessibility bus (AT-SPI), as a screen reader sees it:
# every control that takes the keyboard has a name, the spin buttons those
# of their labels, and each labelled one an Alt key; the last subtitle reads
# "dernier"; the bar's value reads without a warning. Then, finding controls
# by name only, it opens a file, converts it from 25 to 23,976 images per
# second and reads the outcome on the bar; the file is byte for byte what
# chronelle-shift --fps 25:23.976 makes of a copy. Starts its own session
# bus (and so its own accessibility bus and registry) in a private home.
# Usage: access_test.py CHRONELLE CHRONELLE_SHIFT   (through with_display.sh --private)
import os
import shutil
import subprocess
import sys
import tempfile
import time


def until(condition, what, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    sys.exit("access: " + what)


def outer():
    work = tempfile.mkdtemp(prefix="chronelle-access-")
    try:
        home = os.path.join(work, "home")
        env = dict(os.environ, HOME=home, XDG_DATA_HOME=home + "/data",
                   XDG_CONFIG_HOME=home + "/config", XDG_CACHE_HOME=home + "/cache",
                   XDG_RUNTIME_DIR=home + "/run", CHRONELLE_ACCESS_WORK=work)
        for d in ("data", "config", "cache", "run"):
            os.makedirs(os.path.join(home, d), mode=0o700)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv, env=env)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def inner(chronelle, chronelle_shift, work):
    import pyatspi
    from pyatspi.utils import findDescendant, findAllDescendants

    film = os.path.join(work, "film.srt")
    copy = os.path.join(work, "copie.srt")
    with open(film, "wb") as f:
        for i in range(40):
            start = 60000 + i * 1700
            t = lambda ms: "%02d:%02d:%02d,%03d" % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)
            f.write(("%d\r\n%s --> %s\r\nRéplique %d\r\n\r\n" % (i + 1, t(start), t(start + 900), i)).encode())
    shutil.copy(film, copy)
    subprocess.check_call([chronelle_shift, "-q", "--fps", "25:23.976", copy])

    env = dict(os.environ, GTK_MODULES="gail:atk-bridge")
    env.pop("NO_AT_BRIDGE", None)
    log = open(os.path.join(work, "chronelle.log"), "w+")
    app_process = subprocess.Popen([chronelle], cwd=work, env=env, stderr=log)
    try:
        def app():
            for a in pyatspi.Registry.getDesktop(0):
                if a is not None and a.name == "chronelle":
                    return a
        window = until(lambda: app() and findDescendant(app(), lambda x: x.getRoleName() == "frame"
                                                         and x.name == "Chronelle"),
                       "the window is not on the accessibility bus")

        def control(role, name, root=None):
            return until(lambda: findDescendant(root or window, lambda x: x is not None and
                                                x.getRoleName() == role and x.name == name),
                         "no %s named %r" % (role, name))

        def act(accessible):
            accessible.queryAction().doAction(0)

        # Names: the expander open, so that all its controls are there too.
        act(control("toggle button", "Plus de réglages"))
        control("check box", "Tous")
        focusable = findAllDescendants(window, lambda x: x is not None and
                                       x.getState().contains(pyatspi.STATE_FOCUSABLE))
        unnamed = [x.getRoleName() for x in focusable if not x.name]
        if unnamed or len(focusable) < 25:
            sys.exit("access: %d focusable controls, unnamed: %s" % (len(focusable), unnamed))
        for name in ("Heure(s)", "Minute(s)", "Seconde(s)", "Milliseconde(s)"):
            spin = control("spin button", name)
            labels = [r.getTarget(0).name for r in spin.getRelationSet()
                      if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
            if labels != [name]:
                sys.exit("access: %s is labelled by %s" % (name, labels))
        control("text", "Fichier sous-titres")
        control("push button", "Trouver le décalage avec la vidéo…")
        last = control("spin button", "jusqu'au n°").queryText()
        if last.getText(0, -1) != "dernier":
            sys.exit("access: the last subtitle reads %r" % last.getText(0, -1))
        # An Alt key for each labelled control, told by the label it shows;
        # those always on each a key of its own (the fields of a change
        # share theirs with the offset row, which is off meanwhile).
        keys = {}
        for role, name in (("push button", "Ouvrir un fichier sous-titres"), ("radio button", "Retirer"),
                           ("spin button", "Milliseconde(s)"), ("push button", "Move It! "),
                           ("push button", "Aperçu"), ("toggle button", "Plus de réglages"),
                           ("radio button", "Synchroniser sur deux repères"), ("check box", "Du n°"),
                           ("spin button", "Sous-titre n° du repère 2"), ("text", "Fréquence voulue")):
            keys[name] = control(role, name).queryAction().getKeyBinding(0).split(";")[0]
        always = list(keys.values())[:8]
        if not all(keys.values()) or len(set(always)) != len(always):
            sys.exit("access: Alt keys %s" % keys)
        bar = control("progress bar", "En attente").queryValue()
        if bar.currentValue != 0 or bar.maximumValue <= 0:
            sys.exit("access: the bar's value is %r of %r" % (bar.currentValue, bar.maximumValue))

        # Open the file through the chooser, its name typed in.
        act(control("push button", "Ouvrir un fichier sous-titres"))
        until(lambda: findDescendant(app(), lambda x: x is not None and x.name == "Open File"),
              "the chooser did not open")
        chooser = subprocess.check_output(["xdotool", "search", "--sync", "--onlyvisible",
                                           "--name", "^Open File$"], text=True).split()[0]
        until(lambda: subprocess.call(["xdotool", "windowfocus", "--sync", chooser]) == 0,
              "cannot focus the chooser")
        subprocess.check_call(["xdotool", "key", "ctrl+l"])
        subprocess.check_call(["xdotool", "type", "--delay", "15", film])
        subprocess.check_call(["xdotool", "key", "Return"])
        entry = control("text", "Fichier sous-titres").queryText()
        until(lambda: entry.getText(0, -1) == film, "the entry does not show the file")

        # 25 -> 23,976, then "Move It! ".
        act(control("radio button", "Convertir la fréquence d'images puis décaler"))
        control("text", "Fréquence d'origine").queryEditableText().setTextContents("25")
        control("text", "Fréquence voulue").queryEditableText().setTextContents("23,976")
        act(control("push button", "Move It! "))
        bar = control("progress bar", "Modification du sous-titres réussie : 40 sous-titres décalés")
        with open(film, "rb") as a, open(copy, "rb") as b:
            if a.read() != b.read():
                sys.exit("access: the window's conversion differs from chronelle-shift's")
        log.seek(0)
        warnings = [line for line in log if "CRITICAL" in line or "WARNING" in line]
        if warnings:
            sys.exit("access: the program warned: %s" % warnings)
        print("access: %d controls named; Alt keys %s; converted 25 -> 23,976 by name; the bar reads %r"
              % (len(focusable), sorted(keys.values()), bar.name))
    finally:
        app_process.terminate()
        app_process.wait()


if __name__ == "__main__":
    if "CHRONELLE_ACCESS_WORK" not in os.environ:
        sys.exit(outer())
    inner(sys.argv[1], sys.argv[2], os.environ["CHRONELLE_ACCESS_WORK"])
