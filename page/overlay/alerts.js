// One card per alert, each for its seconds, one after the other in the
// order the gifts came; at most 50 wait, the oldest waiting dropped beyond.
import { follow, imageAddress } from "/overlay/stream.js";

const mostWaiting = 50;
const waiting = [];
let dropped = 0;
let showing = false;

const card = document.getElementById("alert");
const text = document.getElementById("alert-text");
const image = document.getElementById("alert-image");
const droppedLine = document.getElementById("dropped");

function showNext() {
  const alert = waiting.shift();
  if (!alert) {
    card.hidden = true;
    showing = false;
    return;
  }
  showing = true;
  // Names from the stream are text, never markup.
  text.textContent = alert.text;
  image.hidden = !alert.image;
  if (alert.image) image.src = imageAddress(alert.image);
  card.hidden = false;
  setTimeout(showNext, Math.min(30, Math.max(1, alert.seconds || 5)) * 1000);
}

follow((message) => {
  if (message.type !== "alert") return;
  waiting.push(message);
  if (waiting.length > mostWaiting) {
    waiting.shift();
    dropped += 1;
    droppedLine.textContent = `${dropped} alerte${dropped > 1 ? "s" : ""} non montree${dropped > 1 ? "s" : ""}`;
    droppedLine.hidden = false;
  }
  if (!showing) showNext();
});
