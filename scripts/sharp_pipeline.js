// The composer's layout made with sharp, for the benchmark: each photo
// shrunk on load and cut from its middle to the magnet's size, the magnets
// of a page laid on a white page of the default size with its left and top
// margins, every page written as a JPEG of quality 95; all pages at once, in
// one process, with raw pixels between the steps.
//   node sharp_pipeline.js ROWS COLS PAGES CELL_W CELL_H OUT_DIR PHOTO...
const sharp = require('sharp');
const path = require('path');

async function main() {
  const [rows, cols, pages, cellWidth, cellHeight] = process.argv.slice(2, 7).map(Number);
  const out = process.argv[7];
  const photos = process.argv.slice(8);
  const perPage = rows * cols;
  await Promise.all(Array.from({length: pages}, async (_, page) => {
    const cells = await Promise.all(photos.slice(page * perPage, (page + 1) * perPage).map(
        (photo) => sharp(photo).resize(cellWidth, cellHeight, {fit: 'cover'}).raw()
                       .toBuffer({resolveWithObject: true})));
    const composite = cells.map(({data, info}, i) => ({
      input: data,
      raw: {width: info.width, height: info.height, channels: info.channels},
      left: 18 + (i % cols) * cellWidth,
      top: 16 + Math.floor(i / cols) * cellHeight,
    }));
    await sharp({create: {width: 1854, height: 2445, channels: 3, background: '#ffffff'}})
        .composite(composite)
        .jpeg({quality: 95})
        .toFile(path.join(out, `page${page + 1}.jpg`));
  }));
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
