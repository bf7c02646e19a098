// The form that changes a rule.
import { api, element, harmless, post, sleep } from "/js/common.js";
import { load } from "/js/main.js";
import { eventLabel } from "/js/rules.js";

// Changing the gifts: the program checks each value as it checks the file,
// writes the file and applies it at once.
let editing = null; // the name of the gift being changed; "" for a new one

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

// The alert's fields: the check box reads "on" whatever its state, and is
// compared by what it shows.
const alertFields = ["edit-alert", "edit-alert-text", "edit-alert-image", "edit-alert-seconds"];
for (const id of alertFields) {
  const field = document.getElementById(id);
  if (field.type === "checkbox") Object.defineProperty(field, "value", { get: () => String(field.checked) });
}

async function fillImages(current) {
  const select = document.getElementById("edit-alert-image");
  const reply = await api("/api/images");
  const images = reply.ok ? await reply.json() : [];
  if (current && !images.includes(current)) images.unshift(current);
  const option = (text, value) => Object.assign(element("option", text), { value });
  select.replaceChildren(option("(aucune image)", ""), ...images.map((image) => option(image, image)));
  select.value = current || "";
  shownValues.set("edit-alert-image", select.value);
}

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

export function openEditor(gift, newName) {
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
  const alert = gift ? gift.alert : null;
  document.getElementById("edit-alert").checked = Boolean(alert);
  document.getElementById("edit-alert-text").value = alert ? alert.text : "{viewer} offre {gift} x{count}";
  document.getElementById("edit-alert-seconds").value = alert ? alert.seconds : 5;
  fillImages(alert ? alert.image : "");
  shownValues.clear();
  showRuleFields();
  for (const id of ["edit-name", ...Object.values(editedFields), ...Object.values(extraFields), ...alertFields]) {
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
  // The alert on the stream: all of it, or none.
  if (alertFields.some(changed)) {
    gift.alert = document.getElementById("edit-alert").checked
      ? {
          text: document.getElementById("edit-alert-text").value,
          seconds: Number(document.getElementById("edit-alert-seconds").value),
          ...(document.getElementById("edit-alert-image").value
            ? { image: document.getElementById("edit-alert-image").value }
            : {}),
        }
      : null;
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

export async function removeGift(name, button) {
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
