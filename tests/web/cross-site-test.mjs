// A foreign page in Debian's headless Chromium tries what any site a crew
// member opens could: write a variable through set.cgi, store a lens table
// and upload a firmware file on the device behind its front server. Each is
// refused and nothing changes; a name rebound to the device is refused too,
// while the device's own page still writes.
//
//   node tests/web/cross-site-test.mjs BASE_URL
//
// BASE_URL is the front server (serving the page at / and the service under
// /api/ and /zelapp/) on a loopback address; the foreign page is served by a
// second small server on another port.

import { createServer } from 'node:http';
import { chromium } from 'playwright-core';
import { parseDocument } from '../../web/js/tolerant-json.js';

const [base] = process.argv.slice(2);
if (!base) {
  console.error('usage: cross-site-test.mjs BASE_URL');
  process.exit(2);
}
const REBOUND_NAME = 'rebound.test';
const failures = [];
const expect = (what, actual, expected) => {
  const same = JSON.stringify(actual) === JSON.stringify(expected);
  console.log(`${same ? 'PASS' : 'FAIL'}  ${what}${same ? '' : `: ${JSON.stringify(actual)}, expected ${JSON.stringify(expected)}`}`);
  if (!same) failures.push(what);
};

// The device's state as a native client sees it (no Origin).
async function deviceState() {
  const tree = parseDocument(await (await fetch(new URL('api/v1/all.cgi', base))).text()).variables;
  const tables = await (await fetch(new URL('zelapp/v1/lenstables/list', base))).json();
  return { teeth: tree.MemMotors.FocusGearTeethSet.value, tables };
}

const foreign = createServer((request, response) => {
  response.setHeader('Content-Type', 'text/html');
  response.end('<!doctype html><title>Somewhere else</title><p>Nothing to see.</p>');
});
await new Promise((resolve) => foreign.listen(0, '127.0.0.1', resolve));
const foreignUrl = `http://127.0.0.1:${foreign.address().port}/`;

// The rebound name resolves to the device, as a rebinding DNS server would
// make it. Chromium now and then stalls while starting under load: each start
// is bounded, and tried again.
async function launch() {
  for (let attempt = 1; ; attempt++) {
    try {
      return await chromium.launch({
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        timeout: 30_000,
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
          `--host-resolver-rules=MAP ${REBOUND_NAME} 127.0.0.1`],
      });
    } catch (error) {
      if (attempt === 3) throw error;
    }
  }
}
const browser = await launch();
const page = await browser.newPage();
// What the service answered, by method and path, as the browser saw it.
const answers = new Map();
page.on('response', (response) => {
  const url = new URL(response.url());
  answers.set(`${response.request().method()} ${url.pathname}`, response.status());
});

try {
  const before = await deviceState();

  await page.goto(foreignUrl);
  const outcomes = await page.evaluate(async (target) => {
    const attempt = async (path, init) => {
      try {
        const response = await fetch(new URL(path, target), init);
        return response.type === 'opaque' ? 'sent' : response.status;
      } catch {
        return 'blocked';
      }
    };
    const upload = new FormData();
    upload.append('deviceid', 'B1-1234');
    upload.append('file', new Blob(['firmware']), 'firmware.swu');
    const table = new FormData();
    table.append('file', new Blob(['lens table']), 'cross.tab');
    return {
      // Simple requests: the browser sends them without asking.
      set: await attempt('api/v1/set.cgi',
        { method: 'POST', mode: 'no-cors', body: '{"MemMotors": {"FocusGearTeethSet": 99}}' }),
      table: await attempt('zelapp/v1/lenstables/file/cross.tab', { method: 'POST', mode: 'no-cors', body: table }),
      upload: await attempt('zelapp/v1/device/update', { method: 'POST', mode: 'no-cors', body: upload }),
      // Needs the preflight, which the service refuses as well.
      put: await attempt('zelapp/v1/lenstables/file/cross.tab', { method: 'PUT', body: 'lens table' }),
    };
  }, base);
  expect('the foreign page could send its simple requests',
    [outcomes.set, outcomes.table, outcomes.upload], ['sent', 'sent', 'sent']);
  expect('the lens table PUT did not get past its preflight', outcomes.put, 'blocked');
  expect('the service refused them with 403', [
    answers.get('POST /api/v1/set.cgi'),
    answers.get('POST /zelapp/v1/lenstables/file/cross.tab'),
    answers.get('POST /zelapp/v1/device/update'),
  ], [403, 403, 403]);
  expect('nothing changed', await deviceState(), before);

  const rebound = await page.goto(`http://${REBOUND_NAME}:${new URL(base).port}/api/v1/all.cgi`);
  expect('a rebound name gets no variables', [rebound.status(), await rebound.text()],
    [403, '{"result": 0, "error": "Cross-site request refused" }']);

  await page.goto(base);
  const own = await page.evaluate(async () => (await fetch('api/v1/set.cgi',
    { method: 'POST', body: '{"MemMotors": {"FocusGearTeethSet": 31}}' })).text());
  expect('the device\'s own page writes', [own, (await deviceState()).teeth], ['{"result": 1 }', '31']);
} finally {
  await browser.close();
  foreign.close();
}
console.log(failures.length ? `${failures.length} failed` : 'all passed');
process.exit(failures.length ? 1 : 0);
