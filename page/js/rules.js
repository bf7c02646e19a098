// The gifts' and the events' rules, each with what it does and its test.
import { api, element, harmless, post, sleep } from "/js/common.js";
import { openEditor, removeGift } from "/js/editor.js";
import { load } from "/js/main.js";

let shownGifts = "";
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
export const ruleNames = { follow: "Nouveau follower", share: "Partage", subscribe: "Abonnement", join: "Arrivée" };

export function eventLabel(event) {
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

export function showGifts(state) {
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
