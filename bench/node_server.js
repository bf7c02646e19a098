// The same receiver as a streamer might write it with Node.js's own http
// module: same routes, same replies, same configuration file, same console
// lines. Key presses are stood in for by their 50 ms hold, without blocking.
"use strict";
const fs = require("fs");
const http = require("http");
const https = require("https");

const port = Number(process.argv[2] || 5000);
const config = JSON.parse(fs.readFileSync("Koravel_KEY_WEBHOOK_config.json", "utf8"));
const gifts = config.gifts || {};
console.log(`Configuration chargee: ${Object.keys(gifts).length} cadeaux configures`);

function reply(res, object) {
  res.writeHead(200, { "Content-Type": "application/json" });
  res.end(JSON.stringify(object));
}

function giftNameOf(req, url, body) {
  const type = req.headers["content-type"] || "";
  if (type.includes("application/json")) return JSON.parse(body).giftName || "";
  if (url.searchParams.has("giftName")) return url.searchParams.get("giftName");
  if (type.includes("application/x-www-form-urlencoded")) {
    const form = new URLSearchParams(body);
    if (form.has("giftName")) return form.get("giftName");
  }
  return null;
}

function runGift(name, res) {
  console.log(`Cadeau recu: ${name}`);
  if (name === "") return reply(res, { error: "giftName not provided" });
  const gift = gifts[name];
  if (!gift) {
    console.log(`Cadeau non configure: ${name}`);
    return reply(res, { message: "Gift not configured" });
  }
  if (gift.action === "key") {
    setTimeout(() => {
      console.log(`Touche '${gift.target}' pressee`);
      reply(res, { message: "Key pressed successfully" });
    }, 50);
    return;
  }
  if (gift.action === "webhook") {
    https
      .get(gift.target, { timeout: 5000 }, (answer) => {
        let text = "";
        answer.on("data", (chunk) => (text += chunk));
        answer.on("end", () => reply(res, { message: "Webhook executed successfully", response: text }));
      })
      .on("error", (e) => reply(res, { error: `Webhook call failed: ${e.message}` }));
    return;
  }
  reply(res, { error: "Unknown action type" });
}

const server = http.createServer((req, res) => {
  const url = new URL(req.url, "http://localhost");
  if (url.pathname !== "/webhook") {
    res.writeHead(404);
    return res.end();
  }
  if (req.method === "OPTIONS") {
    res.writeHead(200, {
      "Access-Control-Allow-Origin": "*",
      "Access-Control-Allow-Methods": "POST, OPTIONS",
      "Access-Control-Allow-Headers": "Content-Type",
    });
    return res.end();
  }
  if (req.method !== "POST") {
    res.writeHead(404);
    return res.end();
  }
  let body = "";
  req.setEncoding("utf8");
  req.on("data", (chunk) => (body += chunk));
  req.on("end", () => {
    try {
      const name = giftNameOf(req, url, body);
      if (name === null) return reply(res, { error: "giftName parameter not found" });
      runGift(name, res);
    } catch (e) {
      reply(res, { error: e.message });
    }
  });
});
server.listen(port, "0.0.0.0", () => {
  console.log(`\n=== Serveur demarre sur le port ${port} ===`);
  console.log("En attente de webhooks...\n");
});
