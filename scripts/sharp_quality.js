// Photos alone on pages by sharp, for the benchmark's quality sweep. Each
// line of JOBS is one of:
//   CELL_W CELL_H PHOTO OUT   the photo resized to cover CELL_W x CELL_H and
//                             cut from its middle, written as a JPEG of
//                             quality 100 without chroma subsampling, as the
//                             composer writes its pages
//   png PHOTO OUT             the photo decoded whole by sharp and written as
//                             a PNG (a page made from it shrinks nothing on load)
//   node sharp_quality.js JOBS
const fs = require('fs');
const sharp = require('sharp');

async function main() {
  const lines = fs.readFileSync(process.argv[2], 'utf8').split('\n').filter((line) => line);
  for (const line of lines) {
    const fields = line.split('\t');
    if (fields[0] === 'png') {
      await sharp(fields[1]).png({compressionLevel: 1}).toFile(fields[2]);
      continue;
    }
    await sharp(fields[2])
        .resize(Number(fields[0]), Number(fields[1]), {fit: 'cover'})
        .jpeg({quality: 100, chromaSubsampling: '4:4:4'})
        .toFile(fields[3]);
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
