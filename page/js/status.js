// The status line, the relay's addresses, the secret and the account token.
import { api, copyButton, element, post } from "/js/common.js";
import { load } from "/js/main.js";

export function showStatus(state) {
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

export function showRelay(state) {
  const list = document.getElementById("relay");
  list.replaceChildren();
  for (const address of state.relay) {
    const copy = copyButton(address, (button) => (button.textContent = "Sélectionnez l'adresse et copiez-la"));
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
