// Drives the demo site in headless Chromium as a visitor would: opens the front page
// and the gallery, uploads a picture through the gallery's form (a photo recording that
// it was taken upright), and checks that its thumbnail appears upright, that the browser
// received it as AVIF or WebP and decoded it, and that a client naming neither gets a
// JPEG. Screenshots of each step land in OUT_DIR.
//
//   node tests/browser/drive_site.js BASE_URL PICTURE OUT_DIR
//
// Exits 0 when every check held, 1 (with the reason) otherwise.
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const puppeteer = require("puppeteer-core");

const [baseUrl, picture, outDir] = process.argv.slice(2);
if (!baseUrl || !picture || !outDir) {
  console.error("usage: node drive_site.js BASE_URL PICTURE OUT_DIR");
  process.exit(2);
}
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";
const stepTimeout = 30000;

function check(condition, what) {
  if (!condition) throw new Error("check failed: " + what);
  console.log("ok: " + what);
}

async function shot(page, name) {
  const file = path.join(outDir, name + ".png");
  await page.screenshot({ path: file, fullPage: true });
  console.log("screenshot: " + file);
}

// Whether every image of the page arrived and decoded.
async function imagesDecoded(page, selector) {
  return page.$$eval(selector, (images) =>
    images.length > 0 && images.every((image) => image.complete && image.naturalWidth > 0));
}

async function main() {
  fs.mkdirSync(outDir, { recursive: true });
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "vellum-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: profile,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", "--no-first-run",
           "--disable-dev-shm-usage"],
  });
  try {
    const page = await browser.newPage();
    page.setDefaultTimeout(stepTimeout);
    await page.setViewport({ width: 1100, height: 800 });
    const failures = [];
    page.on("pageerror", (error) => failures.push("script error in the page: " + error.message));
    // The thumbnails as the browser's own image requests received them.
    const thumbnailResponses = new Map();
    page.on("response", (response) => {
      if (response.url().includes("/thumb.asp")) thumbnailResponses.set(response.url(), response);
    });

    const front = await page.goto(baseUrl + "/", { waitUntil: "networkidle0" });
    check(front.status() === 200, "the front page answers 200");
    check(await imagesDecoded(page, ".cards img"), "the front page's drawn images decode");
    await shot(page, "front-page");

    const before = await page.goto(baseUrl + "/gallery.asp", { waitUntil: "networkidle0" });
    check(before.status() === 200, "the gallery answers 200");
    const countBefore = (await page.$$("#gallery img")).length;
    await shot(page, "gallery-before-upload");

    const input = await page.$("form.upload input[type=file]");
    await input.uploadFile(picture);
    await page.type("form.upload input[name=title]", "Uploaded by the browser test");
    await Promise.all([
      page.waitForNavigation({ waitUntil: "networkidle0" }),
      page.click("form.upload button[type=submit]"),
    ]);
    check(page.url().includes("gallery.asp?added=1"), "the upload came back to the gallery");
    const notice = await page.$eval("#notice", (element) => element.textContent);
    check(notice.includes("1 picture(s) added"), "the gallery says the picture was added");
    const thumbnails = await page.$$("#gallery img");
    check(thumbnails.length === countBefore + 1, "one more thumbnail in the gallery");
    check(await imagesDecoded(page, "#gallery img"), "every thumbnail decoded in the browser");
    const first = await page.$eval("#gallery li", (item) => ({
      src: item.querySelector("img").src,
      title: item.querySelector("span").textContent,
      width: item.querySelector("img").naturalWidth,
      height: item.querySelector("img").naturalHeight,
    }));
    check(first.title.includes("Uploaded by the browser test"), "the newest thumbnail has the title");
    // 160 pixels high, less the rounding a portrait picture's thumbnail gets (158 here).
    check(first.height >= 156 && first.height <= 160,
          "the thumbnail is about 160 pixels high (" + first.height + ")");
    check(first.width < first.height,
          "the photo taken upright shows upright (" + first.width + " x " + first.height + ")");
    const received = thumbnailResponses.get(first.src);
    check(received !== undefined, "the browser's request for the thumbnail was seen");
    const receivedType = received.headers()["content-type"];
    check(receivedType === "image/avif" || receivedType === "image/webp",
          "Chromium receives the thumbnail as AVIF or WebP (" + receivedType + ")");
    check(/\baccept\b/i.test(received.headers()["vary"] || ""), "the thumbnail varies by Accept");
    await shot(page, "gallery-after-upload");

    // The thumbnail's bytes for a client that names neither format (fetch asks for */*),
    // saved for an independent decoder.
    const bytes = await page.evaluate(async (src) => {
      const response = await fetch(src);
      return { type: response.headers.get("content-type"),
               data: Array.from(new Uint8Array(await response.arrayBuffer())) };
    }, first.src);
    check(bytes.type === "image/jpeg", "the thumbnail is sent as image/jpeg");
    const jpeg = Buffer.from(bytes.data);
    check(jpeg[0] === 0xFF && jpeg[1] === 0xD8 && jpeg[jpeg.length - 2] === 0xFF &&
              jpeg[jpeg.length - 1] === 0xD9, "the thumbnail's bytes are a whole JPEG");
    fs.writeFileSync(path.join(outDir, "thumbnail.jpg"), jpeg);

    await page.goto(baseUrl + "/banners.asp?text=Browser+test&font=Liberation+Serif",
                    { waitUntil: "networkidle0" });
    check(await imagesDecoded(page, "img.made"), "a banner with a chosen font decodes");
    await shot(page, "banners");
    await page.goto(baseUrl + "/source.asp?page=/gallery.asp", { waitUntil: "networkidle0" });
    const lines = (await page.$$("pre.source .line")).length;
    check(lines > 20, "the source page shows gallery.asp (" + lines + " lines)");
    await shot(page, "source");

    check(failures.length === 0, "no script errors in the pages: " + failures.join("; "));
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

const deadline = setTimeout(() => {
  console.error("the browser test took longer than 3 minutes");
  process.exit(1);
}, 180000);
main().then(() => {
  clearTimeout(deadline);
  console.log("browser test passed");
}, (error) => {
  clearTimeout(deadline);
  console.error(error.stack || String(error));
  process.exit(1);
});
