// Browser checks of the console panels and of the page at a phone's width,
// run by browser-test.mjs with its page and helpers; one more hook:
//   PAGE_TEST_FILE   "$1" folder (lenstables, focusrings, setups), "$2" file
//                    name: prints the file's bytes as hex, fails without it

import { randomBytes } from 'node:crypto';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';

// An update run is the upload, the device's check and the install steps.
const UPDATE_WAIT_MS = 120_000;
const PHONE = { width: 390, height: 844 };
// The smallest height a control is comfortable to touch at.
const TOUCH_PX = 40;

export async function consoleChecks({ page, readDocument, check, hook, eventually }) {
  const region = (name) => page.getByRole('region', { name });
  const deviceInfo = () => readDocument('zelapp/v1/device/info');

  await check('the device panel shows the device and its accessories', async () => {
    const info = await deviceInfo();
    const panel = region('Device');
    await panel.locator('dd[data-field="_id"]', { hasText: info._id }).waitFor();
    const shown = await panel.locator('table.accessories td[data-field="_id"]').allTextContents();
    const expected = info.devices.map((device) => device._id);
    if (shown.join() !== expected.join()) throw new Error(`accessories shown: ${JSON.stringify(shown)}`);
    const targets = await region('Firmware update').getByLabel('Target').locator('option').evaluateAll((options) =>
      options.map((option) => option.value));
    if (targets.join() !== [info._id, ...expected].join()) throw new Error(`targets: ${JSON.stringify(targets)}`);
  });

  await check('an 8 MB firmware upload shows the bytes sent, runs to Success and refreshes the device panel', async () => {
    const size = 8 * 1024 * 1024;
    const panel = region('Firmware update');
    await panel.getByLabel('Target').selectOption((await deviceInfo())._id);
    await panel.getByLabel('Firmware file').setInputFiles({ name: 'firmware.swu', mimeType: 'application/octet-stream', buffer: randomBytes(size) });
    await page.evaluate(() => {
      const bar = document.getElementById('firmware-sent');
      window.pageTestSent = [];
      new MutationObserver(() => window.pageTestSent.push(bar.value)).observe(bar, { attributes: true, attributeFilter: ['value'] });
      window.pageTestDeviceFacts = document.querySelector('#device-body dl');
    });
    await panel.getByRole('button', { name: 'Upload' }).click();
    await page.waitForFunction(() => ['success', 'failed'].includes(document.getElementById('firmware-status').dataset.outcome),
      null, { timeout: UPDATE_WAIT_MS });
    const [outcome, text] = [await panel.getByRole('status').getAttribute('data-outcome'), await panel.getByRole('status').textContent()];
    if (outcome !== 'success' || !text.includes('Success')) throw new Error(`the run ended with "${text}"`);
    const [sent, max] = [await page.evaluate(() => window.pageTestSent), await page.locator('#firmware-sent').evaluate((bar) => bar.max)];
    if (max < size || sent.at(-1) !== max) throw new Error(`the bar ended at ${sent.at(-1)} of ${max} bytes`);
    if (sent.some((value, i) => i > 0 && value < sent[i - 1])) throw new Error(`the bar went back: ${sent}`);
    await page.waitForFunction(() => document.querySelector('#device-body dl') !== window.pageTestDeviceFacts);
  });

  await check('a lens table added through the page is listed, downloads as sent, and is deleted from the device after confirming', async () => {
    const panel = region('Files');
    const name = `page-test-${Date.now() % 100000}.tab`;
    const content = randomBytes(3000); // any bytes, not only text
    const onDevice = () => hook('PAGE_TEST_FILE', 'lenstables', name).then((hex) => hex.replace(/\s/g, ''), () => null);
    await panel.getByLabel('Kind').selectOption('lenstables');
    await panel.getByLabel('Add file').setInputFiles({ name, mimeType: 'application/octet-stream', buffer: content });
    const link = panel.getByRole('link', { name, exact: true });
    await link.waitFor();
    await eventually('the device holds the bytes sent', onDevice, content.toString('hex'));

    const [download] = await Promise.all([page.waitForEvent('download'), link.click()]);
    const downloaded = await readFile(await download.path());
    if (!downloaded.equals(content)) throw new Error(`the download differs (${downloaded.length} bytes)`);

    const remove = panel.getByRole('button', { name: `Delete ${name}`, exact: true });
    page.once('dialog', (dialog) => dialog.dismiss());
    await remove.click();
    if ((await onDevice()) === null || !(await link.isVisible())) throw new Error('deleted without confirmation');
    page.once('dialog', (dialog) => dialog.accept());
    await remove.click();
    await link.waitFor({ state: 'detached' });
    await eventually('the file is gone from the device', onDevice, null);
  });
}

// At a phone's width, with the console panels, the Trends panel (numbers
// pinned) and one memory group after the other open: nothing runs off the
// right edge, and the controls are big enough to touch. Leaves a screenshot
// of the phone's view in the output folder.
export async function phoneChecks({ page, check, output }) {
  const desktop = page.viewportSize();
  await page.setViewportSize(PHONE);
  try {
    await check(`at ${PHONE.width}x${PHONE.height} no memory group makes the page wider than the screen`, async () => {
      const wide = [];
      for (const group of await page.locator('details.memory').all()) {
        const wasOpen = await group.evaluate((element) => element.open);
        await group.evaluate((element) => { element.open = true; });
        await group.locator('table.variables').waitFor();
        const width = await page.evaluate(() => document.documentElement.scrollWidth);
        if (width > PHONE.width) wide.push(`${await group.getAttribute('data-memory')} (${width} px)`);
        await group.evaluate((element, open) => { element.open = open; }, wasOpen);
      }
      if (wide.length) throw new Error(`too wide with ${wide.join(', ')}`);
    });

    await check('at a phone\'s width the console\'s controls are big enough to touch', async () => {
      const small = await page.locator('#console :is(button, select, input)').evaluateAll((controls, least) =>
        controls.filter((control) => control.getBoundingClientRect().height < least).map((control) => control.id || control.textContent),
      TOUCH_PX);
      if (small.length) throw new Error(`small controls: ${small.join(', ')}`);
    });

    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: join(output, 'page-phone.png') });
  } finally {
    await page.setViewportSize(desktop);
  }
}
