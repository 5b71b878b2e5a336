// Plays SWF files in Ruffle (self-hosted web build) inside headless Chromium
// and reports what each file showed and sounded like.
//
// usage: node play.mjs job.json result.json
//
// job.json: { "files": [ { "path": "...", "width": W, "height": H,
//   "steps": [ { "at": ms, "points": [[x, y], ...] },      pixels at movie time ms
//                                                          ("save": "x.png" keeps the screenshot)
//              { "click": [x, y] },                          a click (movie pixels)
//              { "drag": [x0, y0, x1, y1] },                 press, move, release
//              { "sound": ms },                              play ms in real time, measure the sound
//              { "realtime": ms } ] } ] }                    play on the wall clock until the player's end
//
// Movie time runs on a virtual clock (requestAnimationFrame is replaced before
// Ruffle loads): it starts at 0 with each file and stops exactly at each
// requested time. Ruffle shows frame 1 one period after it loaded, so frame n
// is on screen for times [n P, (n+1) P), P = 1000 / frame rate. Sound
// steps let it run at the real rate.
//
// result.json: per file { loaded, panic, errors, warnings, traces, metadata,
// steps: [ { pixels: [[r, g, b], ...] } | { levels: [...], peakHz } ] }.
import { chromium } from "playwright-core";
import { readFileSync, writeFileSync, existsSync } from "node:fs";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const ruffleDir = join(here, "node_modules", "@ruffle-rs", "ruffle");
const origin = "http://swfplay.invalid";
const browserPath = process.env.QUILLET_CHROMIUM || "/usr/bin/chromium";

const [jobPath, resultPath] = process.argv.slice(2);
if (!jobPath || !resultPath) {
  console.error("usage: node play.mjs job.json result.json");
  process.exit(2);
}
if (!existsSync(join(ruffleDir, "ruffle.js"))) {
  console.error(`swfplay: Ruffle is not installed in ${ruffleDir}: run scripts/install-deps.sh`);
  process.exit(3);
}
const job = JSON.parse(readFileSync(jobPath, "utf8"));

const page_html = `<!doctype html><html><head><style>
  html, body { margin: 0; padding: 0; background: #000; }
  #stage { position: absolute; left: 0; top: 0; }
</style></head><body><div id="stage"></div>
<script>
  window.RufflePlayer = window.RufflePlayer || {};
  window.RufflePlayer.config = {
    autoplay: "on", unmuteOverlay: "hidden", splashScreen: false, letterbox: "off",
    contextMenu: "off", warnOnUnsupportedContent: false, logLevel: "info", publicPath: "/ruffle/",
  };
</script>
<script src="/ruffle/ruffle.js"></script></body></html>`;

// Runs in the page before anything else: the virtual clock and the sound tap.
function pageInit() {
  let now = 0, target = 0, pumps = 0, callbacks = [];
  window.requestAnimationFrame = (cb) => { callbacks.push(cb); return callbacks.length; };
  window.cancelAnimationFrame = () => {};
  const pump = () => {
    if (realBase >= 0) now = performance.now() - realBase;
    else if (now < target) now = Math.min(target, now + 1000 / 60);
    const run = callbacks;
    callbacks = [];
    for (const cb of run) {
      try { cb(now); } catch (e) { console.error("raf callback: " + e); }
    }
    pumps++;
    setTimeout(pump, 1000 / 60);
  };
  setTimeout(pump, 0);
  let realBase = -1;
  window.__clock = {
    reset() { now = 0; target = 0; callbacks = []; realBase = -1; },
    // From now on the movie runs on the wall clock.
    real() { realBase = performance.now() - now; },
    set(t) { target = t; },
    now() { return now; },
    pumps() { return pumps; },
  };
  // Every connection into a destination is also fed to one analyser.
  const analysers = new Map();
  const connect = AudioNode.prototype.connect;
  AudioNode.prototype.connect = function (dest, ...rest) {
    if (dest instanceof AudioDestinationNode) {
      const ctx = dest.context;
      let a = analysers.get(ctx);
      if (!a) {
        a = ctx.createAnalyser();
        a.fftSize = 8192;
        a.smoothingTimeConstant = 0;
        const mute = ctx.createGain();
        mute.gain.value = 0;
        connect.call(a, mute);
        connect.call(mute, dest);
        analysers.set(ctx, a);
      }
      connect.call(this, a);
    }
    return connect.call(this, dest, ...rest);
  };
  window.__sound = {
    // RMS of the latest analyser window and the strongest frequency.
    sample() {
      let rms = 0, peakHz = 0, peakDb = -Infinity;
      for (const a of analysers.values()) {
        const t = new Float32Array(a.fftSize);
        a.getFloatTimeDomainData(t);
        let s = 0;
        for (const v of t) s += v * v;
        rms = Math.max(rms, Math.sqrt(s / t.length));
        const f = new Float32Array(a.frequencyBinCount);
        a.getFloatFrequencyData(f);
        for (let i = 2; i < f.length; i++)
          if (f[i] > peakDb) { peakDb = f[i]; peakHz = i * a.context.sampleRate / a.fftSize; }
      }
      return { rms, peakHz, contexts: analysers.size };
    },
  };
}

function classify(text) {
  const t = text.replace(/%c/g, "").trimStart();
  if (t.startsWith("ERROR")) return "error";
  if (t.startsWith("WARN")) return "warning";
  return "info";
}

async function waitFor(page, fn, arg, ms) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await page.evaluate(fn, arg)) return true;
    await page.waitForTimeout(50);
  }
  return false;
}

async function settleAt(page, t) {
  await page.evaluate((x) => window.__clock.set(x), t);
  await waitFor(page, (x) => window.__clock.now() >= x, t, 60000);
  // A few pumps at the held time: Ruffle has run its frame and drawn it.
  const p = await page.evaluate(() => window.__clock.pumps());
  await waitFor(page, (x) => window.__clock.pumps() >= x + 4, p, 5000);
}

async function pixelsAt(page, box, points, save) {
  const png = await page.screenshot({ clip: box });
  if (save) writeFileSync(save, png);
  return page.evaluate(async ({ data, pts }) => {
    const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
    const bmp = await createImageBitmap(new Blob([bytes], { type: "image/png" }));
    const c = new OffscreenCanvas(bmp.width, bmp.height);
    const g = c.getContext("2d");
    g.drawImage(bmp, 0, 0);
    return pts.map(([x, y]) => Array.from(g.getImageData(x, y, 1, 1).data.slice(0, 3)));
  }, { data: png.toString("base64"), pts: points });
}

async function playFile(page, file, log) {
  const result = { path: file.path, loaded: false, panic: false, errors: [], warnings: [], traces: [], steps: [] };
  log.current = result;
  const url = "/movie/" + encodeURIComponent(resolve(file.path));
  const ok = await page.evaluate(async ({ url, w, h }) => {
    const stage = document.getElementById("stage");
    stage.innerHTML = "";
    window.__clock.reset();
    const player = window.RufflePlayer.newest().createPlayer();
    player.style.width = w + "px";
    player.style.height = h + "px";
    player.id = "player";
    stage.appendChild(player);
    // With software rendering Ruffle offers advice in a dialog on the first
    // mouse-over; it would cover the movie and catch the test's clicks.
    if (player.shadowRoot) {
      const style = document.createElement("style");
      style.textContent = "#hardware-acceleration-modal { display: none !important; }";
      player.shadowRoot.appendChild(style);
    }
    window.__meta = null;
    player.addEventListener("loadedmetadata", () => { window.__meta = player.ruffle().metadata; });
    try { await player.ruffle().load({ url, autoplay: "on", unmuteOverlay: "hidden", splashScreen: false }); }
    catch (e) { return "load: " + e; }
    return "ok";
  }, { url, w: file.width, h: file.height });
  if (ok !== "ok") {
    result.errors.push(ok);
    return result;
  }
  result.loaded = await waitFor(page, () => window.__meta !== null, null, 30000);
  result.metadata = await page.evaluate(() => window.__meta);
  const box = await page.evaluate(() => {
    const r = document.getElementById("player").getBoundingClientRect();
    return { x: r.x, y: r.y, width: r.width, height: r.height };
  });
  let t = 0;
  for (const step of file.steps || []) {
    if ("at" in step) {
      t = step.at;
      await settleAt(page, t);
      result.steps.push({ pixels: await pixelsAt(page, box, step.points, step.save) });
    } else if ("click" in step) {
      await page.mouse.click(box.x + step.click[0], box.y + step.click[1]);
      result.steps.push({});
    } else if ("drag" in step) {
      const [x0, y0, x1, y1] = step.drag;
      await page.mouse.move(box.x + x0, box.y + y0);
      await page.mouse.down();
      await page.mouse.move(box.x + x1, box.y + y1, { steps: 5 });
      await page.mouse.up();
      result.steps.push({});
    } else if ("realtime" in step) {
      // Plays on the wall clock until the player reports its end.
      const start = Date.now();
      await page.evaluate(() => window.__clock.real());
      while (Date.now() - start < step.realtime && !result.traces.some((x) => /played \d+ frames/.test(x)))
        await page.waitForTimeout(100);
      result.steps.push({ elapsedMs: Date.now() - start });
    } else if ("sound" in step) {
      const levels = [], peaks = [];
      const start = Date.now();
      await page.evaluate((x) => window.__clock.set(x), t + step.sound + 1000);
      while (Date.now() - start < step.sound) {
        await page.waitForTimeout(100);
        const s = await page.evaluate(() => window.__sound.sample());
        levels.push(Number(s.rms.toFixed(5)));
        if (s.rms > 0.01) peaks.push(s.peakHz);
      }
      t = await page.evaluate(() => window.__clock.now());
      peaks.sort((a, b) => a - b);
      result.steps.push({ levels, peakHz: peaks.length ? peaks[peaks.length >> 1] : 0 });
    }
  }
  result.panic = await page.evaluate(() => {
    const p = document.getElementById("player");
    // The panic screen replaces the movie with a "Something went wrong" box.
    return !!(p && ((p.shadowRoot && p.shadowRoot.querySelector("#panic")) || p.querySelector("#panic")));
  });
  return result;
}

const browser = await chromium.launch({
  executablePath: browserPath,
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
         "--autoplay-policy=no-user-gesture-required"],
});
const results = { files: [] };
try {
  const page = await browser.newPage({ viewport: { width: 1920, height: 1200 } });
  const log = { current: null };
  page.on("console", (msg) => {
    if (!log.current) return;
    const text = msg.text();
    if (/GPU stall due to ReadPixels/.test(text)) return;
    const kind = msg.type() === "error" ? "error" : classify(text);
    if (kind === "error") log.current.errors.push(text);
    else if (kind === "warning") log.current.warnings.push(text);
    else if (/avm_trace|quillet-player/.test(text)) log.current.traces.push(text);
  });
  page.on("pageerror", (e) => log.current && log.current.errors.push("page: " + e.message));
  await page.addInitScript(pageInit);
  // Nothing leaves the machine: the page, Ruffle and the movies come from
  // disk, every other request is refused.
  await page.route("**/*", async (route) => {
    const u = new URL(route.request().url());
    if (u.origin !== origin) return route.abort();
    if (u.pathname === "/") return route.fulfill({ contentType: "text/html", body: page_html });
    if (u.pathname.startsWith("/ruffle/")) {
      const f = join(ruffleDir, u.pathname.slice(8));
      if (!existsSync(f)) return route.fulfill({ status: 404, body: "" });
      const type = f.endsWith(".wasm") ? "application/wasm" : f.endsWith(".js") ? "text/javascript" : "application/octet-stream";
      return route.fulfill({ contentType: type, body: readFileSync(f) });
    }
    if (u.pathname.startsWith("/movie/")) {
      const f = decodeURIComponent(u.pathname.slice(7));
      if (!existsSync(f)) return route.fulfill({ status: 404, body: "" });
      return route.fulfill({ contentType: "application/x-shockwave-flash", body: readFileSync(f) });
    }
    return route.fulfill({ status: 404, body: "" });
  });
  await page.goto(origin + "/");
  await page.waitForFunction(() => window.RufflePlayer && window.RufflePlayer.newest, null, { timeout: 30000 });
  for (const file of job.files) {
    try {
      results.files.push(await playFile(page, file, log));
    } catch (e) {
      results.files.push({ path: file.path, loaded: false, errors: ["harness: " + e.message], warnings: [], steps: [] });
    }
    log.current = null;
  }
} finally {
  await browser.close();
}
writeFileSync(resultPath, JSON.stringify(results, null, 1));
// The same as plain lines, for callers without a JSON reader:
//   file I loaded 0|1 panic 0|1 errors N warnings N frames N
//   message I error|warning TEXT
//   pixels I STEP r g b r g b ...
//   sound I STEP PEAK_HZ level level ...
const lines = [];
results.files.forEach((f, i) => {
  const frames = f.metadata ? f.metadata.numFrames : -1;
  lines.push(`file ${i} loaded ${f.loaded ? 1 : 0} panic ${f.panic ? 1 : 0} errors ${f.errors.length} ` +
             `warnings ${f.warnings.length} frames ${frames}`);
  for (const e of f.errors) lines.push(`message ${i} error ${e.replace(/\s+/g, " ")}`);
  for (const w of f.warnings) lines.push(`message ${i} warning ${w.replace(/\s+/g, " ")}`);
  for (const t of f.traces || []) lines.push(`trace ${i} ${t.replace(/%c/g, "").replace(/\s+/g, " ")}`);
  f.steps.forEach((s, j) => {
    if (s.pixels) lines.push(`pixels ${i} ${j} ${s.pixels.flat().join(" ")}`);
    if (s.levels) lines.push(`sound ${i} ${j} ${s.peakHz.toFixed(1)} ${s.levels.join(" ")}`);
  });
});
writeFileSync(resultPath + ".txt", lines.join("\n") + "\n");
