// Drives the page as a player would, for tests/web/run.sh: keys go through the page's own key
// handler, ticks through its own Tick(), dialogs through their buttons. Loaded by index.html
// with ?harness=harness.js&check=NAME; the findings go to the page's result element, one a line.
"use strict";
(async () => {
  const out = [];
  const codeOf = {};
  for (const [code, vk] of Object.entries(kVirtualKeys)) if (!(vk in codeOf)) codeOf[vk] = code;
  // At the focused element, as the browser sends a key.
  const press = (vk, down) =>
    (document.activeElement || document.body).dispatchEvent(
      new KeyboardEvent(down ? "keydown" : "keyup", { code: codeOf[vk], bubbles: true }));
  // A dialog's close event comes as a task of its own.
  // A dialog's close event is a task of its own, which a busy browser may run after a timer's:
  // wait for the event itself (the page's listener, added first, has run by then).
  const closing = (id) => new Promise((resolve) =>
    document.getElementById(id).addEventListener("close", () => setTimeout(resolve, 0), { once: true }));

  async function PngPixels(url) {
    const img = new Image();
    img.src = url;
    await img.decode();
    const c = document.createElement("canvas");
    c.width = img.width;
    c.height = img.height;
    const g = c.getContext("2d");
    g.drawImage(img, 0, 0);
    return g.getImageData(0, 0, c.width, c.height);
  }

  // A runner script's key and screen lines, played through the page tick by tick.
  async function PlayScript(url) {
    const byTick = new Map();
    let last = 0;
    for (const line of (await (await fetch(url)).text()).split("\n")) {
      const w = line.trim().split(/\s+/);
      if (w.length < 3 || w[0].startsWith("#")) continue;
      const tick = Number(w[0]);
      if (!byTick.has(tick)) byTick.set(tick, []);
      byTick.get(tick).push(w);
      last = Math.max(last, tick);
    }
    for (let tick = 1; tick <= last; ++tick) {
      const lines = byTick.get(tick) || [];
      for (const w of lines) if (w[1] === "key") press(Number(w[2]), w[3] === "down");
      const shown = Tick();
      for (const w of lines) {
        if (w[1] !== "screen") continue;
        if (!shown) {
          out.push("screen " + tick + ": no new frame at this tick");
          continue;
        }
        const want = await PngPixels(w[2] + ".png");
        const have = context2d.getImageData(0, 0, 320, 200);
        let differ = -1, count = 0;
        for (let i = 0; i < 320 * 200; ++i)
          for (let c = 0; c < 3; ++c)
            if (want.data[i * 4 + c] !== have.data[i * 4 + c]) {
              if (differ < 0) differ = i;
              ++count;
              break;
            }
        if (want.width !== 320 || want.height !== 200) out.push("screen " + tick + ": the PNG is " + want.width + "x" + want.height);
        else if (differ < 0) out.push("screen " + tick + ": same");
        else out.push("screen " + tick + ": " + count + " pixels differ, the first at (" + (differ % 320) + "," + Math.floor(differ / 320) + ")");
      }
    }
  }

  function Click(selector) {
    const el = document.querySelector(selector);
    if (!el) throw new Error("no " + selector);
    el.click();
  }

  const check = params.get("check");
  try {
    if (check === "screen") {
      // The screens, then the session's replay and the state it ended in.
      await PlayScript(params.get("script"));
      out.push("hash " + K.hash());
      out.push("replay " + Base64(SessionReplay()));
    } else if (check === "dialogs") {
      // Storage that works: nothing said at load.
      out.push("message at load " + document.getElementById("message").open);
      // Options: player 1's Fire captured from a key, accepted, kept in the browser's storage.
      for (let i = 0; i < 5; ++i) Tick();
      Click('[data-item="MOptions"]');
      out.push("options open " + document.getElementById("options").open);
      Click('#bindings [data-binding="KeysForPlayer1/Fire"]');
      out.push("capture open " + document.getElementById("capture").open);
      press(70, true);  // F
      press(70, false);
      const fire = () => document.querySelector('#bindings [data-binding="KeysForPlayer1/Fire"]').textContent;
      out.push("fire button " + fire());
      // The capture's close box cancels; Esc is captured like any other key.
      Click('#bindings [data-binding="KeysForPlayer1/Fire"]');
      const captureClosed = closing("capture");
      Click("#capture .close");
      await captureClosed;
      out.push("cancelled capture " + document.getElementById("capture").open + " " + fire());
      Click('#bindings [data-binding="KeysForPlayer1/Fire"]');
      press(27, true);
      press(27, false);
      out.push("esc captured " + (fire() === K.keyName(27, 0)));
      Click('#bindings [data-binding="KeysForPlayer1/Fire"]');
      press(70, true);
      press(70, false);
      const optionsClosed = closing("options");
      document.querySelector('#options [value="ok"]').click();
      await optionsClosed;
      out.push("options open " + document.getElementById("options").open);
      out.push("settings fire " + (/\[KeysForPlayer1\][^[]*Fire=(\d+)/.exec(Store.get("settings") || "") || [])[1]);
      // Select Level: stage 2 in a duel.
      Click('[data-item="MSelectLevel"]');
      document.getElementById("select-stage").value = 2;
      document.querySelectorAll('#select [name="game"]')[2].checked = true;
      const selectClosed = closing("select");
      document.getElementById("select-ok").click();
      await selectClosed;
      for (let i = 0; i < 3; ++i) Tick();
      out.push("status " + K.status());
      // Language: the menu's captions follow.
      Click('[data-item="MLangRussian"]');
      out.push("caption " + document.querySelector('[data-item="MStart1Player"]').textContent);
      // The page's own texts follow too: none may stay in English.
      const english = [...document.querySelectorAll("[data-ui], [data-caption]")].filter((el) =>
        el.textContent === (el.dataset.ui || K.caption(el.dataset.caption, 0, Number(el.dataset.occurrence || 0))));
      out.push("untranslated " + english.map((el) => el.textContent.slice(0, 20)).join("|"));
      Click('[data-item="MLangEnglish"]');
      out.push("caption " + document.querySelector('[data-item="MStart1Player"]').textContent);
      Click('[data-item="MAbout"]');
      out.push("about " + document.getElementById("about").open + " " + document.querySelector(".about-version").textContent);
      const aboutClosed = closing("about");
      document.querySelector("#about button").click();
      await aboutClosed;
      // Every game started from the menu ends the one before: the last 20 are kept.
      for (let i = 0; i < 23; ++i) {
        Click('[data-item="MStart1Player"]');
        for (let t = 0; t < 10; ++t) Tick();
      }
      // The newest a longer game, ended by the next.
      for (let t = 0; t < 5000; ++t) Tick();
      Click('[data-item="MStart1Player"]');
      const kept = Store.replays();
      out.push("kept " + kept.length);
      // The replay list: the newest first, in the window's columns.
      OpenReplays();
      const row = document.querySelector("#replay-list tbody tr");
      out.push("listed " + document.querySelectorAll("#replay-list tbody tr").length + " " + row.title);
      out.push("columns " + [...row.cells].slice(0, 5).map((c) => c.textContent).join("|"));
      const listClosed = closing("replays");
      document.querySelector('#replays [value="close"]').click();
      await listClosed;
      out.push("newest " + kept[kept.length - 1].name);
      out.push("replay " + kept[kept.length - 1].data);
      // Watching the newest kept game on the page, to its end.
      Watch(FromBase64(kept[kept.length - 1].data), "newest");
      out.push("watching " + K.status().split(" ")[2]);
      for (let t = 0; t < 10000 && K.status().split(" ")[2] === "1"; ++t) Tick();
      out.push("watching " + K.status().split(" ")[2]);
    } else if (check === "watch") {
      // Watching as in the window: the status line names only keys that work and follows them;
      // End skips to the end, which is held and said; a replay that parts says where.
      Click('[data-item="MLangEnglish"]');
      for (let i = 0; i < 5; ++i) Tick();
      const status = () => document.getElementById("status").textContent;
      const caption = (name) => K.caption(name, 0, 0);
      const key = (vk) => {
        press(vk, true);
        press(vk, false);
        Tick();
      };
      const watching = () => K.status().split(" ")[2] === "1";
      const play = async (name) => {
        Watch(new Uint8Array(await (await fetch(name)).arrayBuffer()), name);
        Tick();
      };
      await play(params.get("whole"));
      out.push("keys " + (status() === caption("ReplayWatching")));
      key(80);
      out.push("P " + (status() === caption("ReplayWatching") + " — " + caption("ReplayPaused")));
      key(80);
      key(70);
      out.push("F " + (status() === caption("ReplayWatching") + " — ×4"));
      key(70);
      // A minute ahead is thousands of ticks, more than one frame's slice runs: still skipping.
      key(39);
      out.push("right " + status().startsWith(caption("OverlayReplaySkip")));
      key(35);
      out.push("End " + status().startsWith(caption("OverlayReplaySkip")));
      let ended = "";
      for (let t = 0; t < 20000 && watching(); ++t) {
        Tick();
        if (!ended && status().startsWith(caption("OverlayReplayEnded"))) ended = status();
      }
      out.push("ended " + ended);
      out.push("told " + (document.getElementById("message").open ? document.querySelector("#message .lines").textContent : ""));
      await play(params.get("parted"));
      for (let t = 0; t < 20000 && watching(); ++t) Tick();
      out.push("told " + (document.getElementById("message").open ? document.querySelector("#message .lines").textContent : ""));
    } else if (check === "pads") {
      // Two pads: whatever either does reaches the game (the lowest state on, as the capture
      // dialog reads it).
      const pad = () => ({ connected: true, axes: [0, 0], buttons: Array.from({ length: 16 }, () => ({ pressed: false })) });
      const pads = [pad(), pad()];
      navigator.getGamepads = () => [pads[0], null, pads[1]];
      for (const p of pads) window.dispatchEvent(Object.assign(new Event("gamepadconnected"), { gamepad: p }));
      Tick();
      out.push("none " + K.scanJoystick());
      pads[1].buttons[2].pressed = true;
      Tick();
      out.push("second pad's third button " + K.scanJoystick());
      pads[0].axes[0] = -1;
      Tick();
      out.push("and the first pad's stick left " + K.scanJoystick());
    } else if (check === "levels") {
      // A level made in the editor is kept in the browser's storage, after the shipped ones.
      for (let i = 0; i < 5; ++i) Tick();
      out.push("stages " + K.selectShow().split(" ")[1]);
      Click('[data-item="MLevelEditor"]');
      for (const vk of [13, 39, 32, 13, 27]) {
        press(vk, true);
        Tick();
        press(vk, false);
        Tick();
      }
      out.push("kept-bytes " + FromBase64(Store.get("levels") || "").length);
      // The game counts its stages at start: open the page again to see the new one.
      sessionStorage.setItem("levels-check", out.join("\n"));
      location.href = "index.html?harness=harness.js&check=stages&report";
      return;
    } else if (check === "fill") {
      // The page's storage filled to the last character, then the page opened anew on it.
      let size = 1 << 20, n = 0;
      while (size >= 1) {
        try {
          localStorage.setItem("filler-" + n++, "x".repeat(size));
        } catch (e) {
          size = Math.floor(size / 2);
        }
      }
      location.href = "index.html?harness=harness.js&check=storage&storage=full&report";
      return;
    } else if (check === "storage") {
      // Storage that takes nothing: said once at load, then every save that fails says so, in
      // the player's language, and the editor keeps the map it could not save.
      const message = async () => {
        const dialog = document.getElementById("message");
        if (!dialog.open) return "";
        const text = dialog.querySelector(".lines").textContent;
        const closed = closing("message");
        dialog.querySelector("button").click();
        await closed;
        return text;
      };
      const told = (text, english) => text === K.messageText(english, 1) && text !== english ? "told in Russian" : text;
      out.push("at load: " + await message());
      Click('[data-item="MLangRussian"]');
      for (let i = 0; i < 5; ++i) Tick();
      Click('[data-item="MLevelEditor"]');
      Tick();
      const editing = K.status().split(" ")[0];
      for (const vk of [13, 27]) {
        press(vk, true);
        Tick();
        press(vk, false);
        Tick();
      }
      out.push("level: " + told(await message(), 'The level was not saved: "data/lswap.dat" cannot be written'));
      out.push("editor kept: " + (K.status().split(" ")[0] === editing));
      press(27, true);
      Tick();
      press(27, false);
      await message();
      Click('[data-item="MOptions"]');
      const optionsClosed = closing("options");
      document.querySelector('#options [value="ok"]').click();
      await optionsClosed;
      out.push("settings: " + told(await message(), 'Settings could not be saved to "kordavel.ini"'));
      Click('[data-item="MStart1Player"]');
      for (let t = 0; t < 10; ++t) Tick();
      Click('[data-item="MStart1Player"]');
      out.push("replay: " + told(await message(), "The replay was not saved: the browser's storage is " + params.get("storage")));
    } else if (check === "stages") {
      out.push(sessionStorage.getItem("levels-check") || "error: the page was not opened anew");
      for (let i = 0; i < 5; ++i) Tick();
      out.push("stages " + K.selectShow().split(" ")[1]);
    } else {
      out.push("error: no check " + check);
    }
  } catch (e) {
    out.push("error: " + e.message);
  }
  Result(out.join("\n"));
})();
