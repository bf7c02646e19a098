// One of the file's goals, named in the address (?name=...), as its count
// grows.
import { follow } from "/overlay/stream.js";

const wanted = new URLSearchParams(location.search).get("name") || "";
const name = document.getElementById("goal-name");
const numbers = document.getElementById("goal-numbers");
const filled = document.getElementById("goal-filled");
name.textContent = wanted;

follow((message) => {
  if (message.type !== "state") return;
  const goal = (message.goals || []).find((each) => each.name === wanted);
  if (!goal) {
    name.textContent = `Objectif introuvable : ${wanted}`;
    numbers.textContent = "";
    filled.style.width = "0";
    return;
  }
  name.textContent = goal.name;
  numbers.textContent = `${Math.min(goal.count, goal.target)} / ${goal.target}`;
  filled.style.width = `${Math.min(100, (100 * goal.count) / goal.target)}%`;
});
