// A stand-in for the web service behind the page, for developing and testing
// the page before and beside the real one: it answers all.cgi, update.cgi,
// set.cgi, log.cgi and screen.cgi in the service's formats from a mock
// catalogue and the app's routes under /zelapp/v1, serves web/, and offers
// control routes under /mock/ that play the rest of the device (changes by
// other processes, a restart, a refused write, the files the device holds).
//
//   node tests/web/mock/service.mjs [port] [web folder]

import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { deflateSync } from 'node:zlib';
import { serveApp, storedFile } from './app.mjs';
import { buildCatalogue, enumEntries, structText, variableText } from './catalogue.mjs';
import { STRUCTS } from './data-model.mjs';

const port = Number(process.argv[2] ?? 8090);
const webRoot = process.argv[3] ?? new URL('../../../web/', import.meta.url).pathname;
const STEP_MS = 100;

const memories = buildCatalogue();
const byEvent = new Map();
const byName = new Map();
for (const memory of memories) {
  for (const variable of memory.variables) {
    const twin = byName.get(variable.name);
    if (twin) {
      // The same variable listed under a second memory: one storage, one event.
      variable.event = twin.event;
      variable.twin = twin;
      twin.twin = variable;
    }
    byName.set(variable.name, variable);
    byEvent.set(variable.event, variable); // the last listing wins
  }
}
// One variable whose text fails, as the service shows such a failure.
memories[12].variables.at(-1).error = 'Index exceeds limit';

const find = (memory, name) => memories.find((m) => m.name === memory)?.variables.find((v) => v.name === name);

// ---- writes, with the setters' rules ----

const changed = new Set();

function store(variable, value, alwaysPost = false) {
  const before = JSON.stringify(variable.value);
  variable.value = value;
  if (variable.twin) variable.twin.value = value;
  if (alwaysPost || before !== JSON.stringify(value)) changed.add(variable.event);
}

function convert(base, type, text, capacity = 50) {
  switch (base) {
    case 'bool': return text === 'true' || text === 'false' ? text : undefined;
    case 'int': {
      const match = /^\s*([+-]?)(0[xX][0-9a-fA-F]+|0[0-7]*|[1-9]\d*)/.exec(text);
      if (!match) return undefined;
      const digits = match[2];
      const magnitude = /^0[xX]/.test(digits) ? parseInt(digits, 16) : digits.startsWith('0') ? parseInt(digits || '0', 8) : parseInt(digits, 10);
      return String(match[1] === '-' ? -magnitude : magnitude);
    }
    case 'float': {
      const number = parseFloat(text);
      return Number.isNaN(number) ? undefined : Math.fround(number).toFixed(6);
    }
    case 'enum': return enumEntries(type).includes(text) ? text : undefined;
    case 'buffer': return /^([0-9a-fA-F]{2})*$/.test(text) ? text.toLowerCase() : undefined;
    default: return text.slice(0, capacity - 1);
  }
}

// Returns false when there is no such variable or field.
function write(variable, text, index, field) {
  if (variable.base !== 'struct') {
    const value = convert(variable.base, variable.type, text, variable.capacity);
    if (value !== undefined) store(variable, value.padEnd(variable.base === 'buffer' ? 2 * variable.bytes : 0, '0'), ['string', 'buffer'].includes(variable.base));
    return true;
  }
  const definition = STRUCTS[variable.type].find(([name]) => name === field);
  if (!definition) return true; // the service writes nothing and reports success
  const list = variable.count !== undefined;
  if (list && !(index >= 0 && index < variable.count)) return false;
  const element = structuredClone(list ? variable.value[index] : variable.value);
  const value = convert(definition[1], definition[2], text);
  if (value === undefined) return true;
  element[field] = definition[1] === 'bool' ? String(text === 'true') : value;
  const whole = list ? variable.value.map((old, i) => (i === index ? element : old)) : element;
  store(variable, whole, definition[1] === 'string');
  return true;
}

// The set body: quoted (either quote) or bare values, nested objects, no escapes.
function parseBody(text) {
  let pos = 0;
  const skip = () => { while (/\s/.test(text[pos] ?? '')) pos++; };
  const fail = () => { throw Object.assign(new Error('parse'), { pos }); };
  const token = () => {
    skip();
    const quote = text[pos];
    if (quote === '"' || quote === "'") {
      const end = text.indexOf(quote, pos + 1);
      if (end < 0) fail();
      const value = text.slice(pos + 1, end);
      pos = end + 1;
      return value;
    }
    const match = /^[^\s,:}]+/.exec(text.slice(pos));
    if (!match) fail();
    pos += match[0].length;
    return match[0];
  };
  const object = () => {
    skip();
    if (text[pos++] !== '{') fail();
    const entries = [];
    for (;;) {
      const key = token();
      skip();
      if (text[pos++] !== ':') fail();
      skip();
      entries.push([key, text[pos] === '{' ? object() : token()]);
      skip();
      const next = text[pos++];
      if (next === '}') return entries;
      if (next !== ',') fail();
    }
  };
  return object();
}

let failNextSet = null;

function handleSet(body) {
  if (failNextSet !== null) {
    const error = failNextSet;
    failNextSet = null;
    return `{"result": 0, "error": "${error}" }`;
  }
  let entries;
  try {
    entries = parseBody(body);
  } catch (error) {
    return `{"result": 0, "error": "JSON parse error at ${error.pos}.\\u000d\\u000a" }`;
  }
  const [memoryName, inner] = entries[0] ?? [];
  if (!Array.isArray(inner) || inner.length === 0) return '{"result": 0, "error": "" }';
  const [name, value] = inner.at(-1);
  const fields = Array.isArray(value) ? value : [];
  const index = Number([...inner, ...fields].filter(([key]) => key === 'Index').at(-1)?.[1] ?? 0);
  const variable = find(memoryName, name);
  if (!variable) return '{"result": 0, "error": "" }';
  const done = Array.isArray(value)
    ? write(variable, String(fields.at(-1)?.[1] ?? ''), index, fields.at(-1)?.[0])
    : write(variable, value, index);
  appendLog(`webservice: set ${memoryName}.${name}`);
  return done ? '{"result": 1 }' : '{"result": 0, "error": "" }';
}

// ---- texts of the answers ----

function allText() {
  const tree = memories.map((memory) => `"${memory.name}" : {${memory.variables
    .map((variable) => `"${variable.name}" : ${variableText(variable)}`).join(',')}}`).join(',');
  return `{\r\n"id": 1,\r\n"variables": {${tree}}}\r\n`;
}

function updateText(events) {
  let variables = '';
  let previous = null;
  for (const event of events) {
    const variable = byEvent.get(event);
    if (variable.memory !== previous) {
      variables += `${previous === null ? '' : '\r\n  }, '}\r\n  "${variable.memory}" : {`;
    } else {
      variables += ', ';
    }
    variables += `\r\n    "${variable.name}" : ${variableText(variable)}`;
    previous = variable.memory;
  }
  return `{\r\n"id": 1,\r\n"errors": [],\r\n"variables": {${variables}\r\n  }\r\n}\r\n}\r\n`;
}

// ---- kernel log ----

let logText = '';
const colour = (code, text) => `\x1b[${code}m${text}\x1b[0m`;
function startLog() {
  logText = '';
  appendLog('Booting Linux on physical CPU 0x0');
  appendLog(colour(33, 'webservice: started, listening on port 9000'));
  appendLog(colour(31, 'webservice: Error: example failure <shown as text> & more'));
}
function appendLog(line) {
  const seconds = (process.uptime()).toFixed(6).padStart(12, ' ');
  const html = `\x1b[32m[${seconds}]\x1b[0m ${line}\n`.replace(/\x1b\[(\d*)m/g, (_, code) => {
    const number = Number(code || 0);
    if (number === 0) return '</span>';
    const hex = ['00', 'AA'];
    const colourIndex = number - 30;
    const rgb = [colourIndex & 1, (colourIndex >> 1) & 1, (colourIndex >> 2) & 1].map((bit) => hex[bit]).join('');
    return `<span style='color: #${rgb}'>`;
  });
  logText += html;
}
startLog();

// ---- screen ----

function crc32(bytes) {
  let crc = ~0;
  for (const byte of bytes) {
    crc ^= byte;
    for (let k = 0; k < 8; k++) crc = (crc >>> 1) ^ (0xedb88320 & -(crc & 1));
  }
  return ~crc >>> 0;
}

function png(width, height, pixel) {
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type), data]);
    const length = Buffer.alloc(4); length.writeUInt32BE(data.length);
    const crc = Buffer.alloc(4); crc.writeUInt32BE(crc32(body));
    return Buffer.concat([length, body, crc]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0); header.writeUInt32BE(height, 4);
  header.set([8, 2, 0, 0, 0], 8); // 8-bit RGB
  const rows = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) rows.set(pixel(x, y), y * (width * 3 + 1) + 1 + x * 3);
  }
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header),
    chunk('IDAT', deflateSync(rows)), chunk('IEND', Buffer.alloc(0))]);
}
const BARS = [[255, 255, 255], [255, 255, 0], [0, 255, 255], [0, 255, 0], [255, 0, 255], [255, 0, 0], [0, 0, 255], [0, 0, 0]];
const screen = png(800, 480, (x, y) => (y < 400 ? BARS[Math.floor(x / 100)] : [40, 40, 40]));

// ---- requests ----

const heldUpdates = new Set();
const heldLogs = new Set();
let downUntil = 0;

function answerLog(response, offset) {
  const length = Buffer.byteLength(logText);
  const bytes = Buffer.from(logText);
  if (offset > 0 && offset === length) return false;
  const tail = offset > 0 && offset < length ? bytes.subarray(offset) : bytes;
  response.writeHead(200, { 'Content-Type': 'text/html' });
  response.end(Buffer.concat([Buffer.from(`${response.logLength ?? length}\r\n`), tail]));
  return true;
}

setInterval(() => {
  if (Date.now() < downUntil) return;
  if (changed.size > 0) {
    const text = updateText([...changed].sort((a, b) => a - b));
    changed.clear();
    for (const response of heldUpdates) {
      response.writeHead(200, { 'Content-Type': 'application/json' });
      response.end(text);
    }
    heldUpdates.clear();
  }
  for (const held of heldLogs) if (answerLog(held.response, held.offset)) heldLogs.delete(held);
}, STEP_MS);

function hold(set, item, response) {
  set.add(item);
  response.on('close', () => set.delete(item));
}

async function readBody(request) {
  const chunks = [];
  for await (const chunk of request) chunks.push(chunk);
  return Buffer.concat(chunks);
}

// While the service is restarting, the front server answers for it.
function down(response) {
  if (Date.now() >= downUntil) return false;
  response.writeHead(502, { 'Content-Type': 'text/plain' });
  response.end('Bad Gateway');
  return true;
}

function serveApi(name, url, request, response, body) {
  if (down(response)) return undefined;
  switch (name) {
    case 'all.cgi':
      response.writeHead(200, { 'Content-Type': 'application/json' });
      return response.end(allText());
    case 'update.cgi':
      return hold(heldUpdates, response, response);
    case 'set.cgi':
      response.writeHead(200, { 'Content-Type': 'application/json' });
      return response.end(handleSet(body.toString()));
    case 'log.cgi': {
      const query = url.search.slice(1);
      const offset = query.startsWith('offset=') ? parseInt(query.slice(7), 10) || 0 : 0;
      response.logLength = Buffer.byteLength(logText);
      if (!answerLog(response, offset)) hold(heldLogs, { response, offset }, response);
      return undefined;
    }
    case 'screen.cgi':
      response.writeHead(200, { 'Content-Type': 'image/png' });
      return response.end(screen);
    default:
      response.writeHead(404);
      return response.end();
  }
}

function serveControl(name, params, response) {
  const variable = find(params.get('memory'), params.get('variable'));
  const reply = (status, text = '') => {
    response.writeHead(status, { 'Content-Type': 'text/plain' });
    response.end(text);
  };
  const index = params.has('index') ? Number(params.get('index')) : undefined;
  const field = params.get('field') ?? undefined;
  switch (name) {
    case 'get': {
      if (!variable) return reply(404, 'no such variable');
      const value = variable.count !== undefined ? variable.value[index ?? 0] : variable.value;
      return reply(200, field ? value[field] : (typeof value === 'string' ? value : structText(variable.type, value)));
    }
    case 'set':
      if (!variable) return reply(404, 'no such variable');
      write(variable, params.get('value') ?? '', index ?? 0, field);
      return reply(200);
    case 'restart': {
      downUntil = Date.now() + Number(params.get('ms') ?? 2000);
      for (const held of [...heldUpdates, ...[...heldLogs].map((entry) => entry.response)]) held.destroy();
      heldUpdates.clear();
      heldLogs.clear();
      changed.clear();
      startLog();
      return reply(200);
    }
    case 'fail-next-set':
      failNextSet = params.get('error') ?? 'Refused';
      return reply(200);
    case 'log':
      appendLog(params.get('text') ?? '');
      return reply(200);
    case 'file': {
      const content = storedFile(params.get('folder'), params.get('name') ?? '');
      return content ? reply(200, content.toString('hex')) : reply(404, 'no such file');
    }
    default:
      return reply(404);
  }
}

const TYPES = { '.html': 'text/html', '.css': 'text/css', '.js': 'application/javascript', '.png': 'image/png' };

async function serveFile(path, response) {
  const file = normalize(join(webRoot, path === '/' ? 'index.html' : path));
  if (!file.startsWith(normalize(webRoot))) {
    response.writeHead(403);
    return response.end();
  }
  try {
    const content = await readFile(file);
    response.writeHead(200, { 'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream', 'Cache-Control': 'no-cache' });
    return response.end(content);
  } catch {
    response.writeHead(404);
    return response.end();
  }
}

createServer(async (request, response) => {
  const url = new URL(request.url, 'http://mock');
  const body = await readBody(request);
  if (url.pathname.startsWith('/api/v1/')) return serveApi(url.pathname.slice(8), url, request, response, body);
  if (url.pathname.startsWith('/zelapp/v1/')) {
    if (down(response)) return undefined;
    const answer = serveApp(url.pathname.slice(10), request.method, request.headers, body);
    response.writeHead(200, { 'Content-Type': 'application/json' });
    return response.end(answer);
  }
  if (url.pathname.startsWith('/mock/')) {
    return serveControl(url.pathname.slice(6), new URLSearchParams(body.toString() || url.search), response);
  }
  return serveFile(decodeURIComponent(url.pathname), response);
}).listen(port, '127.0.0.1', () => console.log(`mock service on http://127.0.0.1:${port}/`));
