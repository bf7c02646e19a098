// The session's last gift and its top viewer, a line each.
import { follow } from "/overlay/stream.js";

const lastGift = document.getElementById("last-gift");
const topViewer = document.getElementById("top-viewer");

follow((message) => {
  if (message.type !== "state") return;
  const last = message.last;
  lastGift.textContent = last ? `Dernier cadeau : ${last.viewer || "un spectateur"} - ${last.gift} x${last.count}` : "";
  const top = message.top;
  topViewer.textContent = top ? `Top : ${top.viewer} (${top.coins} pieces)` : "";
});
