// What showing the demonstration costs the browser by itself, for scripts/web.sh weigh and
// floor: the demonstration's own changed rectangles, taken from the game before the count
// starts, drawn at the pace the game draws them, with no game behind them. Loaded by index.html
// as ?harness=web_floor.js&floor=WAYS&weigh=SECONDS&settle=SECONDS; WAYS (comma-separated)
// change one thing at a time, to see what moves the browser's share:
//   page      the page's own canvas and upload (the default)
//   sync      a canvas drawn in step with the page's frames (not desynchronized)
//   alpha     a canvas with an alpha channel
//   whole     the whole frame uploaded for each new one
//   worker    an OffscreenCanvas drawn by a worker, the page's thread left out
//   small     the picture shown at 320 x 200, not scaled
//   idle      the wakes alone, nothing drawn
//   still     not even the wakes: the page at rest
//   gamepads  listening for gamepads as the page does
//   sounds    the demonstration's sounds at their ticks, through the page's own sound
"use strict";
(() => {
  const ways = new Set((params.get("floor") || "page").split(","));
  const seconds = Number(params.get("weigh")) || 20, settle = Number(params.get("settle")) || 0;
  for (const way of ways)
    if (!["page", "sync", "alpha", "whole", "worker", "small", "idle", "still", "gamepads",
      "sounds"].includes(way)) {
      Result("error: no way \"" + way + "\" to draw the floor");
      return;
    }

  // The demonstration's frames (the rectangles each changed) and sounds (by frame), as the game
  // made them, at 13 ms a tick.
  const frames = [], sounds = [];
  const call = Kordavel.call;
  Kordavel.call = (what, text, bytes) => {
    if (what === "play") sounds.push([frames.length, ...text.split(" ").map(Number)]);
    else call(what, text, bytes);
  };
  K.menu("MDemo");
  for (let t = 0; t < (seconds + settle + 1) * 1000 / kTickMs; ++t) {
    if (!K.tick()) continue;
    const at = K.changes() >> 2;
    frames.push(HEAP32.slice(at, at + 1 + 4 * HEAP32[at]));
  }
  Kordavel.call = call;
  const pixels = new Uint8ClampedArray(HEAPU8.buffer, K.frame(), 320 * 200 * 4).slice();

  // The page's canvas, or one made afresh for a way that changes how it is made.
  let target = context2d;
  const options = { desynchronized: !ways.has("sync"), alpha: ways.has("alpha") };
  if (ways.has("sync") || ways.has("alpha") || ways.has("worker")) {
    const fresh = canvas.cloneNode(false);
    canvas.replaceWith(fresh);
    canvas = fresh;
    Picture.fit();
    if (ways.has("worker")) target = null;
    else target = canvas.getContext("2d", options);
  }
  if (ways.has("small")) {
    canvas.style.width = "320px";
    canvas.style.height = "200px";
  }
  if (ways.has("gamepads")) Pad.listen();
  if (ways.has("sounds")) Audio.open();

  // Draws a frame (its rectangles, or all of it) from the image; true when it changed anything.
  function DrawFrame(g, image, boxes, whole) {
    if (boxes[0] === 0) return false;
    if (whole) g.putImageData(image, 0, 0);
    for (let i = 0, b = 1; !whole && i < boxes[0]; ++i, b += 4)
      g.putImageData(image, 0, 0, boxes[b], boxes[b + 1], boxes[b + 2], boxes[b + 3]);
    return true;
  }

  // The loop, on whichever thread draws (g, or none): a wake for each frame, at the game's pace.
  function Run(g, image, counts, onWake) {
    if (g) g.putImageData(image, 0, 0);
    let shown = 0;
    const start = performance.now();
    const wake = () => {
      if (ways.has("still")) return;
      ++counts.wakes;
      if (onWake) onWake(shown);
      const boxes = frames[shown++ % frames.length];
      if (g && !ways.has("idle") && DrawFrame(g, image, boxes, ways.has("whole"))) ++counts.draws;
      setTimeout(wake, start + (shown + 1) * 2 * kTickMs - performance.now());
    };
    wake();
  }

  let sound = 0;
  const playSounds = (shown) => {
    if (shown % frames.length === 0) sound = 0;
    for (; sound < sounds.length && sounds[sound][0] <= shown % frames.length; ++sound) {
      if (Audio.buffers[sounds[sound][1]]) ++Counts.sounds;  // else not decoded yet: silent
      Audio.play(sounds[sound][1], sounds[sound][2]);
    }
  };
  const onWake = ways.has("sounds") ? playSounds : null;

  Counts.sounds = 0;
  let counts;
  if (target) {
    Run(target, new ImageData(pixels, 320, 200), Counts, onWake);
    counts = () => Promise.resolve(Object.assign({}, Counts));
  } else {
    // The worker runs the same loop; the page's thread only answers for the sounds.
    const source = "const kTickMs = " + kTickMs + ", ways = new Set(" + JSON.stringify([...ways]) + ");\n" +
      DrawFrame + "\n" + Run + "\nlet frames;\nconst counts = { wakes: 0, draws: 0 };\n" +
      "onmessage = (e) => {\n  if (e.data === 'count') { postMessage(counts); return; }\n" +
      "  frames = e.data.frames;\n  const g = e.data.canvas.getContext('2d', e.data.options);\n" +
      "  Run(g, new ImageData(e.data.pixels, 320, 200), counts, null);\n};\n";
    const worker = new Worker(URL.createObjectURL(new Blob([source], { type: "text/javascript" })));
    const offscreen = canvas.transferControlToOffscreen();
    worker.postMessage({ canvas: offscreen, pixels: pixels, frames: frames, options: options }, [offscreen]);
    if (onWake) Run(null, null, { wakes: 0, draws: 0 }, onWake);
    counts = () => new Promise((resolve) => {
      worker.onmessage = (e) => resolve(e.data);
      worker.postMessage("count");
    });
  }

  Result("floor");
  setTimeout(async () => {
    const counted = await counts(), from = performance.now(), sounded = Counts.sounds;
    setTimeout(async () => {
      const now = await counts(), s = (performance.now() - from) / 1000;
      Result("wakes-per-s " + ((now.wakes - counted.wakes) / s).toFixed(1) +
        " draws-per-s " + ((now.draws - counted.draws) / s).toFixed(1) +
        (ways.has("sounds") ? " sounds-per-s " + ((Counts.sounds - sounded) / s).toFixed(1) : ""));
    }, seconds * 1000);
  }, settle * 1000);
})();
