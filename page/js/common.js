// What every part of the page uses: the program's calls, with the page's
// token, and text made harmless.

const pageToken = document.querySelector('meta[name="page-token"]').content;

// What the network named is shown as it is, but for the marks that would
// reverse or split the line around it.
export function harmless(text) {
  return String(text).replace(/[\u202A-\u202E\u2066-\u2069\u2028\u2029]/g, "?");
}

export function element(tag, text, className) {
  const made = document.createElement(tag);
  if (text !== undefined) made.textContent = harmless(text);
  if (className) made.className = className;
  return made;
}

// Every call of the page's carries the page's token. A refusal means the
// page is older than the program (started again since): a fresh page gets
// the new token.
export async function api(path, options = {}) {
  const reply = await fetch(path, {
    cache: "no-store", ...options, headers: { ...(options.headers || {}), "X-Page-Token": pageToken },
  });
  if (reply.status === 403) {
    const last = Number(sessionStorage.getItem("reloaded") || 0);
    if (Date.now() - last > 10000) {
      sessionStorage.setItem("reloaded", String(Date.now()));
      location.reload();
    }
  }
  return reply;
}

export function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}
export async function post(path, body) {
  const reply = await api(path, {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body),
  });
  const text = await reply.text();
  try {
    return JSON.parse(text);
  } catch {
    return { error: text };
  }
}

// A button that copies `text`; `refused(button)` says what to do when the
// browser keeps the clipboard (an OBS dock may), and `resetAfter` ms, when
// given, puts its label back.
export function copyButton(text, refused, resetAfter) {
  const copy = element("button", "Copier");
  copy.type = "button";
  copy.addEventListener("click", async () => {
    try {
      await navigator.clipboard.writeText(text);
      copy.textContent = "Copié";
    } catch {
      refused(copy);
    }
    if (resetAfter) setTimeout(() => (copy.textContent = "Copier"), resetAfter);
  });
  return copy;
}
