import { addressesText, addressText, getJson, h, longTime, messagePath, request, sizeText } from "./dom.js";

const RawShownBytes = 1 << 20; // more of a raw source than this is read as the .eml download
const Tabs = [
  ["html", "HTML"], ["text", "Text"], ["headers", "Headers"], ["raw", "Raw source"],
  ["attachments", "Attachments"], ["structure", "Structure"],
];

// One message as its recipient would read it: the envelope apart from the decoded header, then
// its parts in tabs. Its HTML is a sandboxed frame whose document the server serves with a
// policy that runs no script and loads nothing from elsewhere unless asked to.
export class MessageView {
  constructor(pane, { onBack, onDelete }) {
    this.pane = pane;
    this.onBack = onBack;
    this.onDelete = onDelete;
    this.tab = "html";
    this.token = 0;
    this.id = null;
  }

  clear() {
    this.token++;
    this.id = null;
    this.pane.replaceChildren(h("p", { class: "empty" }, "Choose a message to read it."));
  }

  async show(id) {
    const token = ++this.token;
    const [summary, envelope] = await Promise.all([getJson(messagePath(id)), getJson(`${messagePath(id)}/envelope`)]);
    if (token !== this.token) return null;
    this.id = summary.ID;
    this.summary = summary;
    this.loaded = {};
    this.render(summary, envelope);
    return summary;
  }

  render(m, envelope) {
    const path = messagePath(m.ID);
    const available = {
      html: Boolean(m.HTML), text: Boolean(m.Text) || !m.HTML, headers: true, raw: true,
      attachments: true, structure: true,
    };
    // Stepping keeps the attachments or the structure in view; a body tab shows the body there is.
    if (this.tab === "html" || this.tab === "text") this.tab = m.HTML ? "html" : "text";
    if (!available[this.tab]) this.tab = "text";
    const tabs = Tabs.filter(([name]) => available[name]);
    const tablist = h("div", { role: "tablist", "aria-label": "Parts of the message", onkeydown: (e) => this.tabKey(e) },
      tabs.map(([name, caption]) => h("button", {
        type: "button", role: "tab", id: `tab-${name}`, "aria-controls": `panel-${name}`,
        "aria-selected": String(name === this.tab), tabindex: name === this.tab ? "0" : "-1",
        onclick: () => this.choose(name),
      }, name === "attachments" ? `${caption} (${(m.Attachments || []).length})` : caption)));
    this.panels = Object.fromEntries(tabs.map(([name]) => [name, h("div", {
      role: "tabpanel", id: `panel-${name}`, "aria-labelledby": `tab-${name}`, tabindex: "0", hidden: name !== this.tab,
      class: `panel panel-${name}`,
    })]));
    this.pane.replaceChildren(
      h("div", { class: "message-tools" },
        h("button", { type: "button", class: "back", onclick: () => this.onBack() }, "Back to the messages"),
        h("a", { href: `${path}/raw`, download: `message-${m.ID}.eml` }, "Download .eml"),
        h("button", { type: "button", class: "danger", onclick: () => this.onDelete(m.ID) }, "Delete")),
      h("h2", { id: "message-subject", tabindex: "-1" }, m.Subject || "(no subject)"),
      h("div", { class: "facts" },
        facts("Envelope (from the SMTP dialogue)", [
          ["Sender:", envelope.From], ["Recipients:", envelope.To.join(", ")],
          ["Login:", envelope.Username], ["Received:", longTime(envelope.Received)]]),
        facts("Header", [
          ["From:", addressText(m.From)], ["To:", addressesText(m.To)], ["Cc:", addressesText(m.Cc)],
          ["Bcc:", addressesText(m.Bcc)], ["Reply-To:", addressesText(m.ReplyTo)], ["Subject:", m.Subject],
          ["Date:", m.Date ? longTime(m.Date) : ""]])),
      tablist, ...Object.values(this.panels));
    this.fill(this.tab);
  }

  choose(name, focus = false) {
    this.tab = name;
    for (const tab of this.pane.querySelectorAll("[role=tab]")) {
      const chosen = tab.id === `tab-${name}`;
      tab.setAttribute("aria-selected", String(chosen));
      tab.tabIndex = chosen ? 0 : -1;
      if (chosen && focus) tab.focus();
    }
    for (const [panel, element] of Object.entries(this.panels)) element.hidden = panel !== name;
    this.fill(name);
  }

  tabKey(event) {
    const tabs = [...this.pane.querySelectorAll("[role=tab]")];
    const at = tabs.indexOf(document.activeElement);
    const to = { ArrowRight: at + 1, ArrowLeft: at - 1, Home: 0, End: tabs.length - 1 }[event.key];
    if (to === undefined || at < 0) return;
    event.preventDefault();
    event.stopPropagation();
    this.choose(tabs[(to + tabs.length) % tabs.length].id.slice(4), true);
  }

  // A panel is filled when first shown: the raw source of a large message is not read unasked.
  fill(name) {
    if (this.loaded[name]) return;
    this.loaded[name] = true;
    const panel = this.panels[name], m = this.summary, path = messagePath(m.ID), token = this.token;
    const later = (promise, build) => promise.then((value) => {
      if (token === this.token) panel.replaceChildren(...[build(value)].flat());
    }).catch((error) => { if (token === this.token) panel.replaceChildren(h("p", { class: "problem" }, error.message)); });
    if (name === "html") panel.replaceChildren(...this.htmlFrame(false));
    if (name === "text") panel.replaceChildren(h("pre", { class: "body-text" }, m.Text));
    if (name === "headers") later(getJson(`${path}/headers`), headerTable);
    if (name === "raw") later(request(`${path}/raw`).then((r) => r.text()), (raw) => [
      raw.length > RawShownBytes ? h("p", {}, "Only the start is shown here: download the .eml for all of it.") : "",
      h("pre", { class: "raw" }, raw.slice(0, RawShownBytes))]);
    if (name === "attachments") panel.replaceChildren(attachmentTable(m, path));
    if (name === "structure") later(getJson(`${path}/structure`), (root) => h("ul", { class: "tree" }, partItem(root)));
  }

  htmlFrame(remote) {
    const view = `/view/${encodeURIComponent(this.summary.ID)}.html${remote ? "?remote=1" : ""}`;
    const button = h("button", {
      type: "button", "aria-pressed": String(remote), disabled: remote,
      title: "Fetch pictures and style sheets from the network for this message only.",
      onclick: () => this.panels.html.replaceChildren(...this.htmlFrame(true)),
    }, "Load remote content");
    return [
      h("div", { class: "html-tools" }, button, remote ? "" : h("span", { class: "note" }, "Remote content was not loaded.")),
      // No allow-scripts and no allow-same-origin: the mail's document can neither run nor reach
      // this page; a link may only open a new page of its own.
      h("iframe", {
        src: view, title: "The message's HTML", sandbox: "allow-popups allow-popups-to-escape-sandbox",
        referrerpolicy: "no-referrer", class: "html-body",
      }),
    ];
  }
}

function facts(title, rows) {
  const id = `facts-${title.split(" ")[0].toLowerCase()}`;
  return h("section", { "aria-labelledby": id },
    h("h3", { id }, title),
    h("dl", {}, rows.filter(([, value]) => value).map(([name, value]) => [h("dt", {}, name), h("dd", {}, value)])));
}

function headerTable(headers) {
  const names = Object.keys(headers).sort((a, b) => a.localeCompare(b));
  return h("table", { class: "headers" },
    h("caption", { class: "visually-hidden" }, "Every header field, decoded"),
    h("thead", {}, h("tr", {}, h("th", { scope: "col" }, "Field"), h("th", { scope: "col" }, "Value"))),
    h("tbody", {}, names.flatMap((name) => headers[name].map((value) =>
      h("tr", {}, h("th", { scope: "row" }, name), h("td", {}, value))))));
}

function attachmentTable(m, path) {
  const parts = [...(m.Attachments || []).map((p) => [p, "attachment"]), ...(m.Inline || []).map((p) => [p, "inline"])];
  if (!parts.length) return h("p", {}, "The message has no attachments.");
  return h("table", { class: "attachments" },
    h("caption", { class: "visually-hidden" }, "Attachments and inline parts"),
    h("thead", {}, h("tr", {}, ["Name", "Type", "Size", "Kind"].map((c) => h("th", { scope: "col" }, c)))),
    h("tbody", {}, parts.map(([part, kind]) => h("tr", {},
      h("td", {}, h("a", {
        href: `${path}/part/${encodeURIComponent(part.PartID)}`, download: part.FileName || `part-${part.PartID}`,
      }, part.FileName || `part ${part.PartID}`)),
      h("td", {}, part.ContentType), h("td", {}, sizeText(part.Size)), h("td", {}, kind)))));
}

function partItem(part) {
  const details = [part.Charset, part.TransferEncoding, sizeText(part.Size), part.FileName && `“${part.FileName}”`]
    .filter(Boolean).join(", ");
  return h("li", {}, h("span", { class: "type" }, part.ContentType || "text/plain"), details ? ` — ${details}` : "",
    part.Parts.length ? h("ul", {}, part.Parts.map(partItem)) : "");
}
