#!/usr/bin/env python3
"""The page driven as a player drives it, in headless Chromium over the DevTools protocol: real
keys, window shapes and screenshots. Prints one line a finding, "FAIL: ..." for a fault.

usage: player.py CHECK URL WORKDIR
  picture  the picture in windows of 1400 x 800, 800 x 1000 and 600 x 260: the largest 8:5
           rectangle that fits, centred on black, crisp, as measured from screenshots; Alt+1,
           Alt+2 and a third press; F10 and the File menu, within reach in the short window
  sound    the page's sound runs while sounds play and is suspended while the game is silent
  keeping  a one-player game played with the keys, its settings changed with Options and Ok,
           the tab hidden twice and the page reloaded during it: the games the page then keeps
           are written to WORKDIR/kept-N.kdr, to be verified on the desktop
"""
import sys
import time

import cdp

FRAME_W, FRAME_H = 320, 200
failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def start(browser, url):
    browser.open(url)
    browser.wait_for("window.Kordavel && Kordavel.firstFrameMs > 0")


def freeze(browser):
    """The loop stopped, and a frame of the display later, so that the screenshot shows the frame
    the canvas holds."""
    browser.evaluate("clearTimeout(loopTimer); loopTimer = null; stopped = true")
    browser.evaluate("new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))")


def thaw(browser):
    browser.evaluate("stopped = false; StartLoop()")


def frame(browser):
    """The canvas's pixels as rows of (r, g, b)."""
    data = cdp.base64.b64decode(browser.evaluate(
        "Base64(new Uint8Array(context2d.getImageData(0, 0, 320, 200).data.buffer))"))
    return [[tuple(data[(y * FRAME_W + x) * 4:(y * FRAME_W + x) * 4 + 3]) for x in range(FRAME_W)]
            for y in range(FRAME_H)]


def measure(browser, label):
    """The picture as the screenshot shows it: its rectangle in the page's stage (the bounds of
    what is not black there; the frame has no black edge in the demonstration), its scale on
    each axis, and how many of its pixels are not the frame's pixel beneath them, taken by
    nearest neighbour (or one beside it, where rounding puts a block's edge a pixel over)."""
    freeze(browser)
    width, height, shot = browser.screenshot()
    pixels = frame(browser)
    stage = browser.evaluate("(() => { const r = canvas.parentElement.getBoundingClientRect();"
                             " return [r.left, r.top, r.width, r.height].map(Math.round); })()")
    thaw(browser)
    sx, sy, sw, sh = stage
    edges = [any(pixels[0][x] != (0, 0, 0) for x in range(FRAME_W)),
             any(pixels[FRAME_H - 1][x] != (0, 0, 0) for x in range(FRAME_W)),
             any(pixels[y][0] != (0, 0, 0) for y in range(FRAME_H)),
             any(pixels[y][FRAME_W - 1] != (0, 0, 0) for y in range(FRAME_H))]
    if not all(edges):
        fail(f"{label}: the frame has a black edge; its bounds cannot be measured")
        return None
    lit = [(x, y) for y in range(sy, sy + sh) for x in range(sx, sx + sw) if shot[y][x] != (0, 0, 0)]
    if not lit:
        fail(f"{label}: no picture on the screenshot")
        return None
    left = min(x for x, _ in lit)
    right = max(x for x, _ in lit)
    top = min(y for _, y in lit)
    bottom = max(y for _, y in lit)
    pw, ph = right - left + 1, bottom - top + 1
    wrong = 0
    for y in range(top, bottom + 1):
        fy = (y - top) * FRAME_H // ph
        for x in range(left, right + 1):
            fx = (x - left) * FRAME_W // pw
            near = {pixels[min(max(fy + dy, 0), FRAME_H - 1)][min(max(fx + dx, 0), FRAME_W - 1)]
                    for dy in (-1, 0, 1) for dx in (-1, 0, 1)}
            if shot[y][x] != pixels[fy][fx] and shot[y][x] not in near:
                wrong += 1
    return {"stage": stage, "rect": (left - sx, top - sy, pw, ph), "scale": (pw / FRAME_W, ph / FRAME_H),
            "wrong": wrong / (pw * ph)}


def check_fits(browser, label, m):
    sx, sy, sw, sh = m["stage"]
    left, top, pw, ph = m["rect"]
    print(f"{label}: stage {sw}x{sh}, picture {pw}x{ph} at ({left},{top}), scale "
          f"{m['scale'][0]:.3f} x {m['scale'][1]:.3f}, {100 * m['wrong']:.2f} % of its pixels not "
          f"the frame's")
    # 8:5 to the pixel, the larger side touching the stage, centred.
    if abs(pw * FRAME_H - ph * FRAME_W) > FRAME_W:
        fail(f"{label}: the picture is {pw}x{ph}, not 8:5")
    if pw != sw and ph != sh:
        fail(f"{label}: the picture {pw}x{ph} is not the largest that fits {sw}x{sh}")
    if abs(left - (sw - left - pw)) > 1 or abs(top - (sh - top - ph)) > 1:
        fail(f"{label}: the picture at ({left},{top}) is not centred")
    if m["wrong"] > 0.002:
        fail(f"{label}: {100 * m['wrong']:.2f} % of the picture is not the frame's pixels (blurred?)")


def check_picture(browser, url):
    start(browser, url)
    # The demonstration: the field's frame reaches every edge of the picture.
    browser.evaluate("K.menu('MDemo')")
    time.sleep(1)
    for width, height in ((1400, 800), (800, 1000), (600, 260)):
        browser.viewport(width, height)
        browser.wait_for(f"innerWidth === {width} && innerHeight === {height}")
        time.sleep(0.3)
        m = measure(browser, f"{width}x{height}")
        if m:
            check_fits(browser, f"{width}x{height}", m)

    # Alt+1, Alt+2: the window's sizes; a third press fits the page again.
    browser.viewport(1400, 800)
    browser.wait_for("innerWidth === 1400")
    for key, vk, size in (("1", 49, (320, 200)), ("2", 50, (640, 400)), ("2", 50, None)):
        browser.key("Digit" + key, key, vk, alt=True)
        time.sleep(0.3)
        m = measure(browser, f"Alt+{key}")
        if not m:
            continue
        if size:
            print(f"Alt+{key}: picture {m['rect'][2]}x{m['rect'][3]}")
            if (m["rect"][2], m["rect"][3]) != size:
                fail(f"Alt+{key}: the picture is {m['rect'][2]}x{m['rect'][3]}, not {size[0]}x{size[1]}")
        else:
            check_fits(browser, f"Alt+{key} a third time", m)

    # F10 opens File; in the short window every item can still be reached with the arrows.
    browser.viewport(600, 260)
    browser.wait_for("innerWidth === 600")
    browser.key("F10", "F10", 121)
    opened = browser.evaluate("FileMenu.isOpen() && document.activeElement === FileMenu.items()[0]")
    print(f"F10: the File menu {'opens' if opened else 'does not open'}")
    if not opened:
        fail("F10 does not open the File menu at its first item")
    items = browser.evaluate("FileMenu.items().length")
    reached = 0
    for _ in range(items):
        reached += browser.evaluate(
            "(() => { const e = document.activeElement, r = e.getBoundingClientRect();"
            " return document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2) === e"
            " && r.bottom <= innerHeight; })()")
        browser.key("ArrowDown", "ArrowDown", 40)
    print(f"600x260: {reached} of {items} File items in sight as the arrows reach them")
    if reached != items:
        fail(f"in a 600x260 window only {reached} of {items} File items can be reached")
    browser.key("Escape", "Escape", 27)
    if browser.evaluate("FileMenu.isOpen()"):
        fail("Esc does not close the File menu")
    # F10, down to Controls, and Enter chooses it.
    browser.key("F10", "F10", 121)
    while browser.evaluate("document.activeElement.dataset.page !== 'controls'"):
        browser.key("ArrowDown", "ArrowDown", 40)
    browser.send("Input.dispatchKeyEvent", {"type": "keyDown", "code": "Enter", "key": "Enter",
                                            "windowsVirtualKeyCode": 13, "text": "\r"})
    browser.send("Input.dispatchKeyEvent", {"type": "keyUp", "code": "Enter", "key": "Enter",
                                            "windowsVirtualKeyCode": 13})
    chosen = browser.evaluate("document.getElementById('controls').open && !FileMenu.isOpen()")
    print(f"F10, the arrows and Enter: Controls {'opens' if chosen else 'does not open'}")
    if not chosen:
        fail("Enter does not choose the File menu's item")


def check_sound(browser, url):
    start(browser, url)
    state = "Audio.context && Audio.context.state"
    time.sleep(1.5)
    print(f"title: sound {browser.evaluate(state)}")
    if browser.evaluate(state) != "suspended":
        fail("the sound runs while the title is silent")
    browser.click('[data-menu="MFile"] .title')
    browser.click('[data-item="MDemo"]')
    try:
        browser.wait_for(f"{state} === 'running' && Audio.playing > 0", 20)
        print("demonstration: sound running while it plays")
    except TimeoutError:
        fail("the sound never runs in the demonstration")
    browser.key("Escape", "Escape", 27)
    try:
        browser.wait_for(f"{state} === 'suspended'", 5)
        print("title again: sound suspended")
    except TimeoutError:
        fail(f"the sound still runs, {browser.evaluate(state)}, at the silent title")


def check_keeping(browser, url, work):
    start(browser, url)
    browser.click('[data-menu="MFile"] .title')
    browser.click('[data-item="MStart1Player"]')
    time.sleep(0.5)
    browser.hold("ArrowUp", "ArrowUp", 38, 0.7)
    browser.hold("ControlLeft", "Control", 17, 0.1)
    # Options and Ok in the middle of the game.
    browser.click('[data-menu="MFile"] .title')
    browser.click('[data-item="MOptions"]')
    browser.wait_for("document.getElementById('options').open")
    browser.click('#options [value="ok"]')
    browser.wait_for("!document.getElementById('options').open")
    browser.hold("ArrowLeft", "ArrowLeft", 37, 0.5)
    # Hidden twice, played on between.
    for _ in range(2):
        browser.hide(0.5)
        browser.hold("ArrowDown", "ArrowDown", 40, 0.4)
    # Reloaded: the page is left and opened again, and finds what it kept.
    browser.send("Page.enable")
    browser.send("Page.reload")
    time.sleep(0.5)
    browser.wait_for("window.Kordavel && Kordavel.firstFrameMs > 0")
    kept = browser.evaluate("Store.replays().map((r) => [r.name, r.data])")
    print(f"kept after the reload: {len(kept)} "
          f"({', '.join(name for name, _ in kept)})")
    for i, (name, data) in enumerate(kept):
        with open(f"{work}/kept-{i}.kdr", "wb") as f:
            f.write(cdp.base64.b64decode(data))
    games = [name for name, _ in kept if "-1p-" in name]
    if len(games) != 1:
        fail(f"the one-player game is kept {len(games)} times, not once: {games}")


def main():
    check, url, work = sys.argv[1], sys.argv[2], sys.argv[3]
    browser = cdp.Browser(cdp.temporary_profile(work))
    try:
        if check == "keeping":
            check_keeping(browser, url, work)
        else:
            {"picture": check_picture, "sound": check_sound}[check](browser, url)
    except Exception as error:  # the browser's own failure is the test's
        fail(f"{check}: {type(error).__name__}: {error}")
    finally:
        browser.close()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
