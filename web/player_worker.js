// The decoder's thread: loads the WebAssembly build of librvx, holds the open
// movie, and answers the page's requests one at a time, in the order they
// came, so that the page never waits on a picture being decoded.
'use strict';

const kInfoFields = 10;
const kPictureFields = 4;
const kEnd = 1;
const kErrorDamaged = -6;

let rvx = null;      // the module, made on the first request
let movie = null;    // the open movie's state, see openMovie
let queue = Promise.resolve();

self.onmessage = (event) => {
  queue = queue.then(() => handle(event.data)).catch((error) => fail(error));
};

function fail(error) {
  // A module that stopped (out of memory, a trap) keeps no usable state: the
  // next movie gets a new one.
  if (error instanceof WebAssembly.RuntimeError) { rvx = null; movie = null; }
  self.postMessage({ type: 'error', code: 0, text: String(error && error.message || error) });
}

async function handle(request) {
  switch (request.type) {
    case 'open': return openMovie(request);
    case 'next': return sendPictures(request.count, request.epoch);
    case 'seek': return seek(request.frame);
    case 'sound': return sendSound(request.from, request.count, request.epoch);
    case 'verify': return verify();
    case 'report': return report(request.hashes);
  }
}

// A module that uses one instruction of WebAssembly's 128-bit vectors
// (i8x16.splat, i8x16.popcnt): valid only where the browser has them.
const kSimdProbe = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0,
  65, 0, 253, 15, 253, 98, 11]);

// portable: the module without SIMD even where the browser has it.
async function loadModule(portable) {
  if (rvx) return rvx;
  importScripts(!portable && WebAssembly.validate(kSimdProbe) ? 'rvx_player.js' : 'rvx_player_portable.js');
  rvx = await self.createRvxModule();
  return rvx;
}

async function fetchBlob(url) {
  const response = await fetch(url);
  if (!response.ok) throw { kind: 'fetch', text: `HTTP ${response.status}` };
  return response.blob();
}

// The library reads the movie through this, range by range, so only what it
// decodes is in the module's memory.
function readFrom(blob) {
  const reader = new FileReaderSync();
  return (offset, pointer, length) => {
    const bytes = new Uint8Array(reader.readAsArrayBuffer(blob.slice(offset, offset + length)));
    if (bytes.length !== length) return 1;
    rvx.HEAPU8.set(bytes, pointer);
    return 0;
  };
}

function postError(code) {
  self.postMessage({ type: 'error', code, text: rvx.UTF8ToString(rvx._player_error_text(code)) });
}

// request: {url} or {file}, and strict. Answers 'ready' with the movie's
// description or 'error' with the library's code and text.
async function openMovie(request) {
  closeMovie();
  let blob;
  try {
    blob = request.file || await fetchBlob(request.url);
  } catch (error) {
    self.postMessage({ type: 'error', code: 0, kind: 'fetch', text: error.text || String(error.message || error) });
    return;
  }
  const m = await loadModule(request.portable);
  m.readSource = readFrom(blob);
  const scratch = m._malloc(8 * 16);
  const handle = m._player_open(blob.size, request.strict ? 1 : 0, scratch);
  const code = m.HEAP32[scratch >> 2];
  if (code < 0) {
    m._free(scratch);
    postError(code);
    return;
  }
  const info = readInfo(m, handle, scratch);
  const pictureBytes = 4 * info.width * info.height;
  movie = { handle, scratch, info, picture: m._malloc(pictureBytes), pictureBytes, sound: 0, soundFrames: 0 };
  self.postMessage({ type: 'ready', info, version: m.UTF8ToString(m._player_version()) });
}

function readInfo(m, handle, scratch) {
  m._player_info(handle, scratch);
  const f = m.HEAPF64.subarray(scratch >> 3, (scratch >> 3) + kInfoFields);
  return {
    width: f[0], height: f[1], hasAlpha: f[2] !== 0, rateNum: f[3], rateDen: f[4], frames: f[5],
    soundChannels: f[6], soundRate: f[7], soundFrames: f[8], rgbPlanes: f[9] === 1,
  };
}

function closeMovie() {
  if (!movie) return;
  rvx._player_close(movie.handle);
  for (const block of [movie.scratch, movie.picture, movie.sound]) if (block) rvx._free(block);
  movie = null;
}

// Decodes the next picture into the module's buffer: its description, or
// {end} after the last one, or {code, text} for an error.
function decodeNext() {
  const m = rvx;
  const status = m._player_read_picture(movie.handle, movie.picture, movie.info.width, movie.scratch);
  if (status === kEnd) return { end: true };
  if (status < 0 && status !== kErrorDamaged) return { code: status, text: m.UTF8ToString(m._player_error_text(status)) };
  const f = m.HEAPF64.subarray(movie.scratch >> 3, (movie.scratch >> 3) + kPictureFields);
  return { frame: f[0], timeUs: f[1], durationUs: f[2], damaged: f[3] !== 0 || status === kErrorDamaged };
}

// Up to count pictures, each handed over with its pixels (transferred, not
// copied twice); epoch lets the page drop pictures it asked for before a seek.
function sendPictures(count, epoch) {
  if (!movie) return;
  for (let i = 0; i < count; ++i) {
    const picture = decodeNext();
    if (picture.end || picture.code) {
      self.postMessage(picture.end ? { type: 'end', epoch } : { type: 'error', code: picture.code, text: picture.text });
      return;
    }
    const pixels = rvx.HEAPU8.slice(movie.picture, movie.picture + movie.pictureBytes);
    self.postMessage({ type: 'picture', epoch, ...picture, pixels }, [pixels.buffer]);
  }
}

function seek(frame) {
  if (!movie) return;
  const status = rvx._player_seek(movie.handle, frame);
  if (status < 0) postError(status);
}

// count sample frames from sample frame `from` on, interleaved 16-bit.
function sendSound(from, count, epoch) {
  if (!movie || movie.info.soundChannels === 0) return;
  const channels = movie.info.soundChannels;
  if (count > movie.soundFrames) {
    if (movie.sound) rvx._free(movie.sound);
    movie.sound = rvx._malloc(2 * channels * count);
    movie.soundFrames = count;
  }
  const got = rvx._player_read_sound(movie.handle, from, movie.sound, count);
  if (got < 0) return;
  const pcm = new Int16Array(rvx.HEAP16.buffer, movie.sound, got * channels).slice();
  self.postMessage({ type: 'sound', epoch, from, pcm }, [pcm.buffer]);
}

// Checks every check sum of the whole movie; a damaged one is still played
// as far as it is intact, and the page says so.
function verify() {
  if (!movie) return;
  const status = rvx._player_verify(movie.handle);
  self.postMessage({ type: 'verified', intact: status === 0, text: status === 0 ? '' : rvx.UTF8ToString(rvx._player_error_text(status)) });
}

// Decodes every picture from the first on. With hashes, each picture's
// SHA-256 goes back as a line "N HEX" (N its display number: a damaged
// movie may skip some); without, only the time it took.
function report(hashes) {
  if (!movie) return;
  const m = rvx;
  const hex = m._malloc(65);
  const start = performance.now();
  let lines = [];
  let count = 0;
  let firstMs = 0;
  for (;;) {
    const picture = decodeNext();
    if (picture.code) { self.postMessage({ type: 'report', lines, error: picture.text }); break; }
    if (picture.end) {
      self.postMessage({ type: 'report', lines, done: count, ms: performance.now() - start, firstMs });
      break;
    }
    if (count === 0) firstMs = performance.now() - start;
    if (hashes) {
      m._player_sha256_hex(movie.picture, movie.pictureBytes, hex);
      lines.push(`${picture.frame} ${m.UTF8ToString(hex)}`);
    }
    ++count;
    if (lines.length === 64) { self.postMessage({ type: 'report', lines }); lines = []; }
  }
  m._free(hex);
}
