// The page around the game: the frame loop, keyboard and gamepads, WebAudio, the browser's
// storage, and the menus and dialogs. The game itself is kordavel.wasm (web_main.cpp).
"use strict";

const kTickMs = 13;
const kKeptGames = 20;
const kDataFiles = ["tank.grp", "tank.fnt", "tank.snd", "lswap.dat"];
const kLevelRecordBytes = 176;
const params = new URLSearchParams(location.search);

// Windows virtual-key codes by KeyboardEvent.code, as the desktop window maps its keys.
const kVirtualKeys = (() => {
  const map = {
    Backspace: 8, Tab: 9, Enter: 13, NumpadEnter: 13, ShiftLeft: 16, ShiftRight: 16,
    ControlLeft: 17, ControlRight: 17, AltLeft: 18, AltRight: 18, Pause: 19, CapsLock: 20,
    Escape: 27, Space: 32, PageUp: 33, PageDown: 34, End: 35, Home: 36, ArrowLeft: 37,
    ArrowUp: 38, ArrowRight: 39, ArrowDown: 40, PrintScreen: 44, Insert: 45, Delete: 46,
    MetaLeft: 91, MetaRight: 92, ContextMenu: 93, NumpadMultiply: 106, NumpadAdd: 107,
    NumpadSubtract: 109, NumpadDecimal: 110, NumpadDivide: 111, NumLock: 144, ScrollLock: 145,
    Semicolon: 186, Equal: 187, Comma: 188, Minus: 189, Period: 190, Slash: 191, Backquote: 192,
    BracketLeft: 219, Backslash: 220, BracketRight: 221, Quote: 222,
  };
  for (let i = 0; i < 26; ++i) map["Key" + String.fromCharCode(65 + i)] = 65 + i;
  for (let i = 0; i < 10; ++i) {
    map["Digit" + i] = 48 + i;
    map["Numpad" + i] = 96 + i;
  }
  for (let i = 1; i <= 12; ++i) map["F" + i] = 111 + i;
  return map;
})();

function VirtualKey(event) {
  return kVirtualKeys[event.code] || 0;
}

function Base64(bytes) {
  let text = "";
  for (let i = 0; i < bytes.length; i += 0x8000)
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

function FromBase64(text) {
  const raw = atob(text);
  const bytes = new Uint8Array(raw.length);
  for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
  return bytes;
}

// --- The browser's storage ---------------------------------------------------------------

// Every write says whether it was kept: the player is told of each one that was not.
const Store = {
  get(key) {
    try { return localStorage.getItem("kordavel/" + key); } catch (e) { return null; }
  },
  set(key, value) {
    try {
      localStorage.setItem("kordavel/" + key, value);
      return true;
    } catch (e) {
      return false;
    }
  },
  // null while the storage takes writes, else why it does not: "blocked" (the browser gives the
  // page none) or "full" (a test write fails). Asked once at load, and again when a write fails.
  problem() {
    let storage;
    try {
      storage = localStorage;
      if (!storage) return "blocked";
    } catch (e) {
      return "blocked";
    }
    try {
      storage.setItem("kordavel/probe", "1");
      storage.removeItem("kordavel/probe");
      return null;
    } catch (e) {
      return "full";
    }
  },
  // The kept replays, newest last: [{name, data, key}] with the file's bytes in base64.
  replays() {
    try { return JSON.parse(this.get("replays") || "[]"); } catch (e) { return []; }
  },
  // A game kept under a key takes the place of the one kept under it before (the copy kept of
  // it while it ran). False when not even the new game fits, with every older one given up.
  keepReplay(name, bytes, key) {
    const list = this.replays().filter((r) => !key || r.key !== key);
    list.push(key ? { name: name, data: Base64(bytes), key: key } : { name: name, data: Base64(bytes) });
    // Only the program-named games are dropped, oldest first; then older ones, if space is short.
    while (list.filter((r) => r.name.startsWith("game-")).length > kKeptGames)
      list.splice(list.findIndex((r) => r.name.startsWith("game-")), 1);
    while (!this.set("replays", JSON.stringify(list))) {
      if (list.length === 1) return false;
      list.shift();
    }
    return true;
  },
};

const kStorageProblems = {
  blocked: "The browser keeps nothing for this page (its storage is blocked): the settings, the " +
    "levels made in the editor and the games played last only until the page is closed.",
  full: "The browser's storage for this page is full: the settings, the levels made in the " +
    "editor and the games played may not be kept.",
};

// --- Sound -------------------------------------------------------------------------------

// The browser's first audio context takes a second or more to make (its audio service starts),
// so it is made after the first frame; the bank waits for it. The context runs only while
// something plays: a second after the last sound ends it is suspended, so that a silent game
// keeps no audio thread busy.
const Audio = {
  context: null,
  bufferSeconds: 0,  // the window's mixer buffer, as the game gives it
  waves: [],    // the bank's files, until the context decodes them
  buffers: [],
  playing: 0,
  idle: null,
  available() { return !!(window.AudioContext || window.webkitAudioContext); },
  open() {
    if (this.context || !this.available()) return;
    const Context = window.AudioContext || window.webkitAudioContext;
    // As long a buffer as the window's mixer has: the browser's "balanced" is a quarter of it
    // here, which wakes its audio threads four times as often.
    this.context = new Context({ latencyHint: this.bufferSeconds || "playback" });
    this.context.suspend();
    this.waves.forEach((bytes, i) => this.decode(bytes, i));
  },
  clear() {
    this.waves = [];
    this.buffers = [];
  },
  add(bytes) {
    this.waves.push(bytes);
    this.buffers.push(null);
    if (this.context) this.decode(bytes, this.buffers.length - 1);
  },
  decode(bytes, index) {
    const buffers = this.buffers;
    this.context.decodeAudioData(bytes.buffer.slice(0)).then(
      (buffer) => { buffers[index] = buffer; }, () => {});
  },
  // volume: hundredths of a decibel, 0 full.
  play(item, volume) {
    const buffer = this.buffers[item];
    if (!this.context || !buffer) return;
    clearTimeout(this.idle);
    if (this.context.state === "suspended") this.context.resume();
    const source = this.context.createBufferSource();
    const gain = this.context.createGain();
    gain.gain.value = Math.pow(10, volume / 2000);
    source.buffer = buffer;
    source.connect(gain).connect(this.context.destination);
    ++this.playing;
    source.onended = () => {
      if (--this.playing > 0) return;
      this.idle = setTimeout(() => { if (this.playing === 0) this.context.suspend(); }, 1000);
    };
    source.start();
  },
};

// --- Gamepads: the 36 joystick states ------------------------------------------------------

// Every pad connected counts, as every joystick does in the window: a state is on when it is on
// any of them. The pads are read only once one has come (a button pressed on it).
const Pad = {
  states: new Uint8Array(36),
  now: new Uint8Array(36),
  connected: 0,
  // 0 up, 1 down, 2 left, 3 right (beyond 50 of 1000 off centre), 4..35 buttons 1..32.
  read() {
    const now = this.now;
    now.fill(0);
    if (this.connected === 0 || !navigator.getGamepads) return now;
    const pads = navigator.getGamepads();
    for (let p = 0; p < pads.length; ++p) {
      const pad = pads[p];
      if (!pad || !pad.connected) continue;
      const x = pad.axes[0] || 0, y = pad.axes[1] || 0;
      if (y < -0.05) now[0] = 1;
      if (y > 0.05) now[1] = 1;
      if (x < -0.05) now[2] = 1;
      if (x > 0.05) now[3] = 1;
      for (let i = 0; i < 32 && i < pad.buttons.length; ++i) if (pad.buttons[i].pressed) now[4 + i] = 1;
    }
    return now;
  },
  poll() {
    const now = this.read();
    for (let i = 0; i < 36; ++i)
      if (now[i] !== this.states[i]) {
        this.states[i] = now[i];
        K.joy(i, now[i]);
      }
  },
  listen() {
    window.addEventListener("gamepadconnected", () => ++this.connected);
    window.addEventListener("gamepaddisconnected", () => { this.connected = Math.max(0, this.connected - 1); });
  },
};

// --- The game's calls --------------------------------------------------------------------

// Set once the module is ready: the exported functions, by short name.
const K = {};
let canvas, context2d;
let language = 0;
let shippedLevels = null;  // the level file as it came with the page
let dialogOpen = null;

const Kordavel = {
  audioAvailable() { return Audio.available(); },
  keep(path, bytes) { return KeepFile(path, bytes); },
  call(what, text, bytes) {
    switch (what) {
      case "sound-buffer": {
        const [frames, rate] = text.split(" ").map(Number);
        Audio.bufferSeconds = frames / rate;
        break;
      }
      case "soundbank-clear": Audio.clear(); break;
      case "soundbank-add": Audio.add(bytes); break;
      case "play": {
        const [item, volume] = text.split(" ").map(Number);
        Audio.play(item, volume);
        break;
      }
      case "replay": KeepReplay(...text.split("\n"), bytes); break;
      case "message": ShowMessage(K.messageText(text, language)); break;
      case "close": ShowMessage(K.uiText("The game has ended; reload the page to play again.", language)); stopped = true; break;
      case "fail": ShowMessage(text); stopped = true; break;
      case "mode": SetMode(text.split(" ")[2] === "1"); break;
      case "palette": document.querySelector('[data-item="PaletteType"]').classList.toggle("checked", text === "1"); break;
      case "language": SetLanguage(Number(text)); break;
      case "dialog": OpenDialog(text); break;
      case "watching": watching = text === "1"; ShowStatus(); break;
    }
  },
};
window.Kordavel = Kordavel;

// The game writes the settings or the level file: kept in the browser's storage, or false.
function KeepFile(path, bytes) {
  if (path === "kordavel.ini") return Store.set("settings", new TextDecoder().decode(bytes));
  if (path !== "data/lswap.dat" || !shippedLevels) return true;
  // The player's levels: the records after the shipped ones, which must be as shipped.
  const shipped = shippedLevels.length - shippedLevels.length % kLevelRecordBytes;
  const same = bytes.length >= shipped && shippedLevels.subarray(0, shipped).every((b, i) => b === bytes[i]);
  return same && Store.set("levels", Base64(bytes.subarray(shipped)));
}

function KeepReplay(name, key, bytes) {
  if (Store.keepReplay(name, bytes, key)) return;
  const why = Store.problem() === "blocked" ? "the browser's storage is blocked" : "the browser's storage is full";
  ShowMessage(K.messageText("The replay was not saved: " + why, language));
}

// --- Frames -------------------------------------------------------------------------------

let stopped = false, watching = false;
let lastTime = null, carry = 0, loopTimer = null;
let ticksRun = 0;
let frameImage = null;  // the game's frame where it lies in the module's memory

// What the page did, for scripts/web.sh weigh: wakes of the tick loop and canvas draws.
const Counts = { wakes: 0, draws: 0 };

// The changed rectangles of the frame go to the canvas straight from the module's memory; a
// frame that changed nothing costs nothing.
function Draw() {
  const at = K.changes() >> 2;
  const count = HEAP32[at];
  if (count === 0) return;
  // The view is made again only when the memory has grown (the old buffer is then gone).
  if (!frameImage || frameImage.data.buffer !== HEAPU8.buffer)
    frameImage = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, K.frame(), 320 * 200 * 4), 320, 200);
  for (let i = 0, b = at + 1; i < count; ++i, b += 4)
    context2d.putImageData(frameImage, 0, 0, HEAP32[b], HEAP32[b + 1], HEAP32[b + 2], HEAP32[b + 3]);
  ++Counts.draws;
}

// One tick as the loop runs it: gamepads polled, the game stepped, the frame drawn if new.
function Tick() {
  Pad.poll();
  ++ticksRun;
  const shown = K.tick();
  if (watching) ShowStatus();
  if (!shown) return false;
  Draw();
  return true;
}

// The 13 ms tick, paced by a timer that wakes for each frame the game shows (every second
// tick): the time since the last wake runs as many ticks as it holds, a late wake is not caught
// up beyond a few ticks, and a hidden page runs none. Display frames are not waited for: the
// canvas is shown at the next one, and the page asks for none of its own.
function Loop() {
  loopTimer = null;
  if (stopped || document.hidden) return;
  ++Counts.wakes;
  const now = performance.now();
  if (lastTime !== null) carry = Math.min(carry + (now - lastTime), 4 * kTickMs);
  lastTime = now;
  let shown = 0, last = false;
  while (carry >= kTickMs) {
    carry -= kTickMs;
    last = Tick();
    shown += last;
  }
  // Woken again after two ticks if the last showed a frame; after one if the frame fell on the
  // tick before, to wake in step with the game's frames again.
  const ticks = !last && shown > 0 ? 1 : 2;
  // A millisecond late rather than early: a timer a little early would find one tick due, not two.
  loopTimer = setTimeout(Loop, ticks * kTickMs - carry + 1);
}

function StartLoop() {
  if (loopTimer !== null || stopped || document.hidden) return;
  lastTime = performance.now();
  carry = kTickMs;
  Loop();
}

function SetMode(full) {
  if (full && !document.fullscreenElement && document.documentElement.requestFullscreen)
    document.documentElement.requestFullscreen().catch(() => {});
  if (!full && document.fullscreenElement) document.exitFullscreen().catch(() => {});
}

// --- The picture's size ---------------------------------------------------------------------

// The picture fills the page as the window's drawing area fills the window: the largest 8:5
// rectangle that fits, centred on black. Alt+1 and Alt+2 choose 320 x 200 and 640 x 400
// instead (no larger than fits), as they size the window; a third press of either, in a row,
// returns to fitting the page.
const Picture = {
  width: 0,    // 320 or 640 as chosen, 0 to fit the page
  presses: 0,  // Alt+1 and Alt+2 pressed since the picture last fitted the page
  key(code) {
    this.presses = (this.presses + 1) % 3;
    this.width = this.presses === 0 ? 0 : code === 49 ? 320 : 640;
    this.fit();
  },
  // In device pixels, so that every frame pixel is a whole block of them where it can be.
  fit() {
    const stage = canvas.parentElement;
    const ratio = window.devicePixelRatio || 1;
    const areaWidth = Math.floor(stage.clientWidth * ratio);
    const areaHeight = Math.floor(stage.clientHeight * ratio);
    let width = areaWidth, height = Math.floor(areaWidth * 200 / 320);
    if (height > areaHeight) {
      height = areaHeight;
      width = Math.floor(areaHeight * 320 / 200);
    }
    if (this.width && this.width * ratio < width) {
      width = this.width * ratio;
      height = width * 200 / 320;
    }
    canvas.style.width = width / ratio + "px";
    canvas.style.height = height / ratio + "px";
  },
  watch() {
    new ResizeObserver(() => this.fit()).observe(canvas.parentElement);
    this.fit();
  },
};

// --- Keyboard ----------------------------------------------------------------------------

// Keys the browser would otherwise take (scrolling, focus, find).
const kTakenKeys = new Set([8, 9, 13, 16, 17, 18, 27, 32, 33, 34, 35, 36, 37, 38, 39, 40, 112, 114, 116, 118, 121]);

function KeyDown(event) {
  if (dialogOpen) return;
  const code = VirtualKey(event);
  if (!code) return;
  if (FileMenu.isOpen()) {
    FileMenu.key(event, code);
    return;
  }
  // F10 opens the File menu unless a player has made it a game key, as in the window.
  if (code === 121 && !event.altKey && !K.keyBound(121)) {
    event.preventDefault();
    FileMenu.open();
    return;
  }
  if (kTakenKeys.has(code) || event.altKey) event.preventDefault();
  if (event.repeat) return;
  if (event.altKey && (code === 49 || code === 50)) Picture.key(code);
  K.key(code, 1, event.altKey ? 1 : 0);
  if (watching) ShowStatus();
}

function KeyUp(event) {
  const code = VirtualKey(event);
  if (!code) return;
  // In the open menu Space chooses the item, when it goes up.
  if (kTakenKeys.has(code) && !FileMenu.isOpen()) event.preventDefault();
  K.key(code, 0, 0);
}

// --- Captions ----------------------------------------------------------------------------

function SetLanguage(lang) {
  language = lang;
  document.documentElement.lang = lang === 0 ? "en" : "ru";
  for (const el of document.querySelectorAll("[data-item], [data-caption]")) {
    const name = el.dataset.caption || el.dataset.item;
    const text = K.caption(name, lang, Number(el.dataset.occurrence || 0));
    if (text) el.textContent = text;
  }
  // The page's own texts, kept in English in data-ui.
  for (const el of document.querySelectorAll("[data-ui]")) el.textContent = K.uiText(el.dataset.ui, lang);
  for (const el of document.querySelectorAll("[data-language]"))
    el.classList.toggle("checked", Number(el.dataset.language) === lang);
  document.querySelector(".about-made").textContent = K.uiText("Made by the Kordavel developers", lang);
  document.querySelector(".about-version").textContent = K.uiText("Version %1", lang).replace("%1", K.version());
  ShowStatus();
}

// The status line: while a replay is watched, its keys or what it is doing, as the window's
// title and overlay say it. Written only when it changes: the loop asks at every wake.
let statusShown = "";
function ShowStatus() {
  const text = K.watchStatus ? K.watchStatus() : "";
  if (text === statusShown) return;
  statusShown = text;
  document.getElementById("status").textContent = text;
}

// --- Menus and dialogs -------------------------------------------------------------------

// A message while another is shown goes under it: none is lost.
function ShowMessage(text) {
  const dialog = document.getElementById("message");
  const lines = dialog.querySelector(".lines");
  if (!dialog.open) lines.innerHTML = "";
  const line = document.createElement("p");
  line.textContent = text;
  lines.appendChild(line);
  Show(dialog);
}

function Show(dialog) {
  K.releaseKeys();
  dialogOpen = dialog;
  if (!dialog.open) dialog.showModal();
}

function OpenDialog(name) {
  if (name === "options") OpenOptions();
  else if (name === "select") OpenSelect();
  else Show(document.getElementById(name));
}

function MenuClick(item) {
  K.menu(item);  // the game opens the dialog or switches the language, as in the window
  ShowStatus();
}

// The File menu, opened with the mouse or F10 and then walked with the arrows, as the window's.
const FileMenu = {
  element: null,
  isOpen() { return this.element.classList.contains("open"); },
  items() { return [...this.element.querySelectorAll(".items button")]; },
  open() {
    K.releaseKeys();
    this.element.classList.add("open");
    this.items()[0].focus();
  },
  close() {
    this.element.classList.remove("open");
    canvas.focus();
  },
  // A key while the menu is open: the arrows move, Enter and Space choose, Esc and F10 close.
  key(event, code) {
    const items = this.items();
    const at = items.indexOf(document.activeElement);
    if (code === 38 || code === 40) {
      event.preventDefault();
      const next = at < 0 ? 0 : (at + (code === 40 ? 1 : items.length - 1)) % items.length;
      items[next].focus();
    } else if (code === 27 || code === 121) {
      event.preventDefault();
      this.close();
    }
  },
};

function SetUpMenus() {
  const file = FileMenu.element = document.querySelector('[data-menu="MFile"]');
  file.querySelector(".title").addEventListener("click", () => {
    if (FileMenu.isOpen()) FileMenu.close();
    else FileMenu.open();
  });
  document.addEventListener("click", (e) => { if (!file.contains(e.target)) file.classList.remove("open"); });
  for (const el of document.querySelectorAll("#menu [data-item], #menu [data-page]"))
    el.addEventListener("click", () => {
      file.classList.remove("open");
      el.blur();
      if (el.dataset.item) MenuClick(el.dataset.item);
      else if (el.dataset.page === "replays") OpenReplays();
      else if (el.dataset.page === "controls") OpenControls();
      else Show(document.getElementById(el.dataset.page));
    });
  for (const dialog of document.querySelectorAll("dialog"))
    dialog.addEventListener("close", () => {
      if (dialogOpen === dialog) dialogOpen = null;
      canvas.focus();
    });
}

// Options: every control edits the game's working copy through the dialog's own handlers.
const kActions = ["MoveUp", "MoveDown", "MoveLeft", "MoveRight", "Fire", "Start", "Pause"];
const kActionCaptions = ["StaticText1", "StaticText2", "StaticText3", "StaticText4", "StaticText5", "StaticText12", "StaticText17"];
const kPrompts = ["Press Up", "Press Down", "Press Left", "Press Right", "Press Fire", "Press Start", "Press Pause"];
const kRows = [["KeysForPlayer1", "JoystickForPlayer1", 7, "GroupBox1"], ["KeysForPlayer2", "JoystickForPlayer2", 5, "GroupBox2"]];

function OptionValues(show) {
  const values = {};
  for (const line of K.options(show).split("\n")) {
    const [key, value] = line.split(" ");
    if (key) values[key] = Number(value);
  }
  return values;
}

function FillOptions(values) {
  const dialog = document.getElementById("options");
  for (const input of dialog.querySelectorAll("[data-key]")) {
    const v = values[input.dataset.key];
    if (input.type === "checkbox") input.checked = v === 1;
    else input.value = v;
  }
  for (const button of dialog.querySelectorAll("#bindings button"))
    button.textContent = K.keyName(values[button.dataset.binding], button.dataset.joystick === "1" ? 1 : 0);
}

function OpenOptions() {
  const dialog = document.getElementById("options");
  const bindings = document.getElementById("bindings");
  bindings.innerHTML = "";
  for (const [keys, joystick, count, group] of kRows) {
    const table = document.createElement("table");
    table.innerHTML = "<caption>" + K.caption(group, language, 0) + "</caption>";
    for (let a = 0; a < count; ++a) {
      const row = table.insertRow();
      row.insertCell().textContent = K.caption(kActionCaptions[a], language, 0);
      for (const [section, joy] of [[keys, 0], [joystick, 1]]) {
        const button = document.createElement("button");
        button.type = "button";
        button.dataset.binding = section + "/" + kActions[a];
        button.dataset.joystick = joy;
        button.addEventListener("click", () => Capture(button, kPrompts[a], joy === 1));
        row.insertCell().appendChild(button);
      }
    }
    bindings.appendChild(table);
  }
  FillOptions(OptionValues(1));
  Show(dialog);
}

function SetUpOptions() {
  const dialog = document.getElementById("options");
  for (const input of dialog.querySelectorAll("[data-key]"))
    input.addEventListener("input", () => {
      const value = input.type === "checkbox" ? (input.checked ? 1 : 0) : Number(input.value);
      const error = K.optionSet(input.dataset.key, value);
      if (error) ShowMessage(error);
      FillOptions(OptionValues(0));
    });
  dialog.querySelector('[value="defaults"]').addEventListener("click", () => {
    K.optionButton("defaults");
    FillOptions(OptionValues(0));
  });
  dialog.addEventListener("close", () => {
    K.optionButton(dialog.returnValue === "ok" ? "ok" : "cancel");
    dialog.returnValue = "";
  });
}

// The capture dialog: a key taken when one goes up (the lowest code then down), or the first
// joystick state that comes on. Esc is a key like any other; the dialog's close box cancels.
function Capture(button, prompt, joystick) {
  const dialog = document.getElementById("capture");
  dialog.querySelector("p").textContent = K.uiText(prompt, language);
  const down = new Uint8Array(256);
  let timer = null, done = false;
  const finish = (value) => {
    if (done) return;
    done = true;
    document.removeEventListener("keydown", onDown, true);
    document.removeEventListener("keyup", onUp, true);
    clearInterval(timer);
    dialog.close();
    dialogOpen = document.getElementById("options");
    if (value === null) return;
    const error = K.optionSet(button.dataset.binding, value);
    if (error) ShowMessage(error);
    FillOptions(OptionValues(0));
  };
  const onDown = (e) => {
    e.preventDefault();
    e.stopPropagation();
    if (e.repeat) return;
    const code = VirtualKey(e);
    if (code > 0) down[code] = 1;
  };
  const onUp = (e) => {
    e.preventDefault();
    e.stopPropagation();
    // A key let go that went down before the dialog opened is not a capture.
    if (!down.some((d) => d)) return;
    if (joystick) {
      finish(K.scanJoystick() & 0x7f);
      return;
    }
    const ptr = K.malloc(256);
    HEAPU8.set(down, ptr);
    const value = K.captureKey(ptr);
    K.free(ptr);
    finish(value);
  };
  document.addEventListener("keydown", onDown, true);
  document.addEventListener("keyup", onUp, true);
  if (joystick)
    timer = setInterval(() => {
      const state = K.scanJoystick();
      if (state !== 36) finish(state & 0x7f);
    }, 50);
  // The close box cancels; Esc does not (it is captured).
  dialog.onclose = () => { if (dialog.returnValue === "cancel") finish(null); };
  dialog.oncancel = (e) => e.preventDefault();
  dialog.returnValue = "";
  dialog.showModal();
}

function OpenSelect() {
  const dialog = document.getElementById("select");
  const [minimum, maximum, position, gameItem, okEnabled] = K.selectShow().split(" ").map(Number);
  const stage = document.getElementById("select-stage");
  stage.min = minimum;
  stage.max = maximum;
  stage.value = position;
  dialog.querySelectorAll('[name="game"]')[gameItem].checked = true;
  document.getElementById("select-ok").disabled = !okEnabled;
  dialog.querySelector(".note").textContent = okEnabled ? "" : K.uiText("The level file holds no stage.", language);
  Show(dialog);
}

function SetUpSelect() {
  const dialog = document.getElementById("select");
  dialog.addEventListener("close", () => {
    if (dialog.returnValue !== "ok") return;
    dialog.returnValue = "";
    const item = Number(dialog.querySelector('[name="game"]:checked').value);
    const error = K.selectOk(Number(document.getElementById("select-stage").value), item);
    if (error) setTimeout(() => ShowMessage(error), 0);
  });
}

// Replays: the last games kept in the browser, a file from the desktop, and the session.
function Download(name, bytes) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([bytes], { type: "application/octet-stream" }));
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

function WithBytes(bytes, fn) {
  const ptr = K.malloc(bytes.length || 1);
  HEAPU8.set(bytes, ptr);
  try { return fn(ptr, bytes.length); } finally { K.free(ptr); }
}

function Watch(bytes, name) {
  const error = WithBytes(bytes, (ptr, size) => K.watch(ptr, size, name));
  if (error) ShowMessage(K.messageText(name + ": " + error, language));
  ShowStatus();
}

function SessionReplay() {
  const ptr = K.sessionReplay();
  return HEAPU8.slice(ptr, ptr + K.bytesSize());
}

// The time a kept game ended, from its name (game-YYYYMMDD-HHMMSS-...), as the window's list.
function NameDate(name) {
  const m = /^game-(\d{4})(\d\d)(\d\d)-(\d\d)(\d\d)(\d\d)-/.exec(name);
  return m ? m[1] + "-" + m[2] + "-" + m[3] + " " + m[4] + ":" + m[5] + ":" + m[6] : name;
}

function LengthText(ticks) {
  const seconds = Math.floor(ticks * kTickMs / 1000);
  const two = (n) => String(n).padStart(2, "0");
  if (seconds >= 3600) return Math.floor(seconds / 3600) + ":" + two(Math.floor(seconds / 60) % 60) + ":" + two(seconds % 60);
  return Math.floor(seconds / 60) + ":" + two(seconds % 60);
}

const kModeTexts = { 1: "One player", 2: "Two players", 3: "Duel" };

// The kept games, newest first, with the window's columns: date, mode, stage, length, scores.
function OpenReplays() {
  const dialog = document.getElementById("replays");
  const body = document.querySelector("#replay-list tbody");
  body.innerHTML = "";
  const replays = Store.replays().reverse();
  document.getElementById("replay-none").hidden = replays.length > 0;
  document.getElementById("replay-list").hidden = replays.length === 0;
  for (const r of replays) {
    const bytes = FromBase64(r.data);
    const info = WithBytes(bytes, (ptr, size) => K.replayInfo(ptr, size)).split(" ").map(Number);
    const [mode, stage, ticks, score1, score2] = info;
    const row = body.insertRow();
    row.title = r.name;
    const read = info.length === 5;
    const cells = [NameDate(r.name), K.uiText(kModeTexts[mode] || "No game", language),
      read && kModeTexts[mode] ? String(stage) : "", read ? LengthText(ticks) : "",
      read ? String(score1) + (mode === 2 || mode === 3 ? " : " + score2 : "") : ""];
    for (const text of cells) row.insertCell().textContent = text;
    const watch = () => { dialog.close(); Watch(bytes, r.name); };
    row.addEventListener("click", watch);
    const save = document.createElement("button");
    save.type = "button";
    save.textContent = "⤓";
    save.title = "Download";
    save.addEventListener("click", (e) => { e.stopPropagation(); Download(r.name, bytes); });
    row.insertCell().appendChild(save);
  }
  Show(dialog);
}

function SetUpReplays() {
  const dialog = document.getElementById("replays");
  document.getElementById("replay-file").addEventListener("change", (e) => {
    const file = e.target.files[0];
    e.target.value = "";
    if (!file) return;
    file.arrayBuffer().then((buffer) => {
      dialog.close();
      Watch(new Uint8Array(buffer), file.name);
    });
  });
  document.getElementById("replay-download-session").addEventListener("click", () =>
    Download("session.kdr", SessionReplay()));
}

function OpenControls() {
  const values = OptionValues(0);
  const name = (section, action) => K.keyName(values[section + "/" + action], section.startsWith("Joystick") ? 1 : 0);
  let html = "";
  for (const [keys, joystick, count, group] of kRows) {
    html += "<h3>" + K.caption(group, language, 0) + "</h3><table>";
    for (let a = 0; a < count; ++a)
      html += "<tr><td>" + K.caption(kActionCaptions[a], language, 0) + "</td><td>" + name(keys, kActions[a]) +
        "</td><td>" + name(joystick, kActions[a]) + "</td></tr>";
    html += "</table>";
  }
  html += "<p>" + K.uiText("Esc ends the demonstration, the score tally and the level editor. Alt+Enter: full screen; " +
    "Alt+1, Alt+2: the picture at 320 x 200, 640 x 400 (a third press fits it to the page). F10: the File menu. " +
    "Watching a replay: P pause, F four times as fast, → a minute on, End to the end, Esc stop. " +
    "The bindings are changed in File, Options.", language) + "</p>";
  document.getElementById("controls-text").innerHTML = html;
  Show(document.getElementById("controls"));
}

// --- Start --------------------------------------------------------------------------------

async function FetchBytes(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(url + ": " + response.status);
  return new Uint8Array(await response.arrayBuffer());
}

function AddFile(path, bytes) {
  WithBytes(bytes, (ptr, size) => K.addFile(path, ptr, size));
}

function Result(text) {
  const out = document.getElementById("result");
  out.textContent = text;
  out.hidden = false;
  document.title = "done";
  // scripts/web.sh and the tests read it from their server.
  if (params.has("report")) fetch("result", { method: "POST", body: text });
}

async function Start() {
  const bind = (name, ret, args) => Module.cwrap("kdv_" + name, ret, args);
  Object.assign(K, {
    addFile: bind("add_file", null, ["string", "number", "number"]),
    start: bind("start", "number", ["number"]),
    tick: bind("tick", "number", []),
    frame: bind("frame", "number", []),
    changes: bind("changes", "number", []),
    key: bind("key", null, ["number", "number", "number"]),
    releaseKeys: bind("release_keys", null, []),
    joy: bind("joy", null, ["number", "number"]),
    menu: bind("menu", "number", ["string"]),
    saveSettings: bind("save_settings", null, []),
    options: bind("options", "string", ["number"]),
    optionSet: bind("option_set", "string", ["string", "number"]),
    optionButton: bind("option_button", null, ["string"]),
    keyName: bind("key_name", "string", ["number", "number"]),
    captureKey: bind("capture_key", "number", ["number"]),
    scanJoystick: bind("scan_joystick", "number", []),
    selectShow: bind("select_show", "string", []),
    selectOk: bind("select_ok", "string", ["number", "number"]),
    caption: bind("caption", "string", ["string", "number", "number"]),
    uiText: bind("ui_text", "string", ["string", "number"]),
    messageText: bind("message_text", "string", ["string", "number"]),
    status: bind("status", "string", []),
    language: bind("language", "number", []),
    sessionReplay: bind("session_replay", "number", []),
    bytesSize: bind("bytes_size", "number", []),
    hash: bind("hash", "string", []),
    replayInfo: bind("replay_info", "string", ["number", "number"]),
    version: bind("version", "string", []),
    keyBound: bind("key_bound", "number", ["number"]),
    verify: bind("verify", "string", ["number", "number"]),
    watch: bind("watch", "string", ["number", "number", "string"]),
    watchStatus: bind("watch_status", "string", []),
    malloc: Module._malloc,
    free: Module._free,
  });
  canvas = document.getElementById("screen");
  // Drawn apart from the page's own frames: the picture is all that changes, and the browser
  // then shows it without laying out and painting the page for each of the game's frames. It
  // is opaque: nothing beneath it is blended in.
  context2d = canvas.getContext("2d", { desynchronized: true, alpha: false });

  const files = await dataFiles;
  kDataFiles.forEach((name, i) => {
    if (!files[i]) return;  // the game reports the missing file itself
    let bytes = files[i];
    if (name === "lswap.dat") {
      shippedLevels = bytes;
      const mine = Store.get("levels");
      if (mine) {
        const whole = bytes.length - bytes.length % kLevelRecordBytes;
        const extra = FromBase64(mine);
        const joined = new Uint8Array(whole + extra.length);
        joined.set(bytes.subarray(0, whole));
        joined.set(extra, whole);
        bytes = joined;
      }
    }
    AddFile("data/" + name, bytes);
  });
  const settings = Store.get("settings");
  const test = params.has("verify") || params.has("harness");
  if (settings !== null && !test) AddFile("kordavel.ini", new TextEncoder().encode(settings));

  if (params.has("verify")) {
    const bytes = await FetchBytes(params.get("verify"));
    Result(WithBytes(bytes, (ptr, size) => K.verify(ptr, size)));
    return;
  }
  SetUpMenus();
  Picture.watch();
  // The floor (scripts/web_floor.js) listens for gamepads only when told to.
  if (!params.has("floor")) Pad.listen();
  SetUpOptions();
  SetUpSelect();
  SetUpReplays();
  if (!K.start(test ? 1 : 0)) {
    stopped = true;
    return;
  }
  SetLanguage(K.language());
  const problem = Store.problem();
  if (problem) ShowMessage(K.uiText(kStorageProblems[problem], language));
  window.addEventListener("keydown", KeyDown);
  window.addEventListener("keyup", KeyUp);
  window.addEventListener("blur", () => K.releaseKeys());
  window.addEventListener("pagehide", () => K.saveSettings());
  document.addEventListener("visibilitychange", () => { if (document.hidden) K.saveSettings(); });
  Kordavel.firstFrameMs = null;
  if (params.has("harness")) {
    // A test drives the ticks itself through Tick(), as the loop would.
    const script = document.createElement("script");
    script.src = params.get("harness");
    document.body.appendChild(script);
    return;
  }
  // What start-up drew is shown at once, whether or not the first tick brings a frame.
  if (!Tick()) Draw();
  Kordavel.firstFrameMs = performance.now();
  document.title = "Kordavel";
  if (params.has("weigh")) Weigh(Number(params.get("weigh")) || 20, Number(params.get("settle")) || 0);
  document.addEventListener("visibilitychange", () => {
    if (!document.hidden) StartLoop();
  });
  StartLoop();
  setTimeout(() => Audio.open(), 0);
}

// What the page cost to show its first frame, then what it does in the given seconds of the
// demonstration, counted from a few seconds after the start as scripts/web.sh weigh measures
// the browser's processes.
function Weigh(seconds, settle) {
  const entries = [...performance.getEntriesByType("navigation"), ...performance.getEntriesByType("resource")];
  const bytes = entries.reduce((sum, e) => sum + (e.transferSize || e.encodedBodySize || 0), 0);
  // From the page's request: a fresh browser takes its own time to start before it asks.
  const asked = entries[0].requestStart;
  Result("first-frame-ms " + Math.round(Kordavel.firstFrameMs - asked) + " transferred-bytes " + bytes +
    " browser-start-ms " + Math.round(asked));
  K.menu("MDemo");
  setTimeout(() => {
    const start = performance.now();
    const counted = Object.assign({}, Counts);
    setTimeout(() => {
      const s = (performance.now() - start) / 1000;
      Result("wakes-per-s " + ((Counts.wakes - counted.wakes) / s).toFixed(1) +
        " draws-per-s " + ((Counts.draws - counted.draws) / s).toFixed(1));
    }, seconds * 1000);
  }, settle * 1000);
}

// The data files are on their way while the module loads.
const dataFiles = Promise.all(kDataFiles.map((name) => FetchBytes("data/" + name).catch(() => null)));

var Module = {
  onRuntimeInitialized() {
    Start().catch((e) => { Result("error: " + e.message); ShowMessage(String(e.message)); });
  },
};
