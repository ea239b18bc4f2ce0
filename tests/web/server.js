// A static file server on 127.0.0.1, as plain hosting would serve the page:
// files only, by extension's type, nothing computed.
'use strict';

const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

const kTypes = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css',
  '.wasm': 'application/wasm', '.png': 'image/png',
};

// mounts: {'/': dir, '/movies/': dir, ...}; resolves to {origin, close()}.
function serve(mounts) {
  const prefixes = Object.keys(mounts).sort((a, b) => b.length - a.length);
  const server = http.createServer((request, response) => {
    const urlPath = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    const prefix = prefixes.find((p) => urlPath.startsWith(p));
    const base = path.resolve(mounts[prefix]);
    const file = path.resolve(base, '.' + urlPath.slice(prefix.length - 1));
    if (!file.startsWith(base + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      resolve({ origin: `http://127.0.0.1:${server.address().port}`, close: () => server.close() });
    });
  });
}

module.exports = { serve };
