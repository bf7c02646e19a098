// Where sounds go.
import { api, element, post } from "/js/common.js";

// Where sounds go: the system's devices, each to be heard, and the one chosen.
export async function loadDevices() {
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
