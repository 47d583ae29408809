#!/usr/bin/env python3
"""The page driven as a player drives it, in headless Chromium over the DevTools protocol: real
keys, window shapes and screenshots. Prints one line a finding, "FAIL: ..." for a fault.

usage: player.py CHECK URL WORKDIR
  picture  the picture in windows of 1400 x 800, 800 x 1000 and 600 x 260: the largest 8:5
           rectangle that fits, centred on black, crisp, as measured from screenshots; Alt+1,
           Alt+2 and a third press; F10 and the File menu, within reach in the short window
  sound    the page's sound runs while sounds play, with a buffer no shorter than the window
           mixer's, and is suspended while the game is silent
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


# The picture as the screenshot (base64 PNG) shows it, worked out in the page: its rectangle in
# the stage (the bounds of what is not black there; the demonstration's frame has no black
# edge), and the share of its pixels that are not the frame's pixel beneath them by nearest
# neighbour (or one beside it, where rounding puts a block's edge a pixel over).
MEASURE = """(async (png) => {
  const image = new Image();
  image.src = "data:image/png;base64," + png;
  await image.decode();
  const c = document.createElement("canvas");
  [c.width, c.height] = [image.width, image.height];
  c.getContext("2d").drawImage(image, 0, 0);
  const shot = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
  const frame = context2d.getImageData(0, 0, 320, 200).data;
  const at = (d, w, x, y) => d[(y * w + x) * 4] << 16 | d[(y * w + x) * 4 + 1] << 8 | d[(y * w + x) * 4 + 2];
  const r = canvas.parentElement.getBoundingClientRect();
  const [sx, sy, sw, sh] = [r.left, r.top, r.width, r.height].map(Math.round);
  let left = 1e9, right = -1, top = 1e9, bottom = -1;
  for (let y = sy; y < sy + sh; ++y)
    for (let x = sx; x < sx + sw; ++x)
      if (at(shot, c.width, x, y)) {
        left = Math.min(left, x); right = Math.max(right, x);
        top = Math.min(top, y); bottom = Math.max(bottom, y);
      }
  const pw = right - left + 1, ph = bottom - top + 1;
  let wrong = 0;
  for (let y = top; y <= bottom; ++y)
    for (let x = left; x <= right; ++x) {
      const fx = Math.floor((x - left) * 320 / pw), fy = Math.floor((y - top) * 200 / ph), v = at(shot, c.width, x, y);
      let near = false;
      for (let dy = -1; dy <= 1; ++dy)
        for (let dx = -1; dx <= 1; ++dx)
          near ||= at(frame, 320, Math.min(Math.max(fx + dx, 0), 319), Math.min(Math.max(fy + dy, 0), 199)) === v;
      wrong += !near;
    }
  let edges = 0;
  for (let i = 0; i < 320; ++i) edges |= (at(frame, 320, i, 0) && 1) | (at(frame, 320, i, 199) && 2);
  for (let i = 0; i < 200; ++i) edges |= (at(frame, 320, 0, i) && 4) | (at(frame, 320, 319, i) && 8);
  return right < 0 ? null : { stage: [sx, sy, sw, sh], rect: [left - sx, top - sy, pw, ph],
    scale: [pw / 320, ph / 200], wrong: wrong / (pw * ph), edges: edges };
})"""


def measure(browser, label):
    freeze(browser)
    png = browser.send("Page.captureScreenshot", {"format": "png"})["data"]
    m = browser.evaluate(f"{MEASURE}({cdp.json.dumps(png)})")
    thaw(browser)
    if not m:
        fail(f"{label}: no picture on the screenshot")
    elif m["edges"] != 15:
        fail(f"{label}: the frame has a black edge; its bounds cannot be measured")
    else:
        return m
    return None


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
    # Its buffer is no shorter than the window's mixer's, which the game gives the page: a
    # shorter one wakes the browser's sound threads more often for nothing a player hears.
    mixer, buffer = browser.evaluate("[Audio.bufferSeconds, Audio.context.baseLatency]")
    if not mixer or buffer < mixer * 0.99:
        fail(f"the sound's buffer is {buffer} s, the window mixer's {mixer} s")
    else:
        print(f"demonstration: a buffer of {buffer * 1000:.1f} ms, the window mixer's {mixer * 1000:.1f}")
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
