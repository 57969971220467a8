"use strict";
// Drives a page in headless chromium over --remote-debugging-pipe, step by
// step, for end-to-end tests: node page_driver.js CHROMIUM PROFILE URL STEPS.json
// Steps: {"eval": js} | {"waitFor": js} (up to 15 s) | {"setFiles": selector,
// "files": [paths]} | {"drag": selector, "from": [fx, fy], "to": [fx, fy]}
// (fractions of the element's box). Prints "ok" and exits 0, or the step
// that failed and exits 1. The whole run is bounded by 60 s.
const {spawn} = require("child_process");
const [chromium, profile, url, stepsFile] = process.argv.slice(2);
const steps = JSON.parse(require("fs").readFileSync(stepsFile, "utf8"));
const browser = spawn(chromium, ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
  "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"], {stdio: ["ignore", "ignore", "ignore", "pipe", "pipe"]});
const toBrowser = browser.stdio[3], fromBrowser = browser.stdio[4];
let nextId = 1, session, buffered = "";
const waiting = new Map();
fromBrowser.on("data", (chunk) => {
  buffered += chunk.toString();
  for (let end; (end = buffered.indexOf("\0")) >= 0; buffered = buffered.slice(end + 1)) {
    const message = JSON.parse(buffered.slice(0, end));
    if (message.id && waiting.has(message.id)) { waiting.get(message.id)(message); waiting.delete(message.id); }
  }
});
function send(method, params = {}) {
  const id = nextId++;
  toBrowser.write(JSON.stringify({id, method, params, sessionId: session}) + "\0");
  return new Promise((resolve, reject) => waiting.set(id, (m) => (m.error ? reject(new Error(method + ": " + m.error.message)) : resolve(m.result))));
}
async function evaluate(expression) {
  const r = await send("Runtime.evaluate", {expression, awaitPromise: true, returnByValue: true});
  if (r.exceptionDetails) throw new Error(expression + ": " + (r.exceptionDetails.exception || {}).description);
  return r.result.value;
}
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
async function step(s) {
  if (s.eval) return evaluate(s.eval);
  if (s.waitFor) {
    for (let t = 0; t < 150; ++t, await pause(100)) if (await evaluate(s.waitFor)) return;
    throw new Error("never true: " + s.waitFor + " (" + (await evaluate("document.body.innerText")).slice(-300) + ")");
  }
  if (s.setFiles) {
    const {root} = await send("DOM.getDocument");
    const {nodeId} = await send("DOM.querySelector", {nodeId: root.nodeId, selector: s.setFiles});
    return send("DOM.setFileInputFiles", {nodeId, files: s.files});
  }
  const box = await evaluate(`(() => { const e = document.querySelector(${JSON.stringify(s.drag)}); e.scrollIntoView(); const b = e.getBoundingClientRect(); return [b.left, b.top, b.width, b.height]; })()`);
  const at = ([fx, fy]) => ({x: box[0] + fx * box[2], y: box[1] + fy * box[3]});
  await send("Input.dispatchMouseEvent", {type: "mousePressed", ...at(s.from), button: "left", buttons: 1, clickCount: 1});
  await send("Input.dispatchMouseEvent", {type: "mouseMoved", ...at(s.to), button: "left", buttons: 1});
  await send("Input.dispatchMouseEvent", {type: "mouseReleased", ...at(s.to), button: "left", buttons: 0, clickCount: 1});
}
async function run() {
  const {targetId} = await send("Target.createTarget", {url});
  session = (await send("Target.attachToTarget", {targetId, flatten: true})).sessionId;
  for (const [i, s] of steps.entries()) {
    try { await step(s); } catch (e) { throw new Error("step " + i + ": " + e.message); }
  }
}
const limit = setTimeout(() => { console.log("failed: 60 s passed"); browser.kill("SIGKILL"); process.exit(1); }, 60000);
run().then(() => { console.log("ok"); return 0; }, (e) => { console.log("failed: " + e.message); return 1; })
  .then((code) => { clearTimeout(limit); browser.kill("SIGKILL"); process.exit(code); });
