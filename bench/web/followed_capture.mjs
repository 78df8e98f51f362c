// Capture with and without a browser following the event stream: workload (a) (one session of
// 1 KiB messages) sent by smtp-load to a fresh headless Quellpost, alone and with the web inbox
// open and live, taking turns. Reports messages per second and the server's CPU per message
// (utime + stime from /proc, the browser's page given time to take every event): the whole
// process's, and that of its main thread alone, which answers the client; the description of
// arrivals for the follower runs on a worker thread of lower priority.
//
//   node bench/web/followed_capture.mjs BUILD/src/app/quellpost BUILD/bench/driver/smtp-load \
//        [--messages 5000] [--runs 3]
import { execFile } from "node:child_process";
import { readFileSync } from "node:fs";
import { promisify } from "node:util";
import { browserOrSkip, startQuellpost } from "../../tests/web/node/quellpost.mjs";

const args = process.argv.slice(2);
const option = (name, fallback) => { const i = args.indexOf(name); return i < 0 ? fallback : args[i + 1]; };
const [binary, load] = args;
const messages = Number(option("--messages", "5000"));
const runs = Number(option("--runs", "3"));
const ClockTicks = 100; // sysconf(_SC_CLK_TCK) on Linux
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

function cpuTicks(pid, thread = "") {
  const fields = readFileSync(`/proc/${pid}${thread}/stat`, "utf8").split(") ")[1].split(" ");
  return Number(fields[11]) + Number(fields[12]);
}

async function once(browser, followed) {
  const q = await startQuellpost(binary);
  let page;
  if (followed) {
    page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
    await page.goto(q.base + "/");
    await page.waitForSelector('#connection[data-state="live"]');
  }
  const before = cpuTicks(q.pid), mainBefore = cpuTicks(q.pid, `/task/${q.pid}`);
  const { stdout } = await promisify(execFile)(load, ["--port", String(q.smtp), "--sessions", "1",
    "--messages", String(messages), "--size", "1024", "--deadline", "120"]);
  if (page) {
    await page.waitForFunction((n) => document.getElementById("counts").textContent.startsWith(n.toLocaleString()),
      messages, { timeout: 60000 });
  }
  const cpu = (cpuTicks(q.pid) - before) / ClockTicks;
  const mainCpu = (cpuTicks(q.pid, `/task/${q.pid}`) - mainBefore) / ClockTicks;
  if (page) await page.close();
  await q.stop();
  const rate = Number(/msgs_per_s=([\d.]+)/.exec(stdout)[1]);
  return { rate, cpuPerMessage: (cpu * 1e6) / messages, mainPerMessage: (mainCpu * 1e6) / messages };
}

const browser = await browserOrSkip();
const results = { alone: [], followed: [] };
for (let run = 0; run < runs; run++) {
  for (const mode of ["alone", "followed"]) results[mode].push(await once(browser, mode === "followed"));
}
await browser.close();
console.log("| | messages/s, each run | median | server CPU per message (µs), each run | median | main thread's (µs), each run | median |");
console.log("|---|--:|--:|--:|--:|--:|--:|");
for (const [mode, list] of Object.entries(results)) {
  const rates = list.map((r) => Math.round(r.rate)), cpus = list.map((r) => Math.round(r.cpuPerMessage));
  const mains = list.map((r) => Math.round(r.mainPerMessage));
  console.log(`| ${mode} | ${rates.join(", ")} | ${median(rates)} | ${cpus.join(", ")} | ${median(cpus)} | ` +
    `${mains.join(", ")} | ${median(mains)} |`);
}
