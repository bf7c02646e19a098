// The control page: what the program holds (GET /api/state), its parts,
// each in a module of its own, and a test of each gift (POST /api/test, with
// the token the program wrote into the page).
import { showChart } from "/js/chart.js";
import { api } from "/js/common.js";
import { follow, loadRequests } from "/js/feed.js";
import { showGifts } from "/js/rules.js";
import { showSession } from "/js/session.js";
import { loadDevices } from "/js/sounds.js";
import { showRelay, showStatus } from "/js/status.js";
import { loadOverlays } from "/js/overlays.js";

export async function load() {
  try {
    const reply = await api("/api/state");
    if (!reply.ok) throw new Error(await reply.text());
    const state = await reply.json();
    showStatus(state);
    showRelay(state);
    showGifts(state);
    showChart(state.perMinute);
    showSession(await (await api("/api/session")).json());
    await loadOverlays(state.goals || []);
  } catch (error) {
    document.getElementById("status").textContent = "Le programme ne répond pas : " + error.message;
  }
}

window.addEventListener("focus", load);
document.addEventListener("koravel-reload", load);
load();
loadDevices();
loadRequests();
follow();
