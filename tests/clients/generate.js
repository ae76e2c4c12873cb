#!/usr/bin/env node
// Makes KQT-50 test jobs with two ESC/POS encoder packages that point-of-sale applications use, the way
// an application and the printer's driver would send them to the spooler.
//
//   node generate.js [DIR]      writes DIR/jobs/ and DIR/as-made/ (default: beside this script)
//
// What the encoders emit is kept as it is. Around it the jobs carry what a driver for this printer adds,
// and nothing else is added or removed (the two "as made" jobs leave out the first and last of these, to
// show what the printer gets from an application that sends the encoders' output unchanged):
//   - ESC @ (1b 40) at the start of the rpe job, in place of the encoder's initialize(), which also
//     sends FS . (1c 2e), a command that the print processor refuses (the copy pass would end there);
//   - ESC J n (1b 4a n) between images, so that the bands of a page are fed past one by one;
//   - ESC P e 0 (1b 50 65 00) where a page ends, before the encoder's cut;
//   - ESC P g 2 (1b 50 67 02) before the last cut, and ESC P e 1 (1b 50 65 01) at the end of the job;
//   - CR (0d) after each node-thermal-printer barcode, whose length-counted data the encoder does not end:
//     the print processor ends barcode data at CR, NUL or FF.
'use strict';

const fs = require('fs');
const path = require('path');
const {PNG} = require('pngjs');
const RPE = require('@point-of-sale/receipt-printer-encoder');
const {ThermalPrinter, PrinterTypes, CharacterSet} = require('node-thermal-printer');

const ReceiptPrinterEncoder = RPE.default || RPE;

const ESC = 0x1b;
const directive = {
  endOfPage: Buffer.from([ESC, 0x50, 0x65, 0x00]),
  endOfDocument: Buffer.from([ESC, 0x50, 0x65, 0x01]),
  cutRequest: Buffer.from([ESC, 0x50, 0x67, 0x02]),
};
const feed = (n) => [ESC, 0x4a, n];

// A black-and-white test picture as RGBA pixels: a frame and diagonal stripes whose pitch depends on
// `seed`, so that every image of a job differs and a misplaced band shows.
function picture(width, height, seed) {
  const data = new Uint8ClampedArray(width * height * 4);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const frame = x < 3 || y < 3 || x >= width - 3 || y >= height - 3;
      const stripe = ((x + y * (seed % 3 + 1)) >> (seed % 2 + 2)) % (seed + 3) === 0;
      const v = frame || stripe ? 0 : 255;
      const i = (y * width + x) * 4;
      data[i] = data[i + 1] = data[i + 2] = v;
      data[i + 3] = 255;
    }
  }
  return {width, height, data};
}

function pngOf(image) {
  const png = new PNG({width: image.width, height: image.height});
  png.data = Buffer.from(image.data.buffer);
  return PNG.sync.write(png);
}

// @point-of-sale/receipt-printer-encoder: raster images (one GS v 0 per 255 rows), both GS k forms.
// `asMade`: the encoder's own initialize() starts the job.
function rpeReceipt(asMade) {
  const options = {language: 'esc-pos', imageMode: 'raster', columns: 42};
  const page1 = new ReceiptPrinterEncoder(options)
      .codepage('cp437')
      .align('center')
      .image(picture(256, 48, 1), 256, 48).raw(feed(48))
      .image(picture(192, 40, 2), 192, 40).raw(feed(60))
      .image(picture(384, 300, 3), 384, 300).raw(feed(70))
      .size(2, 2).line('KQ MART').size(1, 1)
      .line('123 Teheran-ro, Gangnam-gu')
      .align('left')
      .rule()
      .table([{width: 28, align: 'left'}, {width: 13, align: 'right'}], [
        ['Americano x2', '9,000'],
        ['Cafe latte', '5,000'],
        ['Butter croissant x3', '10,500'],
      ])
      .rule()
      .bold(true).table([{width: 28, align: 'left'}, {width: 13, align: 'right'}], [['TOTAL', '24,500']])
      .bold(false)
      .underline(true).line('Card approved').underline(false)
      .align('center')
      .barcode('4006381333931', 'ean13', 60)
      .barcode('R-000451', 'code128', 60)
      .encode();
  const cut1 = new ReceiptPrinterEncoder(options).cut('partial').encode();
  const page2 = new ReceiptPrinterEncoder(options)
      .align('center')
      .line('Customer copy')
      .image(picture(128, 128, 4), 128, 128).raw(feed(140))
      .image(picture(96, 24, 5), 96, 24).raw(feed(24))
      .invert(true).line(' R-000451 ').invert(false)
      .barcode('CODE39TEST', 'code39', 50)
      .encode();
  const cut2 = new ReceiptPrinterEncoder(options).cut().encode();
  const start = asMade ? new ReceiptPrinterEncoder(options).initialize().encode() : Buffer.from([ESC, 0x40]);
  return Buffer.concat([
    Buffer.from(start),
    page1, directive.endOfPage, cut1,
    page2, directive.endOfPage, directive.cutRequest, cut2,
    directive.endOfDocument,
  ]);
}

// node-thermal-printer (EPSON): raster images from PNG, length-counted barcodes (GS k 69 and 73), cut.
// `asMade`: no CR after the barcodes.
async function ntpReceipt(asMade) {
  const printer = new ThermalPrinter({type: PrinterTypes.EPSON, width: 42, characterSet: CharacterSet.PC437_USA});
  const CR = Buffer.from(asMade ? [] : [0x0d]);
  printer.initHardware();
  printer.alignCenter();
  await printer.printImageBuffer(pngOf(picture(320, 24, 6)));
  printer.add(Buffer.from(feed(24)));
  await printer.printImageBuffer(pngOf(picture(320, 24, 7)));
  printer.add(Buffer.from(feed(24)));
  await printer.printImageBuffer(pngOf(picture(256, 24, 8)));
  printer.add(Buffer.from(feed(33)));
  await printer.printImageBuffer(pngOf(picture(320, 16, 9)));
  printer.add(Buffer.from(feed(40)));
  printer.setTextDoubleHeight();
  printer.bold(true);
  printer.println('KQ MART');
  printer.bold(false);
  printer.setTextNormal();
  printer.alignLeft();
  printer.drawLine();
  printer.leftRight('Americano x2', '9,000');
  printer.leftRight('Cafe latte', '5,000');
  printer.underline(true);
  printer.leftRight('TOTAL', '14,000');
  printer.underline(false);
  printer.drawLine();
  printer.alignCenter();
  printer.printBarcode('R000451', 69, {hriPos: 2, height: 60, width: 2});
  printer.add(CR);
  printer.newLine();
  printer.code128('20240517000451', {hriPos: 2, height: 60, width: 2});
  printer.add(CR);
  printer.newLine();
  printer.println('Thank you!');
  printer.add(directive.endOfPage);
  printer.add(directive.cutRequest);
  printer.cut();
  printer.add(directive.endOfDocument);
  return printer.getBuffer();
}

async function main() {
  const dir = process.argv[2] || __dirname;
  const jobs = {
    'jobs/rpe-receipt.prn': rpeReceipt(false),
    'jobs/ntp-receipt.prn': await ntpReceipt(false),
    'as-made/rpe-as-made.prn': rpeReceipt(true),
    'as-made/ntp-as-made.prn': await ntpReceipt(true),
  };
  for (const [name, bytes] of Object.entries(jobs)) {
    fs.mkdirSync(path.dirname(path.join(dir, name)), {recursive: true});
    fs.writeFileSync(path.join(dir, name), bytes);
    console.log(`${name}: ${bytes.length} bytes`);
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
