// Drives the page in headless Chromium against a running stack: only the
// wiring and the rendering, the page's logic has its unit tests.
//   node tests/web/browser-test.mjs BASE_URL [OUTPUT_FOLDER]
// The caller reaches the device from outside the page through shell commands
// that get their arguments as "$1", "$2", ...:
//   PAGE_TEST_GET       "$1" memory, "$2" variable: prints the stored value
//   PAGE_TEST_SET       "$1" memory, "$2" variable, "$3" value: stores it and
//                       announces the change, as another process would
//   PAGE_TEST_RESTART   restarts the service
//   PAGE_TEST_FILE      see console-checks.mjs

import { execFile } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { readFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { promisify } from 'node:util';
import { chromium } from 'playwright-core';
import { parseDocument } from '../../web/js/tolerant-json.js';
import { consoleChecks, phoneChecks } from './console-checks.mjs';

const [base, output = 'page-test-output'] = process.argv.slice(2);
if (!base) throw new Error('usage: browser-test.mjs BASE_URL [OUTPUT_FOLDER]');
mkdirSync(output, { recursive: true });
const WAIT_MS = 15000;

async function hook(name, ...args) {
  const command = process.env[name];
  if (!command) throw new Error(`${name} is not set`);
  const { stdout } = await promisify(execFile)('sh', ['-c', command, name, ...args]);
  return stdout.replace(/\r?\n$/, '');
}

const readDocument = async (path) => parseDocument(await (await fetch(new URL(path, base))).text());
const readTree = async () => (await readDocument('api/v1/all.cgi')).variables;

// Waits until read() gives `expected` (true by default).
async function eventually(what, read, expected = true) {
  const deadline = Date.now() + WAIT_MS;
  let last;
  while (Date.now() < deadline) {
    last = await read();
    if (last === expected) return;
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  throw new Error(`${what} (last seen: ${JSON.stringify(last)})`);
}

const results = { passed: 0, failed: 0 };
async function check(name, body) {
  try {
    await body();
    results.passed++;
    console.log(`ok    ${name}`);
  } catch (error) {
    results.failed++;
    console.log(`FAIL  ${name}: ${error.message.split('\n')[0]}`);
  }
}

// Chromium now and then stalls while starting under load: give each start a
// bound and try again with a fresh profile.
let profile;
async function launch() {
  for (let attempt = 1; ; attempt++) {
    profile = mkdtempSync(join(tmpdir(), 'page-test-profile-'));
    try {
      return await chromium.launchPersistentContext(profile, {
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        headless: true,
        timeout: 30_000,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
          '--disable-background-networking', '--disable-component-update', '--disable-sync'],
        viewport: { width: 1400, height: 900 },
      });
    } catch (error) {
      rmSync(profile, { recursive: true, force: true });
      if (attempt === 3) throw error;
      console.log(`Chromium did not start (${error.message.split('\n')[0]}); starting it again`);
    }
  }
}
const context = await launch();
const page = context.pages()[0] ?? await context.newPage();
const pageErrors = [];
page.on('pageerror', (error) => pageErrors.push(error.message));
// What the front server's content policy blocks shows only on the console.
page.on('console', (message) => { if (message.text().includes('Content Security Policy')) pageErrors.push(message.text()); });

const field = (path) => page.locator(`[data-path="${path}"]`);
const openGroup = async (memory) => {
  const group = page.locator(`details[data-memory="${memory}"]`);
  if (!(await group.evaluate((element) => element.open))) await group.locator('summary').click();
  await group.locator('table.variables').waitFor(); // rows are built when the group opens
  return group;
};
const live = () => page.waitForSelector('#status[data-state="live"]', { timeout: WAIT_MS });
const shownValue = (path) => field(path).inputValue();
const fresh = (prefix) => `${prefix}-${Date.now() % 100000}`;
const stored = (path) => hook('PAGE_TEST_GET', ...path.split('.'));
const typeIn = async (path, value) => { await field(path).fill(value); await field(path).press('Enter'); };
// Stores a value from outside the page and waits until the page shows it;
// numbers are compared as numbers, the page shows floats with their digits.
async function changeElsewhere(path, value) {
  await hook('PAGE_TEST_SET', ...path.split('.'), String(value));
  const shown = async () => (typeof value === 'number' ? Number(await shownValue(path)) : shownValue(path));
  await eventually(`${path} shows ${value}`, shown, value);
}

try {
  await check('the page loads and follows the service', async () => {
    await page.goto(base);
    await live();
  });
  // Every other check would only wait out its time.
  if (results.failed) throw new Error('the page did not load');

  await check('every memory is a group with all its variables', async () => {
    const tree = await readTree();
    const groups = await page.locator('details.memory').evaluateAll((elements) =>
      elements.map((element) => [element.dataset.memory, element.querySelector('.count').textContent]));
    const expected = Object.entries(tree).map(([memory, variables]) => [memory, String(Object.keys(variables).length)]);
    if (JSON.stringify(groups) !== JSON.stringify(expected)) throw new Error(`groups ${JSON.stringify(groups)}`);
  });

  const modem = 'MemStatic.ModemVersionString';
  await check('a text shows its stored value; one typed in reaches the device; one changed elsewhere then shows in that field, highlighted, without a reload', async () => {
    await openGroup('MemStatic');
    const [shown, held] = [await shownValue(modem), await stored(modem)];
    if (shown !== held) throw new Error(`shows ${JSON.stringify(shown)}, stored ${JSON.stringify(held)}`);
    const value = fresh('typed');
    await typeIn(modem, value);
    await eventually('the device holds the typed text', () => stored(modem), value);
    await page.evaluate(() => { window.pageTestMark = true; });
    await changeElsewhere(modem, fresh('outside'));
    if (!(await page.locator(`[data-var="${modem}"] .changed`).count())) throw new Error('the changed value is not highlighted');
    if (!(await page.evaluate(() => window.pageTestMark))) throw new Error('the page was reloaded');
  });

  await check('a choice made in a drop-down reaches the device', async () => {
    await openGroup('MemApp');
    const select = field('MemApp.AppGuiLogLevel');
    const options = await select.locator('option:not([disabled])').evaluateAll((list) => list.map((o) => o.value));
    const current = await select.inputValue();
    const wanted = options.find((option) => option !== current);
    await select.selectOption(wanted);
    await eventually('the device holds the choice', () => stored('MemApp.AppGuiLogLevel'), wanted);
  });

  await check('a 500-element list pages and writes one element field', async () => {
    await openGroup('MemCamera');
    const list = page.locator('[data-var="MemCamera.CamClipList0"] .list');
    await list.getByTitle('Next page').click();
    const tree = await readTree();
    const path = 'MemCamera.CamClipList0[21].CamClipName';
    const shown = await shownValue(path);
    const stored = tree.MemCamera.CamClipList0[21].CamClipName.value;
    if (shown !== stored) throw new Error(`element 21 shows ${JSON.stringify(shown)}, the tree holds ${JSON.stringify(stored)}`);
    if (await page.locator('[data-var="MemCamera.CamClipList0"] tbody tr').count() > 25) throw new Error('more than a page of rows');
    const value = fresh('clip');
    await typeIn(path, value);
    await eventually('the element holds the typed name',
      async () => (await readTree()).MemCamera.CamClipList0[21].CamClipName.value, value);
  });

  await check('lists inside structures are shown without editors', async () => {
    const group = await openGroup('MemLens');
    const editors = await group.locator('table.fields table.elements').locator('input, select').count();
    if (editors) throw new Error(`${editors} editors for values no write can address`);
  });

  await check('the page comes back by itself after the service restarts', async () => {
    await hook('PAGE_TEST_RESTART');
    await page.waitForSelector('#status[data-state="offline"]', { timeout: WAIT_MS });
    await live();
    await changeElsewhere(modem, fresh('after-restart'));
  });

  await check('the kernel log panel shows the log', async () => {
    await page.click('#log-refresh');
    await eventually('log text', async () => (await page.locator('#log-output').textContent()).trim().length > 0);
  });

  await check('the screen panel shows a capture', async () => {
    await page.click('#screen-capture');
    await eventually('a decoded image', () => page.locator('#screen-image').evaluate((image) => image.naturalWidth > 0));
  });

  await check('a pinned number\'s changes from elsewhere land in the Trends CSV in order with their times; pins survive a reload', async () => {
    const trends = page.getByRole('region', { name: 'Trends' });
    const pin = (name) => page.locator('details[data-memory="MemDynamic"]').getByRole('button', { name: `Chart ${name}`, exact: true });
    const legend = (name) => trends.locator('.u-legend', { hasText: `MemDynamic.${name}` }).waitFor({ timeout: WAIT_MS });
    await openGroup('MemDynamic');
    await pin('BattTemperature').click();
    const start = Number(await stored('MemDynamic.BattTemperature'));
    const changes = [];
    for (let i = 1; i <= 5; i++) {
      const [value, before] = [start + (start > 50 ? -1.25 : 1.25) * i, Date.now()];
      await changeElsewhere('MemDynamic.BattTemperature', value);
      changes.push([value, before, Date.now()]);
    }
    await pin('BattPercent').click();
    const [download] = await Promise.all([page.waitForEvent('download'), trends.getByRole('button', { name: /CSV/ }).click()]);
    const [header, ...rows] = (await readFile(await download.path(), 'utf8')).trim().split('\n').map((line) => line.split(','));
    if (header.join() !== 'time,MemDynamic.BattTemperature,MemDynamic.BattPercent') throw new Error(`header ${header}`);
    const kept = rows.filter((row) => row[1] !== '').slice(-5);
    changes.forEach(([value, before, after], i) => {
      const at = Date.parse(kept[i]?.[0]);
      if (Number(kept[i]?.[1]) !== value || !(at >= before && at <= after)) throw new Error(`change ${i + 1} of ${value} is kept as ${kept[i]}`);
    });
    await page.reload();
    await live();
    await openGroup('MemDynamic');
    for (const name of ['BattTemperature', 'BattPercent']) {
      if (await pin(name).getAttribute('aria-pressed') !== 'true') throw new Error(`${name} is no longer pinned`);
      await legend(name);
    }
  });

  await consoleChecks({ page, readDocument, check, hook, eventually });
  await phoneChecks({ page, check, output });

  await check('no script errors', async () => {
    if (pageErrors.length) throw new Error(pageErrors.join('; '));
  });

  await page.locator('details[data-memory="MemCamera"] summary').click();
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: join(output, 'page.png') });
} finally {
  await context.close();
  rmSync(profile, { recursive: true, force: true });
}

console.log(`screenshots in ${output}`);
console.log(`${results.passed} passed, ${results.failed} failed`);
process.exit(results.failed ? 1 : 0);
