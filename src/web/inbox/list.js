import { addressesText, getJson, h, longTime, shortTime, sizeText } from "./dom.js";

const Block = 100;   // messages asked for at once
const Keep = 1500;   // messages held at most, however many the store holds
const Overscan = 6;  // rows built beyond the view on each side
const SettleMs = 400; // after a burst of changes, the view is read afresh once
// Arrivals redraw the list at most every ArrivalRedrawMs, and once mail has kept coming for
// BurstAfterMs (no gap longer than that) at most every BurstRedrawMs: a burst of thousands a
// second would otherwise rebuild the rows in view every frame, read them anew each time, and take
// the cores from the program sending it.
const ArrivalRedrawMs = 100;
const BurstAfterMs = 500;
const BurstRedrawMs = 1000;

// The messages, newest first, as a listbox that builds only the rows in view and holds only the
// messages near them. A message is keyed by its place counted from the oldest, which a new
// message does not change; a removal does, so it starts a new generation and a fresh read.
export class MessageList {
  constructor(box, { onOpen, onChange }) {
    this.box = box;
    this.rows = box.querySelector(".rows");
    this.onOpen = onOpen;
    this.onChange = onChange;
    this.query = "";
    this.count = 0;
    this.total = 0;
    this.unread = 0;
    this.items = new Map();
    this.pending = new Set();
    this.generation = 0;
    this.changes = 0;
    this.newest = 0;     // the newest id counted in count
    this.arrivals = [];  // ids told as new since, not yet counted
    this.folding = false;
    this.burstSince = 0;
    this.lastArrival = -Infinity;
    this.gone = new Set();
    this.selectedKey = -1;
    this.selectedId = null;
    this.openWhenLoaded = false;
    this.rowHeight = 0;
    this.lastRender = 0;
    this.arrivalTimer = 0;
    this.built = new Map();
    this.loaded = false;
    box.addEventListener("scroll", () => this.schedule());
    box.addEventListener("click", (event) => {
      const row = event.target.closest(".row");
      if (row) this.open(this.indexOf(Number(row.dataset.key)));
    });
    new ResizeObserver(() => { this.rowHeight = 0; this.schedule(); }).observe(box);
  }

  indexOf(key) { return this.count - 1 - key; }
  keyOf(index) { return this.count - 1 - index; }
  get selectedIndex() { return this.selectedKey < 0 ? -1 : this.indexOf(this.selectedKey); }
  itemAt(index) { return this.items.get(this.keyOf(index)); }
  indexOfId(id) {
    for (const [key, item] of this.items) if (item.ID === id) return this.indexOf(key);
    return -1;
  }
  itemOfId(id) {
    for (const item of this.items.values()) if (item.ID === id) return item;
    return undefined;
  }

  // Shows the messages that match the query ("" for all) from the top.
  search(query) {
    this.query = query;
    this.loaded = false;
    this.items.clear();
    this.arrivals = [];
    this.count = 0;
    this.selectedKey = -1;
    this.selectedId = null;
    this.box.scrollTop = 0;
    return this.refresh(true);
  }

  pagePath(start, limit) {
    const range = `start=${start}&limit=${limit}`;
    return this.query ? `/api/v1/search?query=${encodeURIComponent(this.query)}&${range}` : `/api/v1/messages?${range}`;
  }

  // Reads the rows in view afresh and forgets the rest: the answer to changes whose place in the
  // list is not known here. The whole list's counts are taken from the answer only when recount
  // is asked for (or a search is shown); otherwise the events keep them.
  async refresh(recount = false) {
    clearTimeout(this.settleTimer);
    this.settleTimer = 0;
    const generation = ++this.generation, changes = this.changes;
    this.pending.clear();
    const [first, last] = this.viewRange();
    const start = Math.max(0, first);
    const page = await getJson(this.pagePath(start, Math.min(1000, Math.max(Block, last - start + 1))));
    if (generation !== this.generation) return;
    this.items = new Map();
    this.accept(page, recount || Boolean(this.query));
    this.reselect();
    this.render();
    // Events that crossed the answer on the way may not be in it.
    if (this.changes !== changes) this.settleSoon();
  }

  settleSoon() {
    if (!this.settleTimer) this.settleTimer = setTimeout(() => this.refresh().catch(() => {}), SettleMs);
  }

  // A page of the list. Only a recount takes the newest id from it: then the page counts every
  // message up to that one, and an event of one of them must not count it again.
  accept(page, recount) {
    if (recount || !this.loaded) {
      this.count = page.messages_count;
      if (page.start === 0 && page.messages.length) this.newest = Math.max(this.newest, Number(page.messages[0].ID));
      this.arrivals = this.arrivals.filter((id) => id > this.newest);
      if (this.arrivals.length) this.scheduleArrival();
    }
    this.total = page.total + this.arrivals.length;
    this.unread = page.unread + this.arrivals.length;
    page.messages.forEach((item, i) => this.items.set(page.messages_count - 1 - page.start - i, item));
    this.loaded = true;
  }

  // A page read into the rows held, and the view drawn with it.
  show(page, recount) {
    this.accept(page, recount);
    this.prune();
    this.reselect();
    this.render();
  }

  async fetchBlock(start, limit = Block) {
    const generation = this.generation;
    this.pending.add(start);
    try {
      const page = await getJson(this.pagePath(start, limit));
      if (generation === this.generation) this.show(page, false);
    } finally {
      if (generation === this.generation) this.pending.delete(start);
    }
  }

  // The selection follows its message: by id where it is loaded.
  reselect() {
    if (this.selectedId === null) return;
    for (const [key, item] of this.items) if (item.ID === this.selectedId) { this.selectedKey = key; break; }
    if (this.selectedKey >= this.count) this.selectedKey = this.count - 1;
    const item = this.items.get(this.selectedKey);
    if (item && this.openWhenLoaded) { this.openWhenLoaded = false; this.onOpen(item); }
  }

  prune() {
    if (this.items.size <= Keep) return;
    const middle = this.keyOf(this.viewRange()[0]);
    const far = [...this.items.keys()].sort((a, b) => Math.abs(b - middle) - Math.abs(a - middle));
    for (const key of far.slice(0, this.items.size - Keep)) this.items.delete(key);
  }

  // A message arrived: the API's event stream names only its id. Arrivals are counted in the
  // list together, at most every ArrivalRedrawMs, and at the top their rows are read before they
  // are drawn: a burst costs a read of the rows in view a tick, not one a message.
  added(id) {
    const now = performance.now();
    if (now - this.lastArrival > BurstAfterMs) this.burstSince = now;
    this.lastArrival = now;
    this.changes++;
    this.total++;
    this.unread++;
    if (this.query) { this.settleSoon(); this.scheduleArrival(); return; }
    // Ids only grow: one already counted came with a page.
    if (Number(id) <= this.newest) { this.total--; this.unread--; return; }
    this.arrivals.push(Number(id));
    this.scheduleArrival();
  }

  async showArrivals() {
    if (!this.arrivals.length || this.query) return this.schedule();
    // Before the first page, arrivals wait for it: it tells which of them it counts.
    if (!this.loaded) return undefined;
    if (this.box.scrollTop > 0) {
      // Rows the reader has scrolled to stay where they are.
      const arrived = this.arrivals.length;
      this.newest = this.arrivals.at(-1);
      this.arrivals = [];
      this.count += arrived;
      // The list grows first: at its end the view could not move down with its rows.
      this.rows.style.height = `${this.count * this.measure()}px`;
      this.box.scrollTop += arrived * this.measure();
      return this.schedule();
    }
    const generation = this.generation;
    const [, bottom] = this.viewRange();
    this.folding = true;
    try {
      const page = await getJson(this.pagePath(0, Math.min(Block, bottom + Overscan + 1)));
      // A removal meanwhile reads the list afresh; the arrivals wait for the next tick.
      if (generation === this.generation) this.show(page, true);
    } finally {
      this.folding = false;
      if (this.arrivals.length) this.scheduleArrival();
    }
  }

  // A message is gone: told by the event stream, and by this page as soon as its own delete is
  // answered; whichever comes second finds nothing to do, as ids are never used again.
  removed(id) {
    if (this.gone.has(id)) return;
    if (this.gone.size > 10000) this.gone.clear();
    this.gone.add(id);
    this.changes++;
    const waiting = this.arrivals.indexOf(Number(id));
    if (waiting >= 0) {
      // Never counted in the list: only in the totals.
      this.arrivals.splice(waiting, 1);
      this.total--;
      this.unread--;
      return this.schedule();
    }
    this.generation++;
    this.pending.clear();
    const key = [...this.items].find(([, item]) => item.ID === id)?.[0];
    const gone = this.items.get(key);
    this.total--;
    if (gone && !gone.Read) this.unread--;
    if (key === undefined) {
      // Somewhere out of view: every message of the whole list is one place nearer the top.
      if (!this.query) this.count--;
      this.settleSoon();
      this.schedule();
      return;
    }
    const moved = new Map();
    for (const [k, item] of this.items) if (k !== key) moved.set(k > key ? k - 1 : k, item);
    this.items = moved;
    this.count--;
    if (this.selectedKey > key) this.selectedKey--;
    else if (this.selectedKey === key) this.selectedId = this.items.get(Math.min(key, this.count - 1))?.ID ?? null;
    if (this.selectedKey >= this.count) this.selectedKey = this.count - 1;
    this.render();
    this.settleSoon();
  }

  cleared() {
    this.changes++;
    this.generation++;
    this.items.clear();
    this.arrivals = [];
    this.count = this.total = this.unread = 0;
    this.selectedKey = -1;
    this.selectedId = null;
    this.render();
  }

  markRead(id) {
    for (const [key, item] of this.items) if (item.ID === id && !item.Read) {
      this.items.set(key, { ...item, Read: true });
      this.unread--;
      this.render();
    }
  }

  select(index, open = false) {
    if (this.count === 0) return;
    index = Math.max(0, Math.min(this.count - 1, index));
    this.selectedKey = this.keyOf(index);
    const item = this.itemAt(index);
    this.selectedId = item ? item.ID : null;
    this.openWhenLoaded = open && !item;
    this.scrollTo(index);
    this.render();
    if (open && item) this.onOpen(item);
  }

  open(index) { this.select(index, true); }
  move(delta, open = false) { this.select(this.selectedIndex < 0 ? 0 : this.selectedIndex + delta, open); }
  selectedItem() { return this.selectedKey < 0 ? undefined : this.items.get(this.selectedKey); }

  scrollTo(index) {
    const height = this.measure();
    const top = index * height, view = this.box.clientHeight;
    if (top < this.box.scrollTop) this.box.scrollTop = top;
    else if (top + height > this.box.scrollTop + view) this.box.scrollTop = top + height - view;
  }

  pageSize() { return Math.max(1, Math.floor(this.box.clientHeight / this.measure()) - 1); }

  // One row's height as the style sheet and the zoom make it.
  measure() {
    if (!this.rowHeight) {
      const probe = h("div", { class: "row", "aria-hidden": "true" }, h("span", { class: "from" }, "M"));
      this.rows.append(probe);
      this.rowHeight = probe.getBoundingClientRect().height || 72;
      probe.remove();
    }
    return this.rowHeight;
  }

  viewRange() {
    const height = this.measure();
    const first = Math.floor(this.box.scrollTop / height);
    return [first, first + Math.ceil(this.box.clientHeight / height)];
  }

  schedule() {
    if (!this.frame) this.frame = requestAnimationFrame(() => { this.frame = 0; this.render(); });
  }

  // The first arrival of a burst is shown at once, the rest together.
  scheduleArrival() {
    if (this.arrivalTimer || this.folding) return;
    const now = performance.now();
    const every = now - this.burstSince > BurstAfterMs ? BurstRedrawMs : ArrivalRedrawMs;
    const wait = Math.max(0, this.lastRender + every - now);
    this.arrivalTimer = setTimeout(() => { this.arrivalTimer = 0; this.showArrivals().catch(() => {}); }, wait);
  }

  render() {
    this.lastRender = performance.now();
    const height = this.measure();
    this.rows.style.height = `${this.count * height}px`;
    const [top, bottom] = this.viewRange();
    const first = Math.max(0, top - Overscan), last = Math.min(this.count - 1, bottom + Overscan);
    for (const [key, row] of this.built) {
      const index = this.indexOf(key);
      if (index < first || index > last) { row.remove(); this.built.delete(key); }
    }
    let missing = -1;
    for (let index = first; index <= last; index++) {
      const key = this.keyOf(index);
      const item = this.items.get(key);
      if (!item && missing < 0) missing = index;
      this.place(key, index, item, height);
    }
    const active = this.built.get(this.selectedKey);
    if (active) this.box.setAttribute("aria-activedescendant", active.id);
    else this.box.removeAttribute("aria-activedescendant");
    if (missing >= 0) {
      const start = Math.floor(missing / Block) * Block;
      // At the top, where mail arrives, only as far as the view.
      if (!this.pending.has(start)) this.fetchBlock(start, start === 0 ? Math.min(Block, last + 1) : Block).catch(() => {});
    }
    this.onChange(this);
  }

  place(key, index, item, height) {
    let row = this.built.get(key);
    const selected = key === this.selectedKey;
    if (!row || row.item !== item || row.selected !== selected) {
      const fresh = buildRow(key, item, selected);
      if (row) row.replaceWith(fresh); else this.rows.append(fresh);
      this.built.set(key, row = fresh);
    }
    row.style.transform = `translateY(${index * height}px)`;
    row.setAttribute("aria-posinset", index + 1);
    row.setAttribute("aria-setsize", this.count);
  }
}

function buildRow(key, item, selected) {
  const props = { class: "row", role: "option", id: `row-${key}`, "data-key": key, "aria-selected": String(selected) };
  if (!item) return Object.assign(h("div", props, h("span", { class: "from placeholder" }, "Loading…")), { item, selected });
  if (!item.Read) props.class += " unread";
  const recipients = addressesText([...(item.To || []), ...(item.Cc || [])]);
  const row = h("div", props,
    h("span", { class: "from" }, item.Read ? "" : h("span", { class: "visually-hidden" }, "Unread: "),
      item.From?.Name || item.From?.Address || "(no sender)"),
    h("time", { class: "when", datetime: item.Created, title: longTime(item.Created) }, shortTime(item.Created)),
    h("span", { class: "subject" }, item.Subject || "(no subject)"),
    h("span", { class: "meta" }, item.Attachments ? h("span", { class: "clip", title: `${item.Attachments} attachments` },
      h("span", { class: "visually-hidden" }, `${item.Attachments} attachments, `)) : "", sizeText(item.Size)),
    h("span", { class: "snippet" }, recipients ? `To ${recipients} — ` : "", item.Snippet || ""));
  return Object.assign(row, { item, selected });
}
