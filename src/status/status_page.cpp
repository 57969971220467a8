#include "status/status_page.h"

namespace Spectrafox {

const std::string& statusPageHtml()
{
    static const std::string kPage = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<link rel="icon" href="data:,">
<title>Spectrafox status</title>
<style>
body{font:14px/1.4 sans-serif;margin:1em;background:#111;color:#ddd}
h1{font-size:1.3em;margin:0 0 .5em}h2{font-size:1.1em;margin:1em 0 .3em}
table{border-collapse:collapse}td,th{border:1px solid #333;padding:2px 6px;text-align:left;vertical-align:middle}
.error{color:#f66;font-weight:bold}#preview{border:1px solid #555;max-width:100%;background:#000}
img.thumb{width:48px;height:48px;object-fit:contain;background:#333;image-rendering:pixelated}
.grid{display:flex;flex-wrap:wrap;gap:2em}#stale{color:#fa0}
</style></head><body>
<h1 id="title">Spectrafox</h1><div id="stale"></div>
<div class="grid"><div><h2>Projector</h2><img id="preview" alt="what the projector shows" src="/preview.png"></div>
<div><h2>Node</h2><table id="node"></table><h2>Inputs</h2><table id="inputs"></table></div>
<div><h2>Configuration</h2><table id="config"></table></div></div>
<h2>Canvases</h2><table id="canvases"></table>
<h2>Slots</h2><table id="slots"><thead><tr><th>Slot</th><th>Picture</th><th>Kind</th><th>File</th><th>Size</th><th>State</th></tr></thead><tbody></tbody></table>
<script>
"use strict";
function cell(row, text, cls) { const td = row.insertCell(); td.textContent = text; if (cls) td.className = cls; return td; }
function pairs(id, entries) {
  const table = document.getElementById(id); table.textContent = "";
  for (const [k, v] of entries) { const r = table.insertRow(); cell(r, k); cell(r, v === null ? "-" : String(v)); }
}
function show(s) {
  document.getElementById("title").textContent = s.node.name + " " + s.node.version;
  pairs("node", [["frame rate", s.frame_rate.toFixed(1)], ["memory", (s.memory.resident_bytes / 1048576).toFixed(1) + " MiB"],
    ["up", s.node.uptime_s + " s"], ["addresses", s.addresses.map(a => a.interface + " " + a.address).join(", ")],
    ["test pattern", s.test_pattern ? "on" : "off"]]);
  const i = s.inputs;
  pairs("inputs", [["ArtDmx", i.artnet.artdmx_packets], ["ArtPoll", i.artnet.artpoll_packets],
    ["last sender", i.artnet.last_sender], ["ArtSync", i.artsync.packets + (i.artsync.holding ? " (synchronous)" : "")],
    ["sACN", i.sacn.listening ? i.sacn.packets : "off"]]);
  pairs("config", Object.entries(s.config));
  const canvases = document.getElementById("canvases"); canvases.textContent = "";
  for (const c of s.canvases) { const r = canvases.insertRow(); cell(r, "canvas " + c.canvas + " @" + c.first_channel); for (const v of c.channels) cell(r, v); }
  const body = document.querySelector("#slots tbody"); body.textContent = "";
  for (const slot of s.slots) {
    if (slot.kind === "none") continue;
    const r = body.insertRow(); r.id = "slot-" + slot.slot;
    cell(r, slot.slot);
    const pic = r.insertCell();
    if (slot.thumbnail) { const img = document.createElement("img"); img.className = "thumb"; img.src = slot.thumbnail; img.alt = ""; pic.appendChild(img); }
    cell(r, slot.kind + (slot.frames ? " (" + slot.frames + " frames)" : ""));
    cell(r, slot.file); cell(r, slot.width + " x " + slot.height);
    cell(r, slot.state, slot.error ? "error" : "");
  }
}
// A checksum of the preview's pixels, on the element: it changes when the
// projector's picture does.
function pictureSum(img) {
  const c = document.createElement("canvas"); c.width = img.naturalWidth; c.height = img.naturalHeight;
  const g = c.getContext("2d"); g.drawImage(img, 0, 0);
  let sum = 0; for (const v of g.getImageData(0, 0, c.width, c.height).data) sum = (sum * 31 + v) >>> 0;
  return sum;
}
async function refresh() {
  try {
    const reply = await fetch("/api/status", {cache: "no-store"});
    if (reply.ok) { show(await reply.json()); document.getElementById("stale").textContent = ""; }
  } catch (e) { document.getElementById("stale").textContent = "node not answering"; }
  const next = new Image();
  next.onload = () => {
    const shown = document.getElementById("preview");
    shown.src = next.src;
    shown.dataset.sum = pictureSum(next);
  };
  next.src = "/preview.png?t=" + Date.now();
}
refresh(); setInterval(refresh, 1000);
</script></body></html>
)HTML";
    return kPage;
}

} // namespace Spectrafox
