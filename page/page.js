"use strict";
// The control page: what the program holds (GET /api/state), and a test of
// each gift (POST /api/test, with the token the program wrote into the page).

const pageToken = document.querySelector('meta[name="page-token"]').content;
let shownGifts = "";

// What the network named is shown as it is, but for the marks that would
// reverse or split the line around it.
function harmless(text) {
  return String(text).replace(/[\u202A-\u202E\u2066-\u2069\u2028\u2029]/g, "?");
}

function element(tag, text, className) {
  const made = document.createElement(tag);
  if (text !== undefined) made.textContent = harmless(text);
  if (className) made.className = className;
  return made;
}

function whatItDoes(gift) {
  if (gift.action === "key") {
    let text = "Touche " + gift.target;
    if (gift.hold !== 50) text += ", tenue " + gift.hold + " ms";
    if (gift.repeat > 1) text += ", " + gift.repeat + " fois";
    if (gift.window) text += ", seulement dans « " + gift.window + " »" + (gift.windowOfFile ? " (pour tous)" : "");
    return text;
  }
  if (gift.action === "webhook") return "Appel web " + gift.target;
  if (gift.action === "sound") return "Son seulement";
  return "Action « " + gift.action + " »";
}

const soundModes = { queue: ", chacun son tour", replace: ", remplace le précédent", skip: ", pas deux à la fois" };

function soundOf(gift) {
  if (!gift.sound) return "—";
  return gift.sound + " (volume " + gift.volume + " %" + (soundModes[gift.soundMode] || "") +
    (gift.soundSeconds !== 10 ? ", " + gift.soundSeconds + " s au plus" : "") + ")";
}

function cooldownOf(gift) {
  return gift.cooldown > 0 ? gift.cooldown / 1000 + " s" : "—";
}

function showStatus(state) {
  const problem = document.getElementById("config-problem");
  problem.hidden = !state.configProblem;
  problem.textContent = state.configProblem
    ? "Le fichier de configuration modifié ne se charge pas ; les cadeaux restent ceux d'avant. " + state.configProblem
    : "";
  const status = document.getElementById("status");
  status.replaceChildren(
    "Version " + state.version + " · port " + state.port + " · " + state.received +
      " cadeau(x) reçu(s) depuis le démarrage",
  );
  if (state.keys) status.append(element("span", "Les touches ne pourront pas être pressées : " + state.keys, "problem"));
  if (state.sounds) status.append(element("span", "Les sons ne pourront pas être joués : " + state.sounds, "problem"));
  if (state.aboveThisProgram) {
    status.append(element("span", "La fenêtre active, " + state.aboveThisProgram + ", tourne en administrateur : " +
      "Windows ne lui transmet pas les touches de ce programme. Fermez ce programme et relancez-le en administrateur " +
      "(clic droit, « Exécuter en tant qu'administrateur »).", "problem"));
  }
  for (const span of status.querySelectorAll("span")) span.before(document.createElement("br"));
}

function showRelay(state) {
  const list = document.getElementById("relay");
  list.replaceChildren();
  for (const address of state.relay) {
    const copy = element("button", "Copier");
    copy.type = "button";
    copy.addEventListener("click", async () => {
      try {
        await navigator.clipboard.writeText(address);
        copy.textContent = "Copié";
      } catch {
        copy.textContent = "Sélectionnez l'adresse et copiez-la";
      }
    });
    const item = element("li");
    item.append(element("code", address), copy);
    list.append(item);
  }
  document.getElementById("token-shown").textContent = state.token;
  const secret = document.getElementById("secret");
  secret.textContent = state.secret
    ? "Le secret est activé : chaque requête de l'outil doit le porter."
    : "Pas de secret : toute page web que vous ouvrez peut envoyer des cadeaux à cette adresse et lire les réponses.";
  secret.classList.toggle("problem", !state.secret);
  document.getElementById("make-secret").hidden = state.secret;
  document.getElementById("show-secret").hidden = !state.secret;
}

function showSecret(reply) {
  if (reply.error) {
    document.getElementById("secret").textContent = reply.error;
    return;
  }
  document.getElementById("secret-addresses").replaceChildren(
    ...reply.relay.map((address) => element("li", address)));
  document.getElementById("secret-header").textContent = reply.header + ": " + reply.secret;
  document.getElementById("secret-relay").hidden = false;
  load();
}

// Every call of the page's carries the page's token. A refusal means the
// page is older than the program (started again since): a fresh page gets
// the new token.
async function api(path, options = {}) {
  const reply = await fetch(path, {
    cache: "no-store", ...options, headers: { ...(options.headers || {}), "X-Page-Token": pageToken },
  });
  if (reply.status === 403) {
    const last = Number(sessionStorage.getItem("reloaded") || 0);
    if (Date.now() - last > 10000) {
      sessionStorage.setItem("reloaded", String(Date.now()));
      location.reload();
    }
  }
  return reply;
}

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

async function runTest(name, button, result) {
  const field = document.getElementById("countdown");
  const seconds = Math.min(10, Math.max(0, Math.floor(Number(field.value) || 0)));
  field.value = seconds;
  button.disabled = true;
  for (let left = seconds; left > 0; --left) {
    button.textContent = "Dans " + left + " s…";
    await sleep(1000);
  }
  button.textContent = "Envoi…";
  const streakField = document.getElementById("streak");
  const streak = Math.min(100, Math.max(1, Math.floor(Number(streakField.value) || 1)));
  streakField.value = streak;
  try {
    // A streak goes as the live sends it: one event per gift, the total so
    // far in each, from one viewer of the test's own.
    const viewer = "test-" + Date.now();
    let ran = 0;
    let body = null;
    for (let total = 1; total <= streak; ++total) {
      const frame = streak === 1 ? { giftName: name }
        : { giftName: name, uniqueId: viewer, nickname: "Test", repeatCount: total, repeatEnd: total === streak };
      const reply = await api("/api/test", {
        method: "POST",
        headers: { "Content-Type": "application/json" },
        body: JSON.stringify(frame),
      });
      if (!reply.ok) throw new Error(await reply.text());
      body = await reply.json();
      ran += body.count || 0;
      if (body.error) break;
    }
    result.textContent = body.error ? "Erreur : " + body.error : body.message;
    if (body.window) result.textContent += " — dans la fenêtre " + body.window;
    if (streak > 1) result.textContent += " (" + ran + " cadeau(x) sur " + streak + ")";
  } catch (error) {
    result.textContent = "Pas de réponse du programme : " + error.message;
  }
  button.textContent = "Tester";
  button.disabled = false;
  load();
}

function giftRow(gift) {
  const row = element("tr");
  row.dataset.gift = gift.name;
  const name = element("td");
  name.append(element("strong", gift.name));
  if (gift.problem) name.append(element("span", "⚠ " + gift.problem, "problem"));
  name.append(element("span", "", "last-press"));
  const test = element("td");
  const button = element("button", "Tester");
  button.type = "button";
  button.setAttribute("aria-label", "Tester " + gift.name);
  const result = element("span", "", "result");
  result.setAttribute("aria-live", "polite");
  button.addEventListener("click", () => runTest(gift.name, button, result));
  test.append(button, result);
  const change = element("td");
  const edit = element("button", "Modifier");
  edit.type = "button";
  edit.setAttribute("aria-label", "Modifier " + gift.name);
  edit.addEventListener("click", () => openEditor(gift));
  const remove = element("button", "Supprimer");
  remove.type = "button";
  remove.setAttribute("aria-label", "Supprimer " + gift.name);
  remove.addEventListener("click", () => removeGift(gift.name, remove));
  change.append(edit, " ", remove);
  row.append(name, element("td", whatItDoes(gift)), element("td", soundOf(gift)), element("td", cooldownOf(gift)),
    element("td", String(gift.runs), "runs"), test, change);
  return row;
}

// The events' rules, beside the gifts: what each is called on the page, and
// the request a relay would send for it.
const ruleNames = { follow: "Nouveau follower", share: "Partage", subscribe: "Abonnement", join: "Arrivée" };

function eventLabel(event) {
  if (event.rule === "likes") return "Likes, tous les " + event.every;
  if (event.rule === "chat") return "Commande « " + event.key + " »";
  if (event.rule === "giftTiers") return "Tout cadeau d'au moins " + event.minCoins + " pièces";
  return ruleNames[event.rule];
}

function eventRequest(event, typed) {
  const viewer = { uniqueId: "test-" + Date.now(), nickname: "Test" };
  if (event.rule === "likes") return { event: "like", likeCount: event.every, ...viewer };
  if (event.rule === "chat") return { event: "chat", comment: typed, ...viewer };
  if (event.rule === "giftTiers") {
    return { giftName: "Test " + event.minCoins + " pièces", diamondCount: event.minCoins, repeatCount: 1, ...viewer };
  }
  return { event: event.rule, ...viewer };
}

async function runEventTest(event, button, result, typed) {
  button.disabled = true;
  try {
    const body = await post("/api/test", eventRequest(event, typed ? typed.value : ""));
    result.textContent = body.error ? "Erreur : " + body.error : body.message;
    if (body.window) result.textContent += " — dans la fenêtre " + body.window;
  } catch (error) {
    result.textContent = "Pas de réponse du programme : " + error.message;
  }
  button.disabled = false;
  load();
}

function eventRow(event) {
  const row = element("tr");
  row.dataset.rule = event.rule + ":" + event.key;
  const name = element("td");
  name.append(element("strong", eventLabel(event)));
  if (event.problem) name.append(element("span", "⚠ " + event.problem, "problem"));
  const test = element("td");
  const button = element("button", "Tester");
  button.type = "button";
  button.setAttribute("aria-label", "Tester " + eventLabel(event));
  const result = element("span", "", "result");
  result.setAttribute("aria-live", "polite");
  let typed = null;
  if (event.rule === "chat") {
    typed = Object.assign(element("input"), { value: "je veux un " + event.key, className: "chat-message" });
    typed.setAttribute("aria-label", "Message du test de " + event.key);
    test.append(typed, " ");
  }
  button.addEventListener("click", () => runEventTest(event, button, result, typed));
  test.append(button, result);
  const change = element("td");
  const edit = element("button", "Modifier");
  edit.type = "button";
  edit.setAttribute("aria-label", "Modifier " + eventLabel(event));
  edit.addEventListener("click", () => openEditor(event));
  const remove = element("button", "Supprimer");
  remove.type = "button";
  remove.setAttribute("aria-label", "Supprimer " + eventLabel(event));
  remove.addEventListener("click", async () => {
    if (!window.confirm("Supprimer « " + eventLabel(event) + " » du fichier ?")) return;
    const reply = await post("/api/event/remove", { rule: event.rule, key: event.key });
    if (reply.error) window.alert(reply.error);
    load();
  });
  change.append(edit, " ", remove);
  row.append(name, element("td", whatItDoes(event)), element("td", soundOf(event)), element("td", cooldownOf(event)),
    element("td", String(event.runs), "runs"), test, change);
  return row;
}

function showGifts(state) {
  const body = document.querySelector("#gifts tbody");
  // Rows are made again only when the gifts change: a test under way keeps its button.
  const gifts = JSON.stringify([...state.gifts, ...state.events].map(({ runs, lastPress, ...settings }) => settings));
  if (gifts !== shownGifts) {
    shownGifts = gifts;
    body.replaceChildren(...state.gifts.map(giftRow), ...state.events.map(eventRow));
  }
  for (const event of state.events) {
    const row = [...body.rows].find((r) => r.dataset.rule === event.rule + ":" + event.key);
    row.querySelector(".runs").textContent = String(event.runs);
  }
  for (const gift of state.gifts) {
    const row = [...body.rows].find((r) => r.dataset.gift === gift.name);
    row.querySelector(".runs").textContent = String(gift.runs);
    const last = gift.lastPress;
    const press = row.querySelector(".last-press");
    press.textContent = !last || !gift.window ? ""
      : harmless((last.hadFocus ? "Dernier appui dans " : "Dernier appui refusé : la fenêtre active était ") +
        (last.window || "aucune"));
    press.classList.toggle("problem", Boolean(last && !last.hadFocus));
  }
  document.getElementById("no-gifts").hidden = state.gifts.length + state.events.length > 0;
  const list = document.getElementById("unconfigured");
  list.replaceChildren(...state.unconfigured.map((gift) => {
    const item = element("li");
    const add = element("button", "Ajouter");
    add.type = "button";
    add.setAttribute("aria-label", "Ajouter " + gift.name);
    add.addEventListener("click", () => openEditor(null, gift.name));
    item.append(element("strong", gift.name), element("span", gift.count + " reçu(s)"), add);
    return item;
  }));
  document.getElementById("unconfigured-section").hidden = state.unconfigured.length === 0;
}

// Gifts per minute over the last hour: one bar a minute, the latest on the
// right, scaled to the busiest minute.
function showChart(perMinute) {
  const chart = document.getElementById("chart");
  const most = Math.max(1, ...perMinute);
  const bars = perMinute.map((count, minute) => {
    const bar = document.createElementNS("http://www.w3.org/2000/svg", "rect");
    const height = Math.round((count / most) * 80);
    for (const [name, value] of [["x", minute * 10 + 1], ["y", 90 - height], ["width", 8], ["height", height]]) {
      bar.setAttribute(name, value);
    }
    const title = document.createElementNS("http://www.w3.org/2000/svg", "title");
    title.textContent = count + " cadeau(x), il y a " + (59 - minute) + " min";
    bar.append(title);
    return bar;
  });
  chart.replaceChildren(...bars);
  const total = perMinute.reduce((sum, count) => sum + count, 0);
  document.getElementById("chart-caption").textContent =
    "Cadeaux par minute, sur la dernière heure : " + total + " en tout, " + Math.max(...perMinute) + " au plus en une minute";
}

async function load() {
  try {
    const reply = await api("/api/state");
    if (!reply.ok) throw new Error(await reply.text());
    const state = await reply.json();
    showStatus(state);
    showRelay(state);
    showGifts(state);
    showChart(state.perMinute);
    showSession(await (await api("/api/session")).json());
  } catch (error) {
    document.getElementById("status").textContent = "Le programme ne répond pas : " + error.message;
  }
}

// What the stream brought since the start, or the last "Nouvelle session".
function showSession(session) {
  const figures = [["Pièces", session.coins], ["Likes", session.likes], ["Followers", session.follows],
    ["Partages", session.shares], ["Abonnements", session.subscriptions],
    ["Cadeaux", Object.entries(session.gifts).map(([name, count]) => name + " ×" + count).join(", ") || "—"]];
  document.getElementById("session").replaceChildren(...figures.flatMap(([label, value]) =>
    [element("dt", label), Object.assign(element("dd", String(value)), { id: "session-" + label.toLowerCase() })]));
  document.getElementById("top-viewers").replaceChildren(...session.topViewers.map((top) =>
    element("li", top.viewer + " : " + top.coins + " pièces")));
}

document.getElementById("new-session").addEventListener("click", async () => {
  showSession(await post("/api/session/new", {}));
});

// Changing the gifts: the program checks each value as it checks the file,
// writes the file and applies it at once.
let editing = null; // the name of the gift being changed; "" for a new one

async function post(path, body) {
  const reply = await api(path, {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body),
  });
  const text = await reply.text();
  try {
    return JSON.parse(text);
  } catch {
    return { error: text };
  }
}

async function fillSounds(current) {
  const select = document.getElementById("edit-sound");
  let sounds = [];
  try {
    sounds = await (await api("/api/sounds")).json();
  } catch {
    // the list stays empty; the current sound is still offered
  }
  if (current && !sounds.includes(current)) sounds.unshift(current);
  // An option's value is its text with blanks run together unless it is set.
  const option = (text, value) => Object.assign(element("option", text), { value });
  select.replaceChildren(option("(aucun son)", ""), ...sounds.map((sound) => option(sound, sound)));
  select.value = current || "";
  shownValues.set("edit-sound", select.value);
}

// What each field showed when the form opened: a field left as it was sends
// nothing, so that a value it cannot hold (a line break in a name, a volume
// written true) stays as the file has it.
const shownValues = new Map();
const editedFields = { action: "edit-action", target: "edit-target", sound: "edit-sound", volume: "edit-volume",
  soundMode: "edit-soundMode", soundSeconds: "edit-soundSeconds", hold: "edit-hold", repeat: "edit-repeat", cooldown: "edit-cooldown", window: "edit-window" };

const extraFields = { every: "edit-every", viewerCooldown: "edit-viewerCooldown", minCoins: "edit-minCoins" };
let editingRule = null; // the event's rule being changed: {rule, key}; null for a gift or a new rule

// The fields that belong to the rule chosen, and what its name field means.
function showRuleFields() {
  const rule = document.getElementById("edit-rule").value;
  for (const field of document.querySelectorAll("#editor [data-rule]")) field.hidden = field.dataset.rule !== rule;
  const named = rule === "gift" || rule === "chat";
  document.getElementById("edit-name").hidden = !named;
  document.getElementById("edit-name-label").hidden = !named;
  document.getElementById("edit-name-label").textContent = rule === "chat" ? "Commande (« !saut »)" : "Nom exact du cadeau";
}
document.getElementById("edit-rule").addEventListener("change", showRuleFields);

function openEditor(gift, newName) {
  editing = gift ? (gift.rule ? "rule:" + gift.rule + ":" + gift.key : gift.name) : "";
  editingRule = gift && gift.rule ? { rule: gift.rule, key: gift.key } : null;
  const rule = document.getElementById("edit-rule");
  rule.value = editingRule ? editingRule.rule : newName === undefined && gift === undefined ? "follow" : "gift";
  rule.disabled = Boolean(gift);
  document.getElementById("edit-every").value = gift && gift.every ? gift.every : 100;
  document.getElementById("edit-viewerCooldown").value = gift && gift.viewerCooldown ? gift.viewerCooldown : 0;
  document.getElementById("edit-minCoins").value = gift && gift.minCoins ? gift.minCoins : 100;
  const form = document.getElementById("editor");
  const value = (name, fallback) => (gift ? gift[name] : fallback);
  document.getElementById("editor-title").textContent =
    harmless(gift ? "Modifier « " + (gift.rule ? eventLabel(gift) : gift.name) + " »"
      : gift === undefined ? "Nouvel évènement" : "Nouveau cadeau");
  document.getElementById("edit-name").value = gift && gift.rule ? gift.key : value("name", newName || "");
  document.getElementById("edit-action").value = value("action", "key");
  // A web address whole, its token as ***, which the program puts back.
  document.getElementById("edit-target").value = value("address", "");
  document.getElementById("edit-volume").value = value("volume", 100);
  document.getElementById("edit-soundMode").value = value("soundMode", "overlap");
  document.getElementById("edit-soundSeconds").value = value("soundSeconds", 10);
  document.getElementById("edit-hold").value = value("hold", 50);
  document.getElementById("edit-repeat").value = value("repeat", 1);
  document.getElementById("edit-cooldown").value = value("cooldown", 0);
  document.getElementById("edit-window").value = value("window", "");
  shownValues.clear();
  showRuleFields();
  for (const id of ["edit-name", ...Object.values(editedFields), ...Object.values(extraFields)]) {
    shownValues.set(id, document.getElementById(id).value);
  }
  showRefusal("");
  fillSounds(value("sound", ""));
  form.hidden = false;
  document.getElementById("edit-name").focus();
}

function showRefusal(reason) {
  for (const error of document.querySelectorAll(".field-error")) error.textContent = "";
  const general = document.getElementById("editor-error");
  general.textContent = "";
  if (!reason) return;
  // The program's reasons name the member in quotes: "volume", "hold"...
  const field = [...document.querySelectorAll(".field-error")].find((error) =>
    reason.includes('"' + error.dataset.for + '"'));
  (field || general).textContent = reason;
}

async function saveGift(event) {
  event.preventDefault();
  const changed = (id) => editing === "" || document.getElementById(id).value !== shownValues.get(id);
  const gift = {};
  for (const [member, id] of Object.entries(editedFields)) {
    if (!changed(id)) continue;
    const text = document.getElementById(id).value;
    const numeric = !["action", "target", "sound", "soundMode", "window"].includes(member);
    gift[member] = numeric ? (text.trim() === "" ? null : Number(text.trim())) : text;
  }
  const rule = document.getElementById("edit-rule").value;
  let reply;
  if (rule === "gift") {
    reply = await post("/api/gift", {
      original: editing,
      name: changed("edit-name") ? document.getElementById("edit-name").value : editing,
      gift,
    });
  } else {
    for (const [member, id] of Object.entries(extraFields)) {
      const field = document.getElementById(id);
      if (field.closest("[data-rule]").dataset.rule === rule && changed(id)) {
        gift[member] = field.value.trim() === "" ? null : Number(field.value.trim());
      }
    }
    const original = editingRule ? editingRule.key : "";
    const key = rule === "chat" && changed("edit-name") ? document.getElementById("edit-name").value : original;
    reply = await post("/api/event", { rule, original, key, members: gift });
  }
  if (reply.error) return showRefusal(reply.error);
  document.getElementById("editor").hidden = true;
  load();
}

async function removeGift(name, button) {
  if (!window.confirm("Supprimer le cadeau « " + name + " » du fichier ?")) return;
  button.disabled = true;
  const reply = await post("/api/gift/remove", { name });
  button.disabled = false;
  if (reply.error) window.alert(reply.error);
  load();
}

// A key as the program names it: "ctrl+shift+f1", "numpad9", "left"...
function keyName(event) {
  const code = event.code;
  const named = {
    Space: "space", Enter: "enter", NumpadEnter: "enter", Tab: "tab", Escape: "escape", Backspace: "backspace",
    Delete: "delete", Insert: "insert", Home: "home", End: "end", PageUp: "pageup", PageDown: "pagedown",
    ArrowUp: "up", ArrowDown: "down", ArrowLeft: "left", ArrowRight: "right",
  };
  const match = /^(?:Key([A-Z])|Digit(\d)|Numpad(\d)|F(\d{1,2}))$/.exec(code);
  let key = named[code];
  if (match) key = match[1] ? match[1].toLowerCase() : match[2] || (match[3] ? "numpad" + match[3] : "f" + match[4]);
  if (!key) return null;
  const modifiers = [];
  if (event.ctrlKey) modifiers.push("ctrl");
  if (event.shiftKey) modifiers.push("shift");
  if (event.altKey) modifiers.push("alt");
  if (event.metaKey) modifiers.push("win");
  return [...modifiers, key].join("+");
}

function captureKey() {
  const button = document.getElementById("capture-key");
  button.textContent = "Pressez la touche ou la combinaison…";
  const listener = (event) => {
    if (["Control", "Shift", "Alt", "Meta", "OS"].includes(event.key)) return; // the chord is not complete yet
    event.preventDefault();
    event.stopPropagation();
    const name = keyName(event);
    if (!name) return; // a key the program cannot press: wait for another
    document.getElementById("edit-target").value = name;
    document.getElementById("edit-action").value = "key";
    button.textContent = "Presser la touche…";
    window.removeEventListener("keydown", listener, true);
  };
  window.addEventListener("keydown", listener, true);
}

// The window rule from the window the streamer brings to the front: its
// program's file name, or else its title.
async function chooseWindow() {
  const button = document.getElementById("choose-window");
  button.disabled = true;
  for (let left = 5; left > 0; --left) {
    button.textContent = "Cliquez dans la fenêtre du jeu… " + left + " s";
    await sleep(1000);
  }
  try {
    const { window: found } = await (await api("/api/focus")).json();
    const name = found ? found.program || found.kind || found.title : "";
    if (name) document.getElementById("edit-window").value = name;
    showRefusal(name ? "" : "Aucune fenêtre n'avait le focus : recommencez.");
  } catch (error) {
    showRefusal("Pas de réponse du programme : " + error.message);
  }
  button.textContent = "Choisir la fenêtre";
  button.disabled = false;
}

document.getElementById("editor").addEventListener("submit", saveGift);
document.getElementById("choose-window").addEventListener("click", chooseWindow);
document.getElementById("make-secret").addEventListener("click", async () => showSecret(await post("/api/secret", {})));
document.getElementById("show-secret").addEventListener("click", async () => {
  try {
    showSecret(await (await api("/api/secret")).json());
  } catch (error) {
    showSecret({ error: "Pas de réponse du programme : " + error.message });
  }
});
document.getElementById("token-form").addEventListener("submit", async (event) => {
  event.preventDefault();
  const field = document.getElementById("new-token");
  const reply = await post("/api/token", { token: field.value.trim() });
  document.getElementById("token-result").textContent = reply.error || "Token remplacé.";
  if (!reply.error) field.value = "";
  load();
});
document.getElementById("cancel-edit").addEventListener("click", () => (document.getElementById("editor").hidden = true));
document.getElementById("add-gift").addEventListener("click", () => openEditor(null));
document.getElementById("add-event").addEventListener("click", () => openEditor());
document.getElementById("capture-key").addEventListener("click", captureKey);
document.getElementById("preview-sound").addEventListener("click", async () => {
  const sound = document.getElementById("edit-sound").value;
  if (!sound) return;
  const reply = await post("/api/preview", { sound, volume: Number(document.getElementById("edit-volume").value) });
  if (reply.error) showRefusal(reply.error);
});

// Where sounds go: the system's devices, each to be heard, and the one chosen.
async function loadDevices() {
  let listed = { devices: [], chosen: "" };
  try {
    listed = await (await api("/api/sound-devices")).json();
  } catch {
    // the list stays as it was
  }
  const devices = ["", ...listed.devices];
  if (listed.chosen && !listed.devices.includes(listed.chosen)) devices.push(listed.chosen);
  document.getElementById("sound-devices").replaceChildren(...devices.map((device) => {
    const item = element("li");
    const label = element("label");
    const radio = Object.assign(document.createElement("input"), { type: "radio", name: "sound-device", value: device });
    radio.checked = device === listed.chosen;
    const absent = device && !listed.devices.includes(device) ? " (absente : les sons vont sur la sortie par défaut)" : "";
    label.append(radio, " ", element("span", (device || "Sortie par défaut du système") + absent));
    const hear = element("button", "Écouter");
    hear.type = "button";
    hear.setAttribute("aria-label", "Écouter " + (device || "la sortie par défaut"));
    hear.addEventListener("click", async () => {
      const reply = await post("/api/sound-device/test", { device });
      document.getElementById("device-result").textContent = reply.error || "";
    });
    item.append(label, " ", hear);
    return item;
  }));
}

document.getElementById("save-device").addEventListener("click", async () => {
  const chosen = document.querySelector('input[name="sound-device"]:checked');
  const reply = await post("/api/sound-device", { device: chosen ? chosen.value : "" });
  document.getElementById("device-result").textContent = reply.error || "Sortie enregistrée.";
  loadDevices();
});
document.getElementById("stop-sounds").addEventListener("click", async () => {
  const reply = await post("/api/sounds/stop", {});
  document.getElementById("stop-result").textContent =
    reply.error || (reply.stopped === 1 ? "1 son coupé." : reply.stopped + " sons coupés.");
});

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

async function follow() {
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

async function loadRequests() {
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
window.addEventListener("focus", load);
load();
loadDevices();
loadRequests();
follow();
