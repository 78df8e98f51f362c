// Drives Quellpost with the published client, unchanged. Prints each JSON answer as a line
// {"schema": name, "body": answer} for the caller to check against the OpenAPI file.
import assert from "node:assert/strict";
import { MailpitClient } from "mailpit-api";

const api = new MailpitClient(process.argv[2]);
const seen = (schema, body) => { console.log(JSON.stringify({ schema, body })); return body; };

const list = seen("MessagesPage", await api.listMessages());
assert.equal(list.total, 3);
assert.deepEqual(list.messages.map((m) => m.Subject), ["Café menu", "Reset your password", "Welcome"]);

const latest = seen("Message", await api.getMessageSummary());
assert.equal(latest.Subject, "Café menu");
assert.match(latest.Text, /crème brûlée/);

const reset = seen("Message", await api.getMessageSummary(list.messages[1].ID));
assert.deepEqual(reset.From, { Name: "Alice", Address: "alice@example.com" });
assert.match(reset.HTML, /<a href="https:\/\/example.com\/reset\?token=42">/);
assert.equal(reset.Attachments.length, 1);
const file = reset.Attachments[0];
assert.equal(file.FileName, "terms.pdf");
const blob = await api.getMessageAttachment(reset.ID, file.PartID);
assert.equal(blob.type, "application/pdf");
assert.equal(Buffer.from(await blob.arrayBuffer()).toString(), "%PDF-1.4 terms");

const headers = seen("Headers", await api.getMessageHeaders(reset.ID));
assert.deepEqual(headers.Subject, ["Reset your password"]);
assert.match(await api.getMessageSource(reset.ID), /^Subject: Reset your password\r$/m);

for (const [query, subjects] of [
  ["subject:reset", ["Reset your password"]],
  ["from:alice", ["Reset your password"]],
  ["to:carol@example.org", ["Welcome"]],
  ["brûlée", ["Café menu"]],
  ["welcome -from:alice", ["Welcome"]],
  ['subject:"your password"', ["Reset your password"]],
]) {
  const found = seen("MessagesPage", await api.searchMessages({ query }));
  assert.deepEqual(found.messages.map((m) => m.Subject), subjects, query);
}

const waited = seen("Message", await api.waitForMessage({ query: "subject:welcome" }, { timeout: 2000 }));
assert.equal(waited.Subject, "Welcome");

await api.deleteMessages({ IDs: [reset.ID] });
assert.deepEqual((await api.listMessages()).messages.map((m) => m.Subject), ["Café menu", "Welcome"]);
await api.deleteMessagesBySearch({ query: "subject:welcome" });
assert.equal((await api.listMessages()).total, 1);
await api.deleteMessages();
seen("MessagesPage", await api.waitForMessages({ count: 0 }, { timeout: 2000 }));

// Seeding through sendMessage, then reading the mail as the client renders it.
const png = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]).toString("base64");
const sent = seen("SendResult", await api.sendMessage({
  From: { Email: "shop@example.com", Name: "Shop" },
  To: [{ Email: "kim@example.com", Name: "Kim" }],
  Cc: [{ Email: "ops@example.com", Name: "" }],
  Bcc: ["audit@example.com"],
  Subject: "Order shipped",
  HTML: '<p>Your <b>order</b> is on its way.</p><img alt="logo" src="cid:logo">',
  Attachments: [
    { Content: png, Filename: "logo.png", ContentType: "image/png", ContentID: "logo" },
    { Content: Buffer.from("%PDF-1.4").toString("base64"), Filename: "Rechnung März.pdf", ContentType: "application/pdf" },
  ],
}));
assert.match(await api.renderMessageHTML(sent.ID), new RegExp(`src="/api/v1/message/${sent.ID}/part/[0-9.]+"`));
assert.equal(await api.renderMessageText(), "Your order is on its way.\n\nlogo");
for (const [query, count] of [
  ["bcc:audit@example.com", 1], ["cc:ops", 1], ["addressed:kim", 1], ["addressed:nobody", 0],
  ["has:attachment", 1], ["has:inline", 1], ["is:unread", 1], ["is:read", 0], ["MÄRZ", 1],
  ["smaller:1m larger:100", 1], ["after:2000-01-01", 1], ["before:2000-01-01", 0], ["message-id:quellpost", 1],
]) {
  assert.equal(seen("MessagesPage", await api.searchMessages({ query })).messages_count, count, query);
}
await assert.rejects(api.searchMessages({ query: "tag:urgent" }), /400.*tag:urgent/);
const shipped = seen("Message", await api.getMessageSummary(sent.ID));
assert.deepEqual(shipped.Bcc, [{ Name: "", Address: "audit@example.com" }]);
assert.equal(shipped.Username, "");
assert.equal((await api.searchMessages({ query: "is:read" })).messages_count, 1);
