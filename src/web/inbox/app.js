import { request } from "./dom.js";
import { MessageList } from "./list.js";
import { MessageView } from "./message.js";

const $ = (id) => document.getElementById(id);
const box = $("list"), query = $("query"), pane = $("message-pane"), announcer = $("announce");
const NarrowQuery = matchMedia("(max-width: 55em)");
const ReconnectMs = [500, 1000, 2000, 5000, 10000];

const list = new MessageList(box, { onOpen: (item) => openMessage(item.ID), onChange: showCounts });
const view = new MessageView(pane, { onBack: () => closeMessage(true), onDelete: (id) => deleteOne(id) });
let firstPaint = true;

const number = new Intl.NumberFormat();
// A text changed only when it changes: each write makes the browser lay the page out again.
const setText = (element, text) => { if (element.textContent !== text) element.textContent = text; };

function showCounts() {
  const { count, total, unread } = list;
  setText($("counts"), list.query
    ? `${number.format(count)} of ${number.format(total)} messages match`
    : `${number.format(total)} messages, ${number.format(unread)} unread`);
  $("delete-results").hidden = !list.query;
  const empty = $("empty");
  empty.hidden = count > 0 || !list.loaded;
  setText(empty, list.query ? "No message matches the search." : "No messages yet: send mail to the SMTP port.");
  const title = unread ? `Quellpost (${unread} unread)` : "Quellpost";
  if (document.title !== title) document.title = title;
  if (firstPaint && list.loaded && (count === 0 || box.querySelector(".row[data-key] .subject"))) {
    firstPaint = false;
    requestAnimationFrame(() => performance.mark("list-painted"));
  }
}

function problem(error) {
  const p = $("problem");
  p.textContent = error ? error.message : "";
  p.hidden = !error;
}

// --- the message on show, named by the address's fragment so that Back works on a phone.

async function openMessage(id, fromAddress = false) {
  // One history entry for reading, however many messages are stepped through: Back leaves it.
  if (!fromAddress && location.hash !== `#${id}`) history[view.id ? "replaceState" : "pushState"]({ reading: true }, "", `#${id}`);
  document.body.dataset.view = "message";
  try {
    const summary = await view.show(id);
    if (!summary) return;
    problem(null);
    list.markRead(summary.ID);
    if (NarrowQuery.matches || document.activeElement === document.body) $("message-subject").focus();
    performance.mark("message-shown");
  } catch (error) {
    problem(error);
    closeMessage(false);
  }
}

function closeMessage(goBack) {
  if (goBack && history.state?.reading) return history.back(); // comes back through followAddress
  if (goBack && location.hash) history.replaceState(null, "", location.pathname);
  view.clear();
  document.body.dataset.view = "list";
  box.focus();
}

function followAddress() {
  const id = decodeURIComponent(location.hash.slice(1));
  if (id) openMessage(id, true);
  else if (view.id) closeMessage(false);
}
addEventListener("popstate", followAddress);

// --- deleting, always by id: the choice stands even if the list moves meanwhile.

const confirmDialog = $("confirm");
function confirmed(text) {
  $("confirm-text").textContent = text;
  confirmDialog.showModal();
  return new Promise((resolve) => {
    const done = (answer) => { confirmDialog.close(); confirmDialog.onclick = confirmDialog.oncancel = null; resolve(answer); };
    confirmDialog.onclick = (event) => { if (event.target.value) done(event.target.value === "ok"); };
    confirmDialog.oncancel = (event) => { event.preventDefault(); done(false); };
  });
}

async function act(work) {
  try { await work(); problem(null); } catch (error) { problem(error); }
}

function deleteOne(id) {
  const index = list.indexOfId(id);
  return act(async () => {
    await request("/api/v1/messages", { method: "DELETE", headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ IDs: [id] }) });
    list.removed(id);
    // The message that takes its place is shown next, as when stepping.
    if (view.id !== id) return;
    if (list.count === 0) closeMessage(true);
    else list.open(Math.min(Math.max(index, 0), list.count - 1));
  });
}

$("delete-all").addEventListener("click", async () => {
  if (await confirmed(`Delete all ${list.total.toLocaleString()} messages?`))
    act(() => request("/api/v1/messages", { method: "DELETE" }));
});
$("delete-results").addEventListener("click", async () => {
  if (await confirmed(`Delete the ${list.count.toLocaleString()} messages that match “${list.query}”?`))
    act(() => request(`/api/v1/search?query=${encodeURIComponent(list.query)}`, { method: "DELETE" }));
});

// --- search

$("search").addEventListener("submit", (event) => {
  event.preventDefault();
  act(() => list.search(query.value.trim()));
});
query.addEventListener("input", () => { if (!query.value && list.query) act(() => list.search("")); });

// --- keys: the list's own, and those that work anywhere but in a field

box.addEventListener("keydown", (event) => {
  const page = list.pageSize();
  const moves = { ArrowDown: 1, ArrowUp: -1, j: 1, k: -1, PageDown: page, PageUp: -page };
  if (event.key in moves) list.move(moves[event.key]);
  else if (event.key === "Home") list.select(0);
  else if (event.key === "End") list.select(list.count - 1);
  else if (event.key === "Enter" && list.selectedIndex >= 0) list.open(list.selectedIndex);
  else if (event.key === "Delete" && list.selectedItem()) deleteOne(list.selectedItem().ID);
  else return;
  event.preventDefault();
  event.stopPropagation();
});

addEventListener("keydown", (event) => {
  if (event.ctrlKey || event.metaKey || event.altKey || event.target.closest("input, textarea, select, dialog")) {
    if (event.key === "Escape" && event.target === query) box.focus();
    return;
  }
  if (event.key === "/") query.focus();
  else if (event.key === "j" || event.key === "k") list.move(event.key === "j" ? 1 : -1, Boolean(view.id));
  else if (event.key === "Delete" && view.id) deleteOne(view.id);
  else if (event.key === "Escape" && view.id) closeMessage(true);
  else return;
  event.preventDefault();
});

// --- live: the API's event stream, followed again after a break with the list read afresh

// New mail is announced a second after it came, when the list has read it: by its sender and
// subject when it came alone and is listed, else by its count.
let pendingNews = [];
function announce(id) {
  pendingNews.push(id);
  if (pendingNews.length > 1) return;
  setTimeout(() => {
    const first = pendingNews.length === 1 ? list.itemOfId(pendingNews[0]) : undefined;
    announcer.textContent = first
      ? `New message from ${first.From?.Name || first.From?.Address || "unknown sender"}: ${first.Subject || "(no subject)"}`
      : pendingNews.length === 1 ? "New message" : `${pendingNews.length} new messages`;
    pendingNews = [];
  }, 1000);
}

function follow(attempt = 0) {
  const state = $("connection");
  // Batched: the events of a burst come in one message, an array; a browser pays far more for
  // each message than for its bytes. Brief: a new message's event names only its id, as the
  // list reads the rows it shows.
  const socket = new WebSocket(`${location.protocol === "https:" ? "wss:" : "ws:"}//${location.host}/api/events?batch=1&brief=1`);
  socket.onopen = () => {
    state.dataset.state = "live";
    state.textContent = "Live";
    if (attempt > 0) act(() => list.refresh(true));
    attempt = 0;
  };
  socket.onmessage = (message) => {
    const events = JSON.parse(message.data);
    for (const event of Array.isArray(events) ? events : [events]) {
      if (event.Type === "new") { list.added(event.Data.ID); announce(event.Data.ID); }
      else if (event.Type === "delete") list.removed(event.Data.ID);
      else if (event.Type === "truncate") { list.cleared(); if (view.id) closeMessage(true); }
    }
  };
  socket.onclose = () => {
    state.dataset.state = "offline";
    state.textContent = "Reconnecting…";
    setTimeout(() => follow(attempt + 1), ReconnectMs[Math.min(attempt, ReconnectMs.length - 1)]);
  };
}

act(() => list.search(""));
follow();
followAddress();
