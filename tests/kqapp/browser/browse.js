// Loads the printer application's web pages in Debian's Chromium, headless, through playwright-core:
// every page must load (status 200) with no script error, no console error and no failed request; the
// printer's page must show the state its printer reports, its supplies page the paper roll. PAPPL's pages
// also ask for things from the internet (Google's fonts in its style sheet, an OpenStreetMap frame on the
// settings page): they are answered empty here, as on a shop's machine without internet.
//
//   node browse.js BASE-URL PRINTER EXPECT-TEXT... [--screenshot PNG]
//
// BASE-URL is the server (http://localhost:PORT), PRINTER the printer's name, each EXPECT-TEXT a text the
// printer's status page must show. Exit status 0 when all holds.
const { chromium } = require("playwright-core");
const fs = require("fs");
const os = require("os");
const path = require("path");

async function main() {
  const args = process.argv.slice(2);
  const shot = args.indexOf("--screenshot");
  const screenshot = shot >= 0 ? args.splice(shot, 2)[1] : null;
  const [base, printer, ...expected] = args;
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "kqapp-chromium-"));
  // a fresh profile of its own (playwright takes it as the persistent context's folder)
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    viewport: { width: 1024, height: 900 },
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  const problems = [];
  try {
    const page = browser.pages()[0] || (await browser.newPage());
    await browser.route((url) => !url.href.startsWith(base), (route) =>
      route.fulfill({ status: 200, contentType: "text/plain", body: "" }));
    page.on("pageerror", (e) => problems.push(`${page.url()}: script error: ${e.message}`));
    page.on("console", (m) => {
      if (m.type() === "error") problems.push(`${page.url()}: console error: ${m.text()}`);
    });
    // a request that our own next navigation cancels (the favicon Chromium asks for after "load") is not a
    // fault of the page; every other failure is
    page.on("requestfailed", (r) => {
      const error = r.failure().errorText;
      if (error !== "net::ERR_ABORTED") problems.push(`${r.url()}: request failed: ${error}`);
    });
    page.on("response", (r) => {
      if (r.url().startsWith(base) && r.status() >= 400) problems.push(`${r.url()}: HTTP ${r.status()}`);
    });
    const pages = ["/", "/config", "/addprinter", `/${printer}/`, `/${printer}/media`, `/${printer}/printing`,
      `/${printer}/supplies`];
    for (const p of pages) {
      const response = await page.goto(base + p, { waitUntil: "load" });
      if (!response || response.status() !== 200) problems.push(`${p}: status ${response && response.status()}`);
      console.log(`${p}: ${response && response.status()}, "${await page.title()}"`);
    }
    // the printer's own page shows its state
    await page.goto(`${base}/${printer}/`, { waitUntil: "load" });
    const text = await page.innerText("body");
    for (const e of expected) {
      if (!text.includes(e)) problems.push(`/${printer}/: does not show "${e}"`);
    }
    if (screenshot) await page.screenshot({ path: screenshot, fullPage: true });
    await page.goto(`${base}/${printer}/supplies`, { waitUntil: "load" });
    if (!(await page.innerText("body")).includes("Receipt paper roll")) {
      problems.push(`/${printer}/supplies: does not show the paper roll`);
    }
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  for (const p of problems) console.error(`browse.js: ${p}`);
  process.exit(problems.length ? 1 : 0);
}

main().catch((e) => {
  console.error(`browse.js: ${e.stack || e}`);
  process.exit(1);
});
