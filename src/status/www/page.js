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
