// The session's figures.
import { api, element, post } from "/js/common.js";

// What the stream brought since the start, or the last "Nouvelle session".
export function showSession(session) {
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
