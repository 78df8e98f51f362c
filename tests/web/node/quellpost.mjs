// A headless Quellpost on loopback ports, mail sent to it with smtplib, and the system's Chromium.
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

export const here = path.dirname(fileURLToPath(import.meta.url));
const Chromium = "/usr/bin/chromium";

// Exit code 77 tells CTest the test was skipped.
export async function browserOrSkip(extraArgs = []) {
  if (!fs.existsSync(Chromium)) { console.log("skipped: /usr/bin/chromium is not installed"); process.exit(77); }
  const { chromium } = await import("playwright-core").catch(() => {
    console.log("skipped: playwright-core is not installed (npm ci in tests/web/node)");
    process.exit(77);
  });
  // A fresh profile each time; nothing reaches out of the machine.
  return chromium.launch({
    executablePath: Chromium, headless: true, chromiumSandbox: process.getuid() !== 0,
    args: ["--disable-gpu", "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--no-first-run", ...extraArgs],
  });
}

export async function startQuellpost(binary, args = []) {
  const child = spawn(binary, ["--headless", "--smtp", "127.0.0.1:0", "--http", "127.0.0.1:0", ...args],
    { stdio: ["ignore", "pipe", "pipe"] });
  const ended = new Promise((resolve) => child.on("exit", (code) => resolve(code)));
  const orphan = () => child.kill();
  process.on("exit", orphan); // a failed run leaves no server behind
  let log = "", stderr = "";
  child.stderr.on("data", (d) => { stderr += d; });
  const ports = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no ports within 20 s: ${log} ${stderr}`)), 20000);
    child.stdout.on("data", (data) => {
      log += data;
      const smtp = /SMTP server listening on 127\.0\.0\.1 port (\d+)\./.exec(log);
      const api = /HTTP API listening on 127\.0\.0\.1 port (\d+)\./.exec(log);
      if (smtp && api) { clearTimeout(timer); resolve([Number(smtp[1]), Number(api[1])]); }
    });
    ended.then((code) => reject(new Error(`quellpost ended with ${code}: ${stderr}`)));
  });
  return {
    pid: child.pid, smtp: ports[0], port: ports[1], base: `http://127.0.0.1:${ports[1]}`,
    send: (kind, ...more) => execFileSync("python3", [path.join(here, "..", "mail.py"), String(ports[0]), kind, ...more.map(String)]),
    async stop() {
      process.off("exit", orphan);
      child.kill("SIGTERM");
      const code = await ended;
      if (code !== 0) throw new Error(`quellpost ended with ${code}: ${stderr}`);
    },
  };
}

// A loopback HTTP server that answers every request with the page given and counts the requests.
export async function countingServer(page = "") {
  const hits = [];
  const server = http.createServer((request, response) => {
    hits.push({ path: request.url, referer: request.headers.referer });
    response.setHeader("Content-Type", request.url === "/" ? "text/html" : "text/plain");
    response.end(request.url === "/" ? page : "x");
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return { hits, base: `http://127.0.0.1:${server.address().port}`, close: () => server.close() };
}

// The colour of one pixel of a PNG, decoded by the browser itself.
export async function pixel(browser, png, x, y) {
  const page = await browser.newPage();
  const rgba = await page.evaluate(async ([data, px, py]) => {
    const image = new Image();
    image.src = `data:image/png;base64,${data}`;
    await image.decode();
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext("2d");
    context.drawImage(image, 0, 0);
    return [...context.getImageData(px, py, 1, 1).data];
  }, [png.toString("base64"), x, y]);
  await page.close();
  return rgba;
}

export function tempFile(name, text) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "quellpost-web-"));
  process.on("exit", () => fs.rmSync(folder, { recursive: true, force: true }));
  const file = path.join(folder, name);
  fs.writeFileSync(file, text);
  return file;
}
