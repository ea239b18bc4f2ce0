// Plays an open movie: asks the worker for pictures and sound ahead of the
// clock and shows each picture when its time comes. While the sound runs the
// clock is the audio device's, so the pictures follow what is heard; without
// sound (or before the browser lets it start) it is the page's own.
'use strict';

const kPicturesAhead = 6;
const kSoundChunkSeconds = 0.5;
const kSoundAheadSeconds = 1.5;

// The movie's picture rate; a movie that does not say shows 30 a second.
function picturesPerSecond(info) {
  return info.rateNum > 0 && info.rateDen > 0 ? info.rateNum / info.rateDen : 30;
}

class Playback {
  // events: onPicture(picture), onTime(seconds), onEnd().
  constructor(worker, info, canvas, events) {
    this.worker = worker;
    this.info = info;
    this.context2d = canvas.getContext('2d');
    this.events = events;
    this.fps = picturesPerSecond(info);
    this.duration = info.frames / this.fps;
    this.epoch = 0;          // pictures asked for before the last seek are dropped
    this.queue = [];
    this.pending = 0;
    this.ended = false;
    this.seeking = false;    // a seek's first picture has not arrived yet
    this.laterSeek = null;
    this.shown = null;       // the frame number on the canvas
    this.playing = false;
    this.position = 0;       // seconds, while paused and where the clock started
    this.audio = null;
    this.sound = { epoch: 0, next: 0, pending: false, sources: [] };
    this.clock = { audio: false, audioStart: 0, pageStart: 0 };
  }

  start() { this.fill(); }

  now() {
    if (!this.playing) return this.position;
    if (this.clock.audio) return this.position + (this.audio.currentTime - this.clock.audioStart);
    return this.position + (performance.now() - this.clock.pageStart) / 1000;
  }

  play() {
    if (this.playing) return;
    if (this.ended && this.queue.length === 0) this.seekTo(0);
    this.startClock();
    this.playing = true;
    this.unlockAudio();
    requestAnimationFrame(() => this.tick());
  }

  pause() {
    if (!this.playing) return;
    this.position = Math.min(this.now(), this.duration);
    this.playing = false;
    this.stopSound();
  }

  toggle() { if (this.playing) this.pause(); else this.play(); }

  // A bar dragged along asks for many pictures; while one seek waits for its
  // picture only the latest of those after it is kept, so the worker never
  // falls behind the hand.
  seekTo(frame) {
    frame = Math.max(0, Math.min(Math.floor(frame), Math.max(this.info.frames - 1, 0)));
    if (this.seeking) { this.laterSeek = frame; return; }
    this.seeking = true;
    ++this.epoch;
    this.queue = [];
    this.pending = 0;
    this.ended = false;
    this.shown = null;
    this.worker.postMessage({ type: 'seek', frame });
    this.position = frame / this.fps;
    this.stopSound();
    if (this.playing) this.startClock();
    this.fill();
    this.events.onTime(this.position);
  }

  // Sound may start only after a gesture on the page; every gesture tries.
  unlockAudio() {
    if (this.info.soundChannels === 0 || typeof AudioContext === 'undefined') return;
    if (!this.audio) this.audio = new AudioContext();
    const moveToAudio = () => {
      if (!this.playing || this.clock.audio) return;
      this.position = Math.min(this.now(), this.duration);
      this.startClock();
    };
    if (this.audio.state === 'running') moveToAudio();
    else this.audio.resume().then(moveToAudio);
  }

  // Starts the clock at this.position, on the audio device's time when it
  // runs, and sends the sound again from there.
  startClock() {
    this.clock.audio = this.audio !== null && this.audio.state === 'running';
    this.clock.audioStart = this.clock.audio ? this.audio.currentTime + 0.05 : 0;
    this.clock.pageStart = performance.now();
    this.stopSound();
  }

  close() {
    this.playing = false;
    this.stopSound();
    if (this.audio) this.audio.close();
    this.audio = null;
  }

  onMessage(message) {
    if (message.type === 'sound') return this.onSound(message);
    if (message.epoch !== this.epoch) return;
    if (message.type === 'end') {
      this.ended = true;
      this.pending = 0;
    } else {
      --this.pending;
      this.queue.push(message);
      if (this.shown === null && !this.playing) this.show(this.queue[0]);
    }
    this.seeking = false;
    if (this.laterSeek !== null) {
      const frame = this.laterSeek;
      this.laterSeek = null;
      this.seekTo(frame);
    }
  }

  tick() {
    if (!this.playing) return;
    const t = this.now();
    let due = null;
    while (this.queue.length && this.queue[0].timeUs / 1e6 <= t) due = this.queue.shift();
    if (due) this.show(due);
    else if (this.shown === null && this.queue.length) this.show(this.queue[0]);
    this.fill();
    this.scheduleSound(t);
    this.events.onTime(Math.min(t, this.duration));
    if (this.ended && this.queue.length === 0 && t >= this.duration) {
      this.pause();
      this.position = this.duration;
      this.events.onEnd();
      return;
    }
    requestAnimationFrame(() => this.tick());
  }

  show(picture) {
    const image = new ImageData(new Uint8ClampedArray(picture.pixels.buffer), this.info.width, this.info.height);
    this.context2d.putImageData(image, 0, 0);
    this.shown = picture.frame;
    this.events.onPicture(picture);
  }

  fill() {
    const wanted = kPicturesAhead - this.pending - this.queue.length;
    if (this.ended || wanted <= 0) return;
    this.pending += wanted;
    this.worker.postMessage({ type: 'next', count: wanted, epoch: this.epoch });
  }

  scheduleSound(t) {
    const s = this.sound;
    const rate = this.info.soundRate;
    if (!this.clock.audio || s.pending || s.next >= this.info.soundFrames) return;
    if (s.next / rate > t + kSoundAheadSeconds) return;
    const count = Math.min(Math.round(rate * kSoundChunkSeconds), this.info.soundFrames - s.next);
    s.pending = true;
    this.worker.postMessage({ type: 'sound', from: s.next, count, epoch: s.epoch });
    s.next += count;
  }

  onSound(message) {
    const s = this.sound;
    if (message.epoch !== s.epoch || !this.clock.audio) return;
    s.pending = false;
    const channels = this.info.soundChannels;
    const frames = message.pcm.length / channels;
    if (frames === 0) return;
    const buffer = this.audio.createBuffer(channels, frames, this.info.soundRate);
    for (let c = 0; c < channels; ++c) {
      const out = buffer.getChannelData(c);
      for (let i = 0; i < frames; ++i) out[i] = message.pcm[i * channels + c] / 32768;
    }
    const source = this.audio.createBufferSource();
    source.buffer = buffer;
    source.connect(this.audio.destination);
    // The chunk's place on the device's time line; one that is late starts
    // part-way through so the sound stays in step with the pictures.
    const when = this.clock.audioStart + message.from / this.info.soundRate - this.position;
    const late = Math.max(0, this.audio.currentTime - when);
    if (late < buffer.duration) source.start(when + late, late);
    source.onended = () => { s.sources = s.sources.filter((x) => x !== source); };
    s.sources.push(source);
  }

  stopSound() {
    const s = this.sound;
    for (const source of s.sources) { try { source.stop(); } catch (e) { /* never started */ } }
    s.sources = [];
    ++s.epoch;
    s.pending = false;
    s.next = Math.round(this.position * this.info.soundRate);
  }
}
