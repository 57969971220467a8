"use strict";
// The technician's panel: every change goes to /api/admin/ with the token in
// the Authorization header. The token lives in this tab's sessionStorage only.
const admin = {
  token: () => document.getElementById("token").value,
  say: (text, bad) => { const s = document.getElementById("admin-said"); s.textContent = text; s.className = bad ? "error" : ""; },
  geometry: null,
};
const kKinds = ["png", "gif", "h264", "mp4", "mov", "mkv"];
function slotName(slot, file) {
  const ext = file.name.split(".").pop().toLowerCase();
  if (!kKinds.includes(ext)) return null;
  return String(slot).padStart(3, "0") + "." + ext;
}
function request(method, path, body, onProgress) {
  return new Promise((resolve) => {
    const x = new XMLHttpRequest();
    x.open(method, path);
    x.setRequestHeader("Authorization", "Bearer " + admin.token());
    if (onProgress) x.upload.onprogress = (e) => { if (e.lengthComputable) onProgress(e.loaded / e.total); };
    x.onload = () => resolve({status: x.status, text: x.responseText});
    x.onerror = () => resolve({status: 0, text: "no answer"});
    x.send(body === undefined ? null : body);
  });
}
async function upload(slot, file) {
  const name = slotName(slot, file);
  if (name === null) return admin.say("not a kind a slot takes: " + file.name, true);
  const bar = document.getElementById("upload-progress");
  bar.value = 0;
  const path = document.getElementById("to-rig").checked ? "/api/admin/rig/textures/" : "/api/admin/textures/";
  const r = await request("PUT", path + name, file, (f) => { bar.value = f; });
  admin.say(r.status === 201 ? "stored " + name : name + ": " + r.text, r.status !== 201);
}
async function remove(file) {
  if (!confirm("Delete " + file + " from the node?")) return;
  const r = await request("DELETE", "/api/admin/textures/" + file.split("/").pop());
  admin.say(r.status === 204 ? "deleted " + file : file + ": " + r.text, r.status !== 204);
}
// Every slot row (made anew each second) takes a dropped file and has its delete button.
function decorateSlots() {
  if (!admin.token()) return;
  for (const row of document.querySelectorAll("#slots tbody tr")) {
    if (row.dataset.admin) continue;
    row.dataset.admin = "1";
    const slot = Number(row.id.slice(5));
    row.addEventListener("dragover", (e) => { e.preventDefault(); row.classList.add("drop"); });
    row.addEventListener("dragleave", () => row.classList.remove("drop"));
    row.addEventListener("drop", (e) => { e.preventDefault(); row.classList.remove("drop"); if (e.dataTransfer.files[0]) upload(slot, e.dataTransfer.files[0]); });
    const button = document.createElement("button");
    button.textContent = "delete";
    const file = row.cells[3].textContent;
    button.addEventListener("click", () => remove(file));
    row.insertCell().appendChild(button);
  }
}
async function putGeometry(change) {
  const r = await request("PUT", "/api/admin/geometry", JSON.stringify(change));
  if (r.status === 200) { admin.geometry = JSON.parse(r.text); admin.say("geometry applied"); showGeometry(); }
  else admin.say("geometry: " + r.text, true);
}
async function loadGeometry() {
  const r = await request("GET", "/api/admin/geometry");
  if (r.status !== 200) return admin.say(r.status === 404 ? "no admin API on this node" : r.text, true);
  admin.geometry = JSON.parse(r.text);
  admin.say("token accepted");
  loadSettings();
  showGeometry();
}
function showGeometry() {
  const g = admin.geometry, img = document.getElementById("warp-preview"), c = document.getElementById("warp-handles");
  if (!g) return;
  for (const side of ["left", "right", "top", "bottom"]) document.getElementById("blend-" + side).value = g["BLEND_" + side.toUpperCase()];
  document.getElementById("test-pattern").checked = g.TEST_PATTERN;
  c.width = img.clientWidth; c.height = img.clientHeight;
  const d = c.getContext("2d");
  d.clearRect(0, 0, c.width, c.height);
  d.strokeStyle = "#6af"; d.fillStyle = "#6af"; d.beginPath();
  g.WARP.forEach(([x, y], i) => (i ? d.lineTo : d.moveTo).call(d, x * c.width, y * c.height));
  d.closePath(); d.stroke();
  for (const [x, y] of g.WARP) d.fillRect(x * c.width - 6, y * c.height - 6, 12, 12);
}
function dragCorners() {
  const c = document.getElementById("warp-handles");
  let held = -1;
  const at = (e) => { const b = c.getBoundingClientRect(); return [Math.min(1, Math.max(0, (e.clientX - b.left) / b.width)), Math.min(1, Math.max(0, (e.clientY - b.top) / b.height))]; };
  c.addEventListener("pointerdown", (e) => {
    if (!admin.geometry) return;
    const [x, y] = at(e);
    let best = 0.08;
    admin.geometry.WARP.forEach(([cx, cy], i) => { const d = Math.hypot(cx - x, cy - y); if (d < best) { best = d; held = i; } });
    if (held >= 0) c.setPointerCapture(e.pointerId);
  });
  c.addEventListener("pointermove", (e) => { if (held >= 0) { admin.geometry.WARP[held] = at(e); showGeometry(); } });
  c.addEventListener("pointerup", () => { if (held >= 0) putGeometry({WARP: admin.geometry.WARP}); held = -1; });
}
// The addressing the desk may change too (with RDM=1 or REMOTE_CONFIG=1 only).
async function loadSettings() {
  const form = document.getElementById("settings");
  const r = await request("GET", "/api/admin/settings");
  form.hidden = r.status !== 200;
  if (r.status === 200) for (const [key, value] of Object.entries(JSON.parse(r.text))) if (form.elements[key]) form.elements[key].value = value;
}
async function saveSettings(e) {
  e.preventDefault();
  const change = {};
  for (const input of e.target.elements) if (input.name) change[input.name] = input.type === "number" ? Number(input.value) : input.value;
  const r = await request("PUT", "/api/admin/settings", JSON.stringify(change));
  admin.say(r.status === 200 ? "settings saved" : "settings: " + r.text, r.status !== 200);
}
// The other nodes heard; asking lets this node poll where no desk does.
async function showRig() {
  if (!admin.token()) return;
  const r = await request("GET", "/api/admin/rig");
  if (r.status !== 200) return;
  const table = document.getElementById("rig"); table.textContent = "";
  for (const node of JSON.parse(r.text)) {
    const row = table.insertRow(); cell(row, node.name); cell(row, node.long_name);
    const a = document.createElement("a"); a.href = node.page; a.textContent = node.address; row.insertCell().appendChild(a);
  }
  if (!table.rows.length) cell(table.insertRow(), "no other Spectrafox node heard yet");
  const sent = await request("GET", "/api/admin/rig/uploads");
  const uploads = document.getElementById("rig-uploads"); uploads.textContent = "";
  if (sent.status === 200)
    for (const n of JSON.parse(sent.text)) {
      const row = uploads.insertRow(); cell(row, n.name); cell(row, Math.round(n.fraction * 100) + " %");
      cell(row, !n.done ? "sending" : n.status === 201 ? "stored" : n.error || "refused (" + n.status + ")", n.done && n.status !== 201 ? "error" : "");
    }
}
function wireAdmin() {
  const token = document.getElementById("token");
  token.value = sessionStorage.getItem("spectrafox-token") || "";
  document.getElementById("token-form").addEventListener("submit", (e) => e.preventDefault());
  token.addEventListener("change", () => { sessionStorage.setItem("spectrafox-token", token.value); loadGeometry(); });
  document.getElementById("upload-file").addEventListener("change", (e) => {
    if (e.target.files[0]) upload(Number(document.getElementById("upload-slot").value), e.target.files[0]);
  });
  for (const side of ["left", "right", "top", "bottom"])
    document.getElementById("blend-" + side).addEventListener("change", (e) => putGeometry({["BLEND_" + side.toUpperCase()]: Number(e.target.value)}));
  document.getElementById("test-pattern").addEventListener("change", (e) => putGeometry({TEST_PATTERN: e.target.checked}));
  document.getElementById("warp-preview").addEventListener("load", showGeometry);
  dragCorners();
  new MutationObserver(decorateSlots).observe(document.querySelector("#slots tbody"), {childList: true});
  setInterval(() => { if (admin.token()) document.getElementById("warp-preview").src = "/preview.png?t=" + Date.now(); }, 2000);
  document.getElementById("settings").addEventListener("submit", saveSettings);
  setInterval(showRig, 2000);
  if (token.value) loadGeometry();
}
wireAdmin();
