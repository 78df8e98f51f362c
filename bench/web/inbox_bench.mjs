// The web inbox in headless Chromium over a full store: time to the first painted list, time to
// open a message, and what the page holds after the whole list has been scrolled through.
//
//   node bench/web/inbox_bench.mjs BUILD/src/app/quellpost [--messages 1000,10000] [--runs 5]
//
// Times come from the page's own performance marks ("list-painted" after the first rows are
// painted, counted from the navigation's start; "message-shown" after a click, and the HTML
// frame's load). Memory is the JavaScript heap after a collection and the count of elements.
import { browserOrSkip, startQuellpost } from "../../tests/web/node/quellpost.mjs";

const args = process.argv.slice(2);
const option = (name, fallback) => { const i = args.indexOf(name); return i < 0 ? fallback : args[i + 1]; };
const binary = args[0];
const counts = option("--messages", "1000,10000").split(",").map(Number);
const runs = Number(option("--runs", "5"));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function measure(browser, q) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  await page.goto(q.base + "/");
  await page.waitForFunction(() => performance.getEntriesByName("list-painted").length);
  const paint = await page.evaluate(() => performance.getEntriesByName("list-painted")[0].startTime);
  await page.waitForSelector('#connection[data-state="live"]');
  // The frame's load is caught on its way down to the frame, whenever it comes.
  const open = await page.evaluate(() => new Promise((resolve, reject) => {
    const start = performance.now();
    document.addEventListener("load", (event) => {
      if (event.target.matches?.("iframe.html-body"))
        resolve([performance.getEntriesByName("message-shown").at(-1).startTime - start, performance.now() - start]);
    }, true);
    setTimeout(() => reject(new Error("no message within 30 s")), 30000);
    [...document.querySelectorAll("#list .row")].find((row) => /Welcome/.test(row.textContent)).click();
  }));
  await page.close();
  return { paint, open: open[0], frame: open[1] };
}

// Scrolls from top to bottom a screen at a time, letting each part of the list load.
async function held(browser, q) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  await page.goto(q.base + "/");
  await page.waitForFunction(() => performance.getEntriesByName("list-painted").length);
  await page.evaluate(async () => {
    const box = document.getElementById("list");
    while (box.scrollTop + box.clientHeight < box.scrollHeight - 1) {
      box.scrollTop += box.clientHeight * 10;
      await new Promise((resolve) => setTimeout(resolve, 30));
    }
  });
  await page.waitForFunction(() => !document.querySelector("#list .placeholder"));
  const result = await page.evaluate(() => {
    gc();
    return { heap: performance.memory.usedJSHeapSize, elements: document.getElementsByTagName("*").length };
  });
  await page.close();
  return result;
}

const browser = await browserOrSkip(["--js-flags=--expose-gc", "--enable-precise-memory-info"]);
console.log("| messages | first list paint (ms) | message shown (ms) | with its HTML (ms) | heap after scrolling all (MiB) | elements |");
console.log("|--:|--:|--:|--:|--:|--:|");
for (const count of counts) {
  const q = await startQuellpost(binary);
  q.send("bulk", count - 1);
  q.send("welcome");
  const results = [];
  await measure(browser, q); // warms the browser's caches, as a reader's browser has them
  for (let i = 0; i < runs; i++) results.push(await measure(browser, q));
  const memory = await held(browser, q);
  const m = (key) => median(results.map((r) => r[key])).toFixed(0);
  console.log(`| ${count.toLocaleString("en")} | ${m("paint")} | ${m("open")} | ${m("frame")} | ` +
    `${(memory.heap / 2 ** 20).toFixed(1)} | ${memory.elements} |`);
  await q.stop();
}
await browser.close();
