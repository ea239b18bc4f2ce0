// Just enough PNG for the browser test: writing 8-bit RGB and RGBA pictures
// for the encoder, and reading the 8-bit grey, RGB and RGBA files that
// rvxdec --frames and the browser's screenshots write, as RGBA.
'use strict';

const zlib = require('node:zlib');

const kSignature = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
const kChannels = { 0: 1, 2: 3, 4: 2, 6: 4 };   // by colour type

function crc32(bytes) {
  let crc = ~0;
  for (const byte of bytes) {
    crc ^= byte;
    for (let k = 0; k < 8; ++k) crc = (crc >>> 1) ^ (0xedb88320 & -(crc & 1));
  }
  return ~crc >>> 0;
}

function chunk(kind, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(kind, 4, 'latin1');
  const tail = Buffer.alloc(4);
  tail.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, tail]);
}

// pixels: width * height * channels bytes (3: RGB, 4: RGBA), rows top-down.
function encodePng(width, height, channels, pixels) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;
  header[9] = channels === 4 ? 6 : 2;
  const stride = width * channels;
  const raw = Buffer.alloc((stride + 1) * height);
  for (let y = 0; y < height; ++y) pixels.copy(raw, y * (stride + 1) + 1, y * stride, (y + 1) * stride);
  return Buffer.concat([kSignature, chunk('IHDR', header), chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes the per-row filters in place; rows of stride bytes, bpp bytes a pixel.
function unfilter(raw, height, stride, bpp) {
  const out = Buffer.alloc(height * stride);
  for (let y = 0; y < height; ++y) {
    const type = raw[y * (stride + 1)];
    const row = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= bpp ? out[y * stride + x - bpp] : 0;
      const b = y > 0 ? out[(y - 1) * stride + x] : 0;
      const c = x >= bpp && y > 0 ? out[(y - 1) * stride + x - bpp] : 0;
      const predictor = [0, a, b, (a + b) >> 1, paeth(a, b, c)][type];
      if (predictor === undefined) throw new Error(`PNG filter ${type}`);
      out[y * stride + x] = (row[x] + predictor) & 0xff;
    }
  }
  return out;
}

// {width, height, rgba}: the picture as R,G,B,A bytes, A = 255 without alpha.
function decodePng(file) {
  if (!file.subarray(0, 8).equals(kSignature)) throw new Error('not a PNG file');
  let width = 0, height = 0, channels = 0;
  const data = [];
  for (let at = 8; at < file.length;) {
    const length = file.readUInt32BE(at);
    const kind = file.toString('latin1', at + 4, at + 8);
    const body = file.subarray(at + 8, at + 8 + length);
    if (kind === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      channels = kChannels[body[9]];
      if (body[8] !== 8 || !channels || body[12] !== 0) throw new Error('only 8-bit, not interlaced, no palette');
    } else if (kind === 'IDAT') {
      data.push(body);
    }
    at += 12 + length;
  }
  const pixels = unfilter(zlib.inflateSync(Buffer.concat(data)), height, width * channels, channels);
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0; i < width * height; ++i) {
    const p = pixels.subarray(i * channels, (i + 1) * channels);
    const grey = channels <= 2;
    rgba[4 * i] = p[0];
    rgba[4 * i + 1] = grey ? p[0] : p[1];
    rgba[4 * i + 2] = grey ? p[0] : p[2];
    rgba[4 * i + 3] = channels === 4 ? p[3] : channels === 2 ? p[1] : 255;
  }
  return { width, height, rgba };
}

module.exports = { encodePng, decodePng };
