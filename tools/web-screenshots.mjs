// The web inbox's pictures for the README, light and dark, taken in headless Chromium.
//   node tools/web-screenshots.mjs BUILD/src/app/quellpost [OUTPUT_FOLDER]
import { execFileSync } from "node:child_process";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { browserOrSkip, startQuellpost } from "../tests/web/node/quellpost.mjs";

const [binary, folder = "docs/screenshots"] = process.argv.slice(2);
const q = await startQuellpost(binary);
execFileSync("python3", [path.join(path.dirname(fileURLToPath(import.meta.url)), "web_samples.py"), String(q.smtp)]);
const browser = await browserOrSkip();
for (const colorScheme of ["light", "dark"]) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 720 }, colorScheme });
  await page.goto(q.base + "/");
  await page.locator("#list .row", { hasText: "Welcome to the café" }).click();
  await page.frameLocator("iframe.html-body").locator("#logo").evaluate((img) => img.decode());
  await page.locator("#list").focus();
  await page.screenshot({ path: path.join(folder, `web-inbox-${colorScheme}.png`) });
  await page.close();
}
await browser.close();
await q.stop();
