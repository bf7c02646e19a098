// The overlays for OBS: each one's address to copy, a live preview, the
// address with its key for OBS on another computer, and the goals.
import { api, copyButton, element, post } from "/js/common.js";

const overlayNames = { alerts: "Alertes", goal: "Objectif", last: "Dernier cadeau et top spectateur" };

function addressRow(label, address) {
  const row = element("li");
  const code = element("code", address);
  // Without the clipboard: selected, for Ctrl+C.
  const copy = copyButton(
    address,
    (button) => {
      getSelection().selectAllChildren(code);
      button.textContent = "Ctrl+C pour copier";
    },
    2000,
  );
  row.append(element("span", label + " : "), code, copy);
  return row;
}

let firstGoal = "";

export async function loadOverlays(goals) {
  firstGoal = goals.length ? goals[0].name : "";
  const reply = await api("/api/overlays");
  if (!reply.ok) return;
  const overlays = await reply.json();
  const withGoal = (name, address) =>
    name === "goal" && firstGoal ? address + (address.includes("?") ? "&" : "?") + "name=" + encodeURIComponent(firstGoal) : address;
  document.getElementById("overlay-addresses").replaceChildren(
    ...Object.entries(overlays.local).map(([name, address]) => addressRow(overlayNames[name], withGoal(name, address))),
  );
  document.getElementById("overlay-network").replaceChildren(
    ...overlays.network.flatMap((addresses) =>
      Object.entries(addresses).map(([name, address]) => addressRow(overlayNames[name], withGoal(name, address))),
    ),
  );
  document.getElementById("make-overlay-key").textContent = overlays.key
    ? "Changer la clé (les anciennes adresses ne marcheront plus)"
    : "Créer les adresses pour un autre ordinateur";
  for (const frame of document.querySelectorAll("#overlay-previews iframe")) {
    const wanted = withGoal(frame.dataset.overlay, "/overlay/" + frame.dataset.overlay);
    if (frame.getAttribute("src") !== wanted) frame.setAttribute("src", wanted);
  }
  showGoals(goals);
}

// The goals: each on a line, changed in place and saved all at once.
const countsNames = { coins: "pièces", likes: "likes", follows: "followers" };

function showGoals(goals) {
  document.getElementById("goals").replaceChildren(
    ...goals.map((goal) => {
      const row = element("li", goal.name + " : " + goal.target + " " + (countsNames[goal.counts] || goal.counts));
      const remove = element("button", "Supprimer");
      remove.type = "button";
      remove.addEventListener("click", () =>
        saveGoals(goals.filter((other) => other !== goal).map(({ name }) => ({ name }))),
      );
      row.append(" ", remove);
      return row;
    }),
  );
  document.getElementById("goal-form").onsubmit = (event) => {
    event.preventDefault();
    const counts = document.getElementById("goal-counts").value;
    const gift = document.getElementById("goal-gift").value.trim();
    saveGoals([
      ...goals.map(({ name }) => ({ name })),
      {
        name: document.getElementById("goal-name").value.trim(),
        counts: counts === "gift" ? "gift:" + gift : counts,
        target: Number(document.getElementById("goal-target").value),
      },
    ]);
  };
}

async function saveGoals(goals) {
  // A goal kept is sent by its name alone: the file keeps the rest of it.
  const reply = await post("/api/goals", { goals: goals.map((goal) => (goal.counts ? goal : { name: goal.name })) });
  document.getElementById("goal-result").textContent = reply.error || "Enregistré";
  if (!reply.error) document.dispatchEvent(new Event("koravel-reload"));
}

document.getElementById("make-overlay-key").addEventListener("click", async () => {
  const reply = await post("/api/overlay-key", {});
  if (reply.error) return window.alert(reply.error);
  document.dispatchEvent(new Event("koravel-reload"));
});
document.getElementById("goal-counts").addEventListener("change", () => {
  document.getElementById("goal-gift").hidden = document.getElementById("goal-counts").value !== "gift";
});
