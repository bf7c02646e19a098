// The live feed and the relay's requests.
import { api, element, sleep } from "/js/common.js";
import { load } from "/js/main.js";
import { ruleNames } from "/js/rules.js";

// The feed: the latest gifts first, each with what became of it.
const feedKept = 200;
const feedGifts = new Map();
const failures = new Set(["already-counted", "not-configured", "on-cooldown", "refused", "sound-not-found", "sound-failed",
  "sound-too-late", "sound-skipped", "key-unsupported", "key-failed", "key-queue-full", "key-above-this-program", "key-wrong-window",
  "call-failed"]);
let stateDue = null;

function feedRow(step) {
  const row = element("li");
  row.dataset.gift = step.gift;
  const time = new Date(step.time).toLocaleTimeString("fr-FR");
  const source = step.source === "test" ? "test" : "relais";
  let who = step.viewer ? "de " + step.viewer : "";
  if (step.count !== undefined) who = (who + " ×" + step.count).trim();
  const feedNames = { ...ruleNames, like: "Likes", chat: "Chat", unknown: "Évènement" };
  const name = step.event && step.event !== "gift" ? feedNames[step.event] + (step.event === "chat" ? " " + step.name : "")
    : step.name;
  row.dataset.event = step.event || "gift";
  row.append(element("span", time), element("strong", name), element("span", who, "viewer"),
    element("span", source, "source-" + step.source), element("span", "", "outcome"));
  return row;
}

function showSteps(steps) {
  const list = document.getElementById("feed");
  for (const step of steps) {
    if (step.kind === "config") continue;  // the gifts are read anew below
    let gift = feedGifts.get(step.gift);
    if (!gift) {
      gift = { row: feedRow(step), outcomes: [] };
      feedGifts.set(step.gift, gift);
      list.prepend(gift.row);
    }
    if (step.kind !== "received" && step.line) {
      gift.outcomes.push(step.line + (step.window && step.kind === "key-pressed" ? " — " + step.window : ""));
      const outcome = gift.row.querySelector(".outcome");
      outcome.textContent = gift.outcomes.join(" · ");
      if (failures.has(step.kind)) outcome.classList.add("failed");
    }
  }
  for (const [id, gift] of feedGifts) {
    if (feedGifts.size <= feedKept) break;
    gift.row.remove();
    feedGifts.delete(id);
  }
  // The counts follow, once a burst has passed; a changed file at once.
  clearTimeout(requestsDue);
  requestsDue = setTimeout(loadRequests, 500);
  clearTimeout(stateDue);
  stateDue = setTimeout(load, steps.some((step) => step.kind === "config") ? 0 : 1000);
}

export async function follow() {
  const state = document.getElementById("feed-state");
  let after = 0;
  for (;;) {
    try {
      const reply = await api("/api/feed?after=" + after);
      if (!reply.ok) throw new Error(await reply.text());
      const batch = await reply.json();
      if (batch.next < after) {
        // The program started again: its steps are all new.
        feedGifts.clear();
        document.getElementById("feed").replaceChildren();
      }
      after = batch.next;
      state.textContent = "Chaque cadeau s'affiche ici dès qu'il arrive.";
      if (batch.steps.length > 0) showSteps(batch.steps);
    } catch (error) {
      state.textContent = "Connexion au programme perdue (" + error.message + ") ; nouvel essai…";
      await sleep(2000);
    }
  }
}

// What the relay sent: when a gift does not fire, what it sent and what was
// read of it says why.
function readOf(read) {
  if (!read) return "aucun cadeau lu";
  if (read.event) {
    const said = ["évènement « " + read.event + " »"];
    if (read.viewer !== undefined) said.push("de " + read.viewer);
    if (read.text !== undefined) said.push("message « " + read.text + " »");
    if (read.likes !== undefined) said.push(read.likes + " like(s)");
    if (read.totalLikes !== undefined) said.push("total " + read.totalLikes);
    return said.join(", ");
  }
  const parts = ["« " + read.name + " »"];
  if (read.count !== undefined) parts.push("nombre " + read.count);
  if (read.viewer !== undefined) parts.push("de " + read.viewer + (read.nickname ? " (" + read.nickname + ")" : ""));
  if (read.streak !== undefined) parts.push("série " + read.streak);
  if (read.streakEnd) parts.push("fin de série");
  if (read.msgId !== undefined) parts.push("id " + read.msgId);
  parts.push(read.alreadyCounted ? "déjà compté" : read.gifts + " cadeau(x)");
  return parts.join(", ");
}

export async function loadRequests() {
  try {
    const reply = await api("/api/requests");
    if (!reply.ok) throw new Error(await reply.text());
    const requests = await reply.json();
    document.querySelector("#requests tbody").replaceChildren(...requests.map((request) => {
      const row = element("tr");
      const sent = element("td");
      sent.append(element("strong", request.method + " " + (request.type || "(sans type)")));
      const fields = request.fields.map(([name, value]) => name + "=" + value).join("&");
      if (fields) sent.append(element("pre", fields));
      if (request.body) sent.append(element("pre", request.body));
      row.append(element("td", new Date(request.time).toLocaleTimeString("fr-FR")), sent,
        element("td", readOf(request.read), "read"), element("td", request.reply, "reply"));
      return row;
    }));
  } catch {
    // the panel keeps what it showed
  }
}

let requestsDue = null;
document.getElementById("refresh-requests").addEventListener("click", loadRequests);
