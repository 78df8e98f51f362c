// The web inbox in a real browser. Usage: node inbox.test.mjs QUELLPOST_BINARY FLOW
import assert from "node:assert/strict";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { browserOrSkip, countingServer, here, pixel, startQuellpost, tempFile } from "./quellpost.mjs";

const [binary, flowName] = process.argv.slice(2);
const Binary = Buffer.concat(Array(40).fill(Buffer.from([...Array(256).keys()])));
const Markup = '<img src=x onerror="top.pwned=1">';

async function inbox(browser, q, options = {}) {
  const context = await browser.newContext({ acceptDownloads: true, ...options });
  const page = await context.newPage();
  page.setDefaultTimeout(15000);
  page.on("pageerror", (error) => { throw error; });
  await page.goto(q.base + "/");
  await page.waitForSelector('#connection[data-state="live"]');
  return page;
}
// The row whose subject is exactly this text, or matches this pattern.
const row = (page, subject) => page.locator("#list .row").filter({ has: page.locator(".subject", {
  hasText: typeof subject === "string" ? new RegExp(`^${subject.replace(/[.*+?^${}()|[\]\\]/g, "\\$&")}$`) : subject,
}) });
// Exactly that term: "Cc:" is also the end of "Bcc:".
const fact = (page, name) => page.locator("dt", { hasText: new RegExp(`^${name}$`) }).locator("xpath=following-sibling::dd[1]");

const flows = {
  async live_list_and_message(browser, q) {
    const page = await inbox(browser, q);
    q.send("welcome");
    // Arrives through the event stream: no reload.
    await row(page, "Welcome to the café").waitFor();
    await assert.doesNotReject(page.waitForFunction(() => /New message from Shop Ünicode/.test(
      document.getElementById("announce").textContent)));
    await row(page, "Welcome to the café").click();
    await page.locator("#message-subject", { hasText: "Welcome to the café" }).waitFor();
    assert.equal(await fact(page, "From:").textContent(), "Shop Ünicode <shop@example.com>");
    assert.equal(await fact(page, "Cc:").textContent(), "carol@example.org");
    assert.equal(await fact(page, "Bcc:").textContent(), "hidden@example.com"); // a blind copy, from the envelope
    assert.equal(await fact(page, "Recipients:").textContent(), "<bob@example.com>, <hidden@example.com>");
    await page.locator("#list .row:not(.unread)", { hasText: "Welcome" }).waitFor();

    // The cid: picture, seen on the screen: a red square.
    const logo = page.frameLocator("iframe.html-body").locator("#logo");
    await logo.evaluate((img) => img.complete || new Promise((resolve) => { img.onload = resolve; }));
    assert.deepEqual(await pixel(browser, await logo.screenshot(), 30, 30), [255, 0, 0, 255]);

    await page.getByRole("tab", { name: "Attachments (2)" }).click();
    const expected = { "data.bin": Binary, "notes.txt": Buffer.from("Grüße, crème brûlée\n") };
    for (const [name, bytes] of Object.entries(expected)) {
      const [download] = await Promise.all([page.waitForEvent("download"), page.getByRole("link", { name }).click()]);
      assert.equal(download.suggestedFilename(), name);
      assert.ok(fs.readFileSync(await download.path()).equals(bytes), name);
    }
    const [eml] = await Promise.all([page.waitForEvent("download"), page.getByRole("link", { name: "Download .eml" }).click()]);
    assert.match(fs.readFileSync(await eml.path(), "latin1"), /^[\s\S]*Subject: [\s\S]*\r\n\r\n/);

    // Each tab by the keyboard, as the tab pattern has it.
    const shown = { Text: "Hello Bob, welcome!", Headers: "Content-Type", "Raw source": "MIME-Version", Structure: "multipart/related" };
    await page.getByRole("tab", { name: "HTML" }).focus();
    for (const [tab, text] of Object.entries(shown)) {
      await page.getByRole("tab", { name: tab }).click();
      await page.locator("[role=tabpanel]:not([hidden])", { hasText: text }).waitFor();
    }
    await page.keyboard.press("Home");
    assert.equal(await page.evaluate(() => document.activeElement.textContent), "HTML");

    // A burst, then more under a search: each message counted once, wherever its event falls.
    q.send("bulk", 200);
    await page.locator("#counts", { hasText: "201 messages" }).waitFor();
    await row(page, "Message 200").waitFor();
    await page.locator("#query").fill("needle");
    await page.keyboard.press("Enter");
    await page.locator("#counts", { hasText: "20 of 201 messages match" }).waitFor();
    q.send("bulk", 20, 201);
    await page.locator("#counts", { hasText: "22 of 221 messages match" }).waitFor();
    await row(page, "Message 220").waitFor();
  },

  async search_delete_keyboard(browser, q) {
    q.send("bulk", 600);
    const page = await inbox(browser, q);
    await row(page, "Message 600").waitFor();
    // Only the rows in view are built, whatever the list holds.
    assert.ok(await page.locator("#list .row").count() < 60);
    await page.locator("#list").focus();
    await page.keyboard.press("End");
    await row(page, "Message 1").waitFor();
    await page.keyboard.press("Home");
    for (const key of ["j", "j", "k", "ArrowDown"]) await page.keyboard.press(key);
    assert.equal(await page.locator('#list [aria-selected="true"] .subject').textContent(), "Message 598");
    await page.keyboard.press("Enter");
    await page.locator("#message-subject", { hasText: "Message 598" }).waitFor();
    await page.keyboard.press("Delete");
    // The message that takes its place comes next, as when stepping.
    await page.locator("#message-subject", { hasText: "Message 597" }).waitFor();
    await page.locator("#counts", { hasText: "599 messages" }).waitFor();

    await page.keyboard.press("/");
    await page.keyboard.type("needle subject:message");
    await page.keyboard.press("Enter");
    await page.locator("#counts", { hasText: "60 of 599 messages match" }).waitFor();
    await page.getByRole("button", { name: "Delete results" }).click();
    await page.getByRole("dialog").getByRole("button", { name: "Delete" }).click();
    await page.locator("#empty", { hasText: "No message matches" }).waitFor();
    await page.locator("#query").fill("");
    await page.locator("#counts", { hasText: "539 messages" }).waitFor();

    // Another client deletes: the list follows.
    await fetch(`${q.base}/api/v1/search?query=subject:%22Message%20597%22`, { method: "DELETE" });
    await page.locator("#counts", { hasText: "538 messages" }).waitFor();
    await page.getByRole("button", { name: "Delete all" }).click();
    await page.getByRole("dialog").getByRole("button", { name: "Cancel" }).click();
    assert.match(await page.locator("#counts").textContent(), /538 messages/);
    await page.getByRole("button", { name: "Delete all" }).click();
    await page.getByRole("dialog").getByRole("button", { name: "Delete" }).click();
    await page.locator("#empty", { hasText: "No messages yet" }).waitFor();

    // Mail that comes while the reader is at the end of the list is counted, and the rows in view
    // stay where they are.
    q.send("bulk", 300);
    await row(page, "Message 300").waitFor();
    await page.locator("#list").focus();
    await page.keyboard.press("End");
    const oldest = row(page, "Message 1");
    await oldest.waitFor();
    q.send("bulk", 30, 301);
    // Counted in the list, not only in the totals.
    await page.locator('#list .row[aria-setsize="330"]').first().waitFor();
    // To the pixel: the scroll position is whole pixels, the rows' height not always.
    assert.ok(await oldest.evaluate((element) => {
      const shown = element.getBoundingClientRect(), view = element.closest("#list").getBoundingClientRect();
      return shown.top >= view.top - 1 && shown.bottom <= view.bottom + 1;
    }));
    await page.keyboard.press("Home");
    await row(page, "Message 330").waitFor();
  },

  async hostile_mail(browser, q) {
    const remote = await countingServer();
    q.send("hostile", remote.base);
    const page = await inbox(browser, q);
    const blocked = [];
    page.on("console", (message) => blocked.push(message.text()));
    await row(page, /^Hostile/).click();
    // Text from the mail stays text: the markup shows as written, and no element comes of it.
    await page.locator("#message-subject", { hasText: `Hostile ${Markup}<script>` }).waitFor();
    assert.match(await row(page, /^Hostile/).textContent(), /<img src=x onerror/);
    assert.equal(await page.locator("#list img, #message-pane img, #message-pane script").count(), 0);
    const frame = page.frameLocator("iframe.html-body");
    await frame.locator("#hostile").waitFor();
    const refused = (pattern) => assert.doesNotReject(waitFor(() => blocked.some((text) => pattern.test(text))));
    await refused(/Refused to execute the redirect/);
    await refused(/picture\.png/);
    await refused(/style\.css/);
    await frame.locator("#js").click();
    await refused(/JavaScript URL/);
    const flags = async () => [await page.evaluate(() => window.pwned),
      await frame.locator("body").evaluate(() => window.pwned)];
    assert.deepEqual(await flags(), [undefined, undefined]);
    assert.deepEqual(remote.hits, []);

    await page.getByRole("tab", { name: "Attachments (1)" }).click();
    await page.getByRole("link", { name: `${Markup}.html` }).waitFor();

    await page.getByRole("tab", { name: "HTML" }).click();
    await page.getByRole("button", { name: "Load remote content" }).click();
    await waitFor(() => remote.hits.length >= 2);
    assert.deepEqual(remote.hits.map((hit) => hit.path).sort(), ["/picture.png", "/style.css"]);
    const [away] = await Promise.all([page.context().waitForEvent("page"), frame.locator("#away").click()]);
    await away.waitForLoadState();
    assert.deepEqual(await away.evaluate(() => [window.opener, document.referrer]), [null, ""]);
    assert.equal(remote.hits.find((hit) => hit.path === "/link").referer, undefined);
    assert.deepEqual(await flags(), [undefined, undefined]);
    remote.close();
  },

  // A page of another origin, on another loopback port, tries to read and delete the mail.
  async cross_origin_cannot_read_or_delete(browser, q) {
    q.send("welcome");
    const evil = await countingServer(`<script>
      const api = ${JSON.stringify(q.base)}, tries = [
        () => fetch(api + "/api/v1/messages").then((r) => r.text()),
        () => fetch(api + "/api/v1/message/latest/raw").then((r) => r.text()),
        () => fetch(api + "/api/v1/messages", { method: "DELETE" }),
        () => fetch(api + "/api/v1/messages", { method: "DELETE", mode: "no-cors" }),
        () => fetch(api + "/api/v1/messages", { method: "POST", mode: "no-cors", body: "{}" }),
      ];
      window.results = Promise.all(tries.map((t) => t().then((v) => "read: " + v, () => "refused")));
    </script>`);
    const page = await browser.newPage();
    await page.goto(evil.base + "/");
    const results = await page.evaluate(() => window.results);
    assert.deepEqual(results.slice(0, 4), ["refused", "refused", "refused", "refused"]);
    const left = await (await fetch(`${q.base}/api/v1/messages`)).json();
    assert.equal(left.total, 1);
    evil.close();
  },

  async cross_origin_events_refused(browser, q) {
    const evil = await countingServer(`<script>
      window.heard = [];
      const socket = new WebSocket(${JSON.stringify(q.base.replace("http", "ws") + "/api/events")});
      socket.onmessage = (m) => window.heard.push(m.data);
    </script>`);
    const page = await browser.newPage();
    await page.goto(evil.base + "/");
    const own = await inbox(browser, q);
    q.send("welcome");
    await row(own, "Welcome to the café").waitFor();
    assert.deepEqual(await page.evaluate(() => window.heard), []);
    evil.close();
  },

  // DNS rebinding: a name the attacker points at 127.0.0.1 must not make a page same-origin with the API.
  async foreign_host_refused(_, q) {
    const browser = await browserOrSkip(["--host-resolver-rules=MAP rebound.test 127.0.0.1"]);
    const page = await browser.newPage();
    const answer = await page.goto(`http://rebound.test:${q.port}/`);
    assert.ok([403, 421].includes(answer.status()), `status ${answer.status()}`);
    const status = await page.evaluate(() => fetch("/api/v1/messages").then((r) => r.status));
    assert.ok([403, 421].includes(status), `status ${status}`);
    await browser.close();
  },

  async accessibility(browser, q) {
    q.send("welcome");
    q.send("bulk", 3);
    const axe = fs.readFileSync(path.join(here, "node_modules", "axe-core", "axe.min.js"), "utf8");
    const sizes = [["desktop", { width: 1280, height: 800 }, "light"], ["phone at 400%", { width: 320, height: 256 }, "dark"]];
    for (const [name, viewport, colorScheme] of sizes) {
      const page = await inbox(browser, q, { viewport, colorScheme, bypassCSP: true });
      await page.addScriptTag({ content: axe });
      const check = async (what) => {
        const found = await page.evaluate(() => axe.run(document).then((r) => r.violations));
        if (process.env.AXE_ALL) console.log(name, what, JSON.stringify(found.map((v) => [v.id, v.impact, v.nodes.length])));
        const bad = found.filter((v) => ["serious", "critical"].includes(v.impact));
        assert.deepEqual(bad.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(" ")}`), [], `${name}, ${what}`);
        // Reflows instead of scrolling sideways.
        assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), `${name}, ${what}: width`);
      };
      await row(page, "Welcome to the café").waitFor();
      await check("list");
      await row(page, "Welcome to the café").click();
      await page.locator("#message-subject").waitFor();
      await check("message");
      await page.getByRole("tab", { name: "Attachments (2)" }).click();
      await check("attachments");
      if (name !== "desktop") {
        await page.getByRole("button", { name: "Back to the messages" }).click();
        await row(page, "Welcome to the café").waitFor();
      }
    }
  },

  // The inbox's own files and the routes it reads beside the API, with the fields that guard them.
  async pages_and_views(_, q) {
    q.send("bulk", 1);
    q.send("welcome");
    const get = async (path) => {
      const response = await fetch(q.base + path);
      return [response.status, response.headers.get("content-type").split(";")[0], await response.text(), response.headers];
    };
    const cases = [
      ["/", 200, "text/html", '<script type="module" src="/assets/app.js">'],
      ["/assets/list.js", 200, "text/javascript", "export class MessageList"],
      ["/assets/style.css", 200, "text/css", "prefers-color-scheme"],
      ["/assets/..%2Findex.html", 404, "application/json", ""],
      ["/assets/missing.js", 404, "application/json", ""],
      // "latest" moves on: the picture is named by the message's own id.
      ["/view/latest.html", 200, "text/html", '<base target="_blank"><p id="greeting">Hello <b>Bob</b></p><img id="logo" src="/api/v1/message/2/part/1.2.2"'],
      ["/view/1.html", 404, "application/json", "no HTML part"],
      ["/view/2.txt", 200, "text/plain", "Hello Bob, welcome!"],
      ["/view/9.html", 404, "application/json", "no such message"],
      ["/api/v1/message/9/structure", 404, "application/json", "no such message"],
    ];
    for (const [path, status, type, text] of cases) {
      const [code, contentType, body] = await get(path);
      assert.deepEqual([code, contentType], [status, type], path);
      assert.ok(body.includes(text), `${path}: ${body}`);
    }
    const envelope = JSON.parse((await get("/api/v1/message/2/envelope"))[2]);
    assert.deepEqual(Object.keys(envelope).sort(), ["From", "Received", "To", "Username"]);
    assert.deepEqual([envelope.From, envelope.To, envelope.Username], ["<sender@example.com>", ["<bob@example.com>", "<hidden@example.com>"], ""]);
    const root = JSON.parse((await get("/api/v1/message/2/structure"))[2]);
    assert.deepEqual(root.Parts.map((p) => [p.PartID, p.ContentType, p.FileName, p.Size]),
      [["1", "multipart/alternative", "", 0], ["2", "application/octet-stream", "data.bin", 10240], ["3", "application/octet-stream", "notes.txt", 25]]);
    const policy = async (path) => (await get(path))[3];
    const [page, view, remote] = [await policy("/"), await policy("/view/2.html"), await policy("/view/2.html?remote=1")];
    for (const h of [page, view, remote]) assert.deepEqual([h.get("x-content-type-options"), h.get("referrer-policy")], ["nosniff", "no-referrer"]);
    assert.match(page.get("content-security-policy"), /default-src 'none'; script-src 'self'; .*frame-ancestors 'none'/);
    for (const h of [view, remote]) {
      assert.match(h.get("content-security-policy"), /^sandbox allow-popups allow-popups-to-escape-sandbox; default-src 'none';/);
      assert.doesNotMatch(h.get("content-security-policy"), /script/);
    }
    assert.match(view.get("content-security-policy"), /img-src 'self' data:;/);
    assert.match(remote.get("content-security-policy"), /img-src \* /);
  },

  async basic_auth(browser, q) {
    const answer = (headers = {}) => new Promise((resolve) => http.get(`${q.base}/api/events`, { headers },
      (response) => { response.resume(); resolve([response.statusCode, response.headers["www-authenticate"]]); }));
    const basic = (pair) => ({ Authorization: `Basic ${Buffer.from(pair).toString("base64")}` });
    const upgrade = { Connection: "Upgrade", Upgrade: "websocket", "Sec-WebSocket-Version": "13", "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ==" };
    assert.deepEqual(await answer(), [401, 'Basic realm="Quellpost", charset="UTF-8"']);
    assert.equal((await answer({ ...upgrade, ...basic("dev:wrong") }))[0], 401);
    for (const path of ["/", "/api/v1/messages"])
      assert.equal((await fetch(q.base + path, { headers: basic("dev:wrong") })).status, 401);
    for (const path of ["/livez", "/readyz"]) // container health checks carry no login
      assert.equal((await fetch(q.base + path)).status, 200);
    const page = await inbox(browser, q, { httpCredentials: { username: "dev", password: "s3cret" } });
    q.send("welcome");
    await row(page, "Welcome to the café").waitFor();
  },
};

// Polls a condition the browser reports through events the test cannot await directly.
async function waitFor(condition, ms = 10000) {
  for (const end = Date.now() + ms; !condition(); await new Promise((r) => setTimeout(r, 20)))
    if (Date.now() > end) throw new Error(`not within ${ms} ms: ${condition}`);
}

const flow = flows[flowName];
if (!flow) throw new Error(`no flow ${flowName}`);
const browser = await browserOrSkip();
const args = [];
// "s3cret", bcrypt of cost 4 (htpasswd -B -C 4).
if (flowName === "basic_auth") args.push("--http-auth", tempFile("users", "dev:$2y$04$Q2VuJsSM0AQdxbXl2/LL4OCnsuj/kjSr9mo2OeEQg5CmcnAK97N26\n"));
const q = await startQuellpost(binary, args);
try {
  await flow(browser, q);
  console.log(`${flowName}: passed`);
} finally {
  await browser.close();
  await q.stop();
}
