// The page: opens a movie dropped on it, chosen, or named by ?src=URL, shows
// what it is and plays it; ?report=1 instead writes each picture's SHA-256
// into <pre id="report"> (and ?report=time only how long decoding took).
// &simd=0 takes the module without SIMD even where the browser has SIMD.
'use strict';

const labels = pageLabels(navigator.languages || [navigator.language]);
const words = labels.words;
const params = new URLSearchParams(location.search);
const reportMode = params.get('report');
const kErrorNotRvx = -5;
const kErrorDamaged = -6;
const kErrorUnsupported = -7;

const $ = (id) => document.getElementById(id);
let worker = null;
let playback = null;
let info = null;
let dragging = false;   // the seek bar is held: the clock does not move it

function applyLabels() {
  document.documentElement.lang = labels.code;
  document.title = words.title;
  for (const element of document.querySelectorAll('[data-label]')) element.textContent = words[element.dataset.label];
  $('seek').setAttribute('aria-label', words.seek);
}

function showMessage(text, kind) {
  const message = $('message');
  message.textContent = text;
  message.className = kind;
  message.hidden = !text;
  if (reportMode && kind === 'error') writeReport([`error: ${text}`]);
}

function writeReport(lines) {
  const report = $('report');
  report.hidden = false;
  report.textContent += lines.map((line) => line + '\n').join('');
}

// Why the decoder could not start, in the page's words.
function startFailure(error) {
  if (location.protocol === 'file:') return words.fileUrl;
  return words.decoderFailed(error && error.message ? error.message : String(error));
}

function startWorker() {
  if (worker) return worker;
  try {
    worker = new Worker('player_worker.js');
  } catch (error) {
    showMessage(startFailure(error), 'error');
    return null;
  }
  worker.onerror = (event) => {
    event.preventDefault();
    showMessage(startFailure(event), 'error');
  };
  worker.onmessage = (event) => onWorkerMessage(event.data);
  return worker;
}

// source: {url} or {file} (a File or Blob).
function openSource(source) {
  if (!startWorker()) return;
  if (playback) playback.close();
  playback = null;
  info = null;
  showMessage(words.loading, 'progress');
  worker.postMessage({ type: 'open', strict: false, portable: params.get('simd') === '0', ...source });
}

function errorText(message) {
  if (message.kind === 'fetch') return words.cannotLoad(message.text);
  if (message.code === kErrorNotRvx) return words.notMovie;
  if (message.code === kErrorDamaged) return `${words.damagedOpen}: ${message.text}`;
  if (message.code === kErrorUnsupported) return words.unsupported;
  return words.decoderFailed(message.text);
}

function onWorkerMessage(message) {
  switch (message.type) {
    case 'ready': return onReady(message);
    case 'error':
      if (playback) playback.seeking = false;
      return showMessage(errorText(message), 'error');
    case 'verified':
      if (!message.intact) showMessage(`${words.damagedPlays} (${message.text})`, 'warning');
      return;
    case 'report': return onReportPart(message);
    default: if (playback) playback.onMessage(message);
  }
}

function onReady(message) {
  info = message.info;
  showMessage('', '');
  if (reportMode) {
    worker.postMessage({ type: 'report', hashes: reportMode !== 'time' });
    return;
  }
  describe(info);
  const canvas = $('picture');
  canvas.width = info.width;
  canvas.height = info.height;
  $('seek').max = Math.max(info.frames - 1, 0);
  $('seek').value = 0;
  $('player').classList.add('open');
  playback = new Playback(worker, info, canvas, { onPicture, onTime, onEnd: () => setPlaying(false) });
  playback.start();
  worker.postMessage({ type: 'verify' });
  if (params.has('src')) { playback.play(); setPlaying(true); }
}

function onReportPart(message) {
  writeReport(message.lines);
  if (message.error) writeReport([`error: ${message.error}`]);
  if (message.done === undefined) return;
  if (reportMode === 'time') {
    writeReport([`pictures ${message.done}`, `ms ${message.ms.toFixed(1)}`, `first_ms ${message.firstMs.toFixed(1)}`]);
  }
  writeReport([`done ${message.done}`]);
}

function describe(movie) {
  const fps = picturesPerSecond(movie);
  const rate = movie.rateNum > 0 && movie.rateDen > 0 ? `${+fps.toFixed(3)} (${movie.rateNum}/${movie.rateDen})` : '?';
  $('details').textContent = [
    words.size(movie.width, movie.height), words.rate(rate), words.pictures(movie.frames),
    words.colours(movie.rgbPlanes, movie.hasAlpha),
    movie.soundChannels ? words.sound(movie.soundChannels, movie.soundRate) : words.noSound,
  ].join(' · ');
}

function onPicture(picture) {
  const body = document.body.dataset;
  if (body.firstPictureMs === undefined) body.firstPictureMs = performance.now().toFixed(1);
  body.picturesShown = String(Number(body.picturesShown || 0) + 1);
  body.frame = String(picture.frame);
}

function formatTime(seconds) {
  const whole = Math.max(0, Math.floor(seconds));
  const h = Math.floor(whole / 3600);
  const m = Math.floor(whole / 60) % 60;
  const s = String(whole % 60).padStart(2, '0');
  return h ? `${h}:${String(m).padStart(2, '0')}:${s}` : `${m}:${s}`;
}

function onTime(seconds) {
  if (!dragging) $('seek').value = Math.floor(seconds * picturesPerSecond(info));
  $('time').textContent = `${formatTime(seconds)} / ${formatTime(playback.duration)}`;
}

function setPlaying(playing) {
  $('play').textContent = playing ? words.pause : words.play;
}

function togglePlay() {
  if (!playback) return;
  playback.toggle();
  setPlaying(playback.playing);
}

function openFile(file) {
  if (file) openSource({ file });
}

function wireControls() {
  $('play').addEventListener('click', togglePlay);
  $('file').addEventListener('change', (event) => openFile(event.target.files[0]));
  const seek = $('seek');
  seek.addEventListener('pointerdown', () => { dragging = true; });
  seek.addEventListener('pointerup', () => { dragging = false; });
  seek.addEventListener('input', () => { if (playback) playback.seekTo(Number(seek.value)); });
  const stage = $('stage');
  stage.addEventListener('dragover', (event) => { event.preventDefault(); stage.classList.add('dropping'); });
  stage.addEventListener('dragleave', () => stage.classList.remove('dropping'));
  stage.addEventListener('drop', (event) => {
    event.preventDefault();
    stage.classList.remove('dropping');
    openFile(event.dataTransfer.files[0]);
  });
  document.addEventListener('keydown', (event) => {
    if (event.code !== 'Space' || event.target.tagName === 'BUTTON') return;
    event.preventDefault();
    togglePlay();
  });
  // Browsers start sound only after a gesture on the page.
  for (const kind of ['pointerdown', 'keydown']) {
    document.addEventListener(kind, () => { if (playback) playback.unlockAudio(); });
  }
}

applyLabels();
if (reportMode) {
  $('player').hidden = true;
  if (params.has('src')) openSource({ url: new URL(params.get('src'), location.href).href });
  else writeReport(['error: no src= given']);
} else {
  wireControls();
  if (params.has('src')) openSource({ url: new URL(params.get('src'), location.href).href });
}
