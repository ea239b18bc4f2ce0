// The page's words in English and Japanese, chosen by the browser's language.
'use strict';

const kLabels = {
  en: {
    title: '.rvx player',
    dropHint: 'Drop a .rvx movie here, or choose one:',
    choose: 'Open…',
    play: 'Play',
    pause: 'Pause',
    seek: 'Position',
    loading: 'Loading…',
    size: (w, h) => `${w} × ${h}`,
    rate: (fps) => `${fps} pictures/s`,
    pictures: (n) => `${n} pictures`,
    colours: (rgb, alpha) => (rgb ? 'RGB' : 'YCbCr') + (alpha ? ' with alpha' : ''),
    sound: (channels, rate) => `sound ${channels} ch, ${rate} Hz`,
    noSound: 'no sound',
    notMovie: 'This file is not a .rvx movie.',
    damagedOpen: 'This movie is too damaged to play',
    damagedPlays: 'This movie is damaged; what is intact plays',
    unsupported: 'This movie uses a picture format or sound this player cannot decode.',
    cannotLoad: (what) => `The movie could not be loaded (${what}).`,
    fileUrl: 'This browser does not let a page opened from a file start its decoder. '
      + 'Serve the folder over HTTP (for example "python3 -m http.server" in it) and open the page from there.',
    decoderFailed: (text) => `The decoder stopped: ${text}`,
  },
  ja: {
    title: '.rvx プレーヤー',
    dropHint: '.rvx 動画をここにドロップするか、選んでください：',
    choose: '開く…',
    play: '再生',
    pause: '一時停止',
    seek: '再生位置',
    loading: '読み込み中…',
    size: (w, h) => `${w} × ${h}`,
    rate: (fps) => `毎秒 ${fps} 枚`,
    pictures: (n) => `${n} 枚`,
    colours: (rgb, alpha) => (rgb ? 'RGB' : 'YCbCr') + (alpha ? '（アルファ付き）' : ''),
    sound: (channels, rate) => `音声 ${channels} ch・${rate} Hz`,
    noSound: '音声なし',
    notMovie: 'このファイルは .rvx 動画ではありません。',
    damagedOpen: 'この動画は壊れていて再生できません',
    damagedPlays: 'この動画は壊れています。無事な部分だけを再生します',
    unsupported: 'この動画の画像形式または音声は、このプレーヤーでは再生できません。',
    cannotLoad: (what) => `動画を読み込めませんでした（${what}）。`,
    fileUrl: 'このブラウザーでは、ファイルとして開いたページからデコーダーを起動できません。'
      + 'フォルダーを HTTP で配信して（例：そのフォルダーで「python3 -m http.server」）、そこから開いてください。',
    decoderFailed: (text) => `デコーダーが停止しました：${text}`,
  },
};

// The labels for the first of the browser's languages that the page knows.
function pageLabels(languages) {
  for (const language of languages || []) {
    const code = String(language).toLowerCase().split('-')[0];
    if (kLabels[code]) return { code, words: kLabels[code] };
  }
  return { code: 'en', words: kLabels.en };
}
