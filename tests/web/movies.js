// Movies for the browser test, made at test time: numbered PNG runs (with
// and without alpha) and a WAVE file are written here, coded by rvxenc, and
// decoded by rvxdec --frames for the hashes the page must match.
'use strict';

const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { encodePng, decodePng } = require('./png');

const root = path.resolve(__dirname, '..', '..');
const rvxenc = path.join(root, 'build', 'cli', 'rvxenc');
const rvxdec = path.join(root, 'build', 'cli', 'rvxdec');

// A scrolling texture with a box moving over it; with alpha, a soft-edged
// disc that fades in steps over a background a quarter opaque.
function picture(width, height, index, alpha) {
  const channels = alpha ? 4 : 3;
  const pixels = Buffer.alloc(width * height * channels);
  const boxX = (index * 7) % width, boxY = (index * 3) % height;
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      const at = (y * width + x) * channels;
      const inBox = x >= boxX && x < boxX + 16 && y >= boxY && y < boxY + 12;
      pixels[at] = inBox ? 250 : ((x + 3 * index) * 5) & 0xff;
      pixels[at + 1] = inBox ? 230 : (y * 4 + (((x >> 3) + (y >> 3)) & 1) * 40) & 0xff;
      pixels[at + 2] = inBox ? 30 : (128 + 100 * Math.sin((x + index) / 6)) & 0xff;
      if (alpha) {
        const d = Math.hypot(x - width / 2, y - height / 2);
        const disc = 255 - 6 * Math.max(0, d - 18) - 8 * (index % 16);
        pixels[at + 3] = Math.max(64, Math.min(255, Math.round(disc)));
      }
    }
  }
  return encodePng(width, height, channels, pixels);
}

function writeWave(file, seconds, rate) {
  const frames = Math.round(seconds * rate);
  const data = Buffer.alloc(frames * 4);
  for (let n = 0; n < frames; ++n) {
    data.writeInt16LE(Math.round(9000 * Math.sin(2 * Math.PI * 440 * n / rate)), 4 * n);
    data.writeInt16LE(Math.round(7000 * Math.sin(2 * Math.PI * 330 * n / rate)), 4 * n + 2);
  }
  const header = Buffer.alloc(44);
  header.write('RIFF', 0, 'latin1');
  header.writeUInt32LE(36 + data.length, 4);
  header.write('WAVEfmt ', 8, 'latin1');
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(2, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE(rate * 4, 28);
  header.writeUInt16LE(4, 32);
  header.writeUInt16LE(16, 34);
  header.write('data', 36, 'latin1');
  header.writeUInt32LE(data.length, 40);
  fs.writeFileSync(file, Buffer.concat([header, data]));
}

// Writes the run for `run` = {width, height, frames, alpha} into dir once;
// the first picture's path back.
function writeRun(dir, run) {
  const name = `${run.width}x${run.height}-${run.frames}${run.alpha ? '-alpha' : ''}`;
  const folder = path.join(dir, name);
  if (!fs.existsSync(folder)) {
    fs.mkdirSync(folder, { recursive: true });
    for (let i = 0; i < run.frames; ++i) {
      fs.writeFileSync(path.join(folder, `p${String(i + 1).padStart(4, '0')}.png`), picture(run.width, run.height, i, run.alpha));
    }
    writeWave(path.join(folder, 'sound.wav'), run.frames / 30, 44100);
  }
  return path.join(folder, 'p0001.png');
}

// Codes a movie: movie = {name, run, sound, args}; its path back.
function makeMovie(dir, movie) {
  const first = writeRun(dir, movie.run);
  const out = path.join(dir, `${movie.name}.rvx`);
  const sound = movie.sound ? ['--wav', path.join(path.dirname(first), 'sound.wav')] : [];
  execFileSync(rvxenc, [first, '-o', out, '--overwrite', '--quiet', ...sound, ...movie.args], { stdio: 'pipe' });
  return out;
}

// The lines the page's report must show: "N HEX" per picture, from the PNG
// files rvxdec --frames writes (extra: more rvxdec arguments).
function expectedReport(file, extra = []) {
  const frames = `${file}.frames`;
  fs.rmSync(frames, { recursive: true, force: true });
  execFileSync(rvxdec, [...extra, '--frames', frames, file], { stdio: 'pipe' });
  const names = fs.readdirSync(frames).filter((n) => n.endsWith('.png')).sort();
  const lines = names.map((name, i) => {
    const { rgba } = decodePng(fs.readFileSync(path.join(frames, name)));
    return `${i} ${crypto.createHash('sha256').update(rgba).digest('hex')}`;
  });
  return [...lines, `done ${names.length}`];
}

module.exports = { makeMovie, expectedReport, rvxenc, rvxdec };
