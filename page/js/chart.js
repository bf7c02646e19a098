// The chart of gifts per minute over the last hour: one bar a minute, the
// latest on the right, scaled to the busiest minute, with its axes labelled.
const svg = "http://www.w3.org/2000/svg";
const width = 640, height = 180, left = 36, bottom = 22, top = 8;

function node(tag, attributes, text) {
  const made = document.createElementNS(svg, tag);
  for (const [name, value] of Object.entries(attributes)) made.setAttribute(name, value);
  if (text !== undefined) made.textContent = text;
  return made;
}

export function showChart(perMinute) {
  const chart = document.getElementById("chart");
  const most = Math.max(1, ...perMinute);
  const plotHeight = height - bottom - top;
  const step = (width - left) / perMinute.length;
  const bars = perMinute.map((count, minute) => {
    const barHeight = Math.round((count / most) * plotHeight);
    const bar = node("rect", { x: left + minute * step + 1, y: top + plotHeight - barHeight, width: Math.max(1, step - 2), height: barHeight });
    bar.append(node("title", {}, count + " cadeau(x), il y a " + (perMinute.length - 1 - minute) + " min"));
    return bar;
  });
  const axes = [
    node("line", { class: "axis", x1: left, y1: top, x2: left, y2: top + plotHeight }),
    node("line", { class: "axis", x1: left, y1: top + plotHeight, x2: width, y2: top + plotHeight }),
    node("text", { x: left - 6, y: top + 10, "text-anchor": "end" }, String(most)),
    node("text", { x: left - 6, y: top + plotHeight, "text-anchor": "end" }, "0"),
    node("text", { x: left, y: height - 4 }, "il y a 60 min"),
    node("text", { x: left + (width - left) / 2, y: height - 4, "text-anchor": "middle" }, "30 min"),
    node("text", { x: width, y: height - 4, "text-anchor": "end" }, "maintenant"),
  ];
  chart.replaceChildren(...bars, ...axes);
  const total = perMinute.reduce((sum, count) => sum + count, 0);
  document.getElementById("chart-caption").textContent =
    "Cadeaux par minute, sur la dernière heure : " + total + " en tout, " + Math.max(...perMinute) + " au plus en une minute";
}
